// The floor for asl_p56: the two cascaded float32 one-pole smoothers of its envelope at 16 kHz,
// interleaved in one pass, with nothing else. Their recursions are sequential, so the loop is bound
// by the latency of one multiply and one add per sample.
// Built by bench/run.py as a program and as a shared library (the loop called through ctypes,
// timed beside asl_p56):
//   smoother_loop FILE [SECONDS]   FILE holds raw float32 samples; prints the best time of one
//                                  pass over passes repeated for about SECONDS (default 0.5).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" [[gnu::noinline]] float smoother_loop(const float* x, std::size_t n) {
    const float g = std::exp(-1.0f / (16000.0f * 0.03f));
    const float gc = 1.0f - g;
    float p = 0.0f;
    float q = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        p = g * p + gc * std::fabs(x[i]);
        q = g * q + gc * p;
    }
    return q;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [SECONDS]\n", argv[0]);
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "rb");
    if (f == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<float> x;
    float chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, sizeof(float), 4096, f)) > 0;) {
        x.insert(x.end(), chunk, chunk + got);
    }
    std::fclose(f);
    const double budget = argc > 2 ? std::atof(argv[2]) : 0.5;

    volatile float sink = 0.0f;
    double best = 1e30;
    const auto begin = std::chrono::steady_clock::now();
    do {
        const auto start = std::chrono::steady_clock::now();
        sink = smoother_loop(x.data(), x.size());
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    } while (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() < budget);
    (void)sink;
    std::printf("smoother_loop: %.1f us per pass over %zu samples (%.3f ns/sample)\n", best * 1e6, x.size(),
                best * 1e9 / static_cast<double>(std::max<std::size_t>(x.size(), 1)));
    return 0;
}
