// The bare direct-form-I loops that the biquad effects are measured against: the same arithmetic
// in both orders of operations, with nothing around them (no parsing, copies or dispatch).
//   divide_f32:      y = (b0·x + b1·x1 + b2·x2 − a1·y1 − a2·y2) / a0 on every sample, output
//                    clamped to [-1, 1]; the division sits on the recursion's critical path.
//   predivided_i32:  the coefficients divided by a0 once, output rounded half away from zero
//                    and saturated to int32.
// Built by bench/run.py as a program (prints ns/sample for both loops) and as a shared library
// (the same loops called through ctypes, timed beside the effects).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

extern "C" {

// c = {b0, b1, b2, a0, a1, a2}
void divide_f32(const float* in, float* out, std::size_t n, const double* c) {
    const double b0 = c[0], b1 = c[1], b2 = c[2], a0 = c[3], a1 = c[4], a2 = c[5];
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = in[i];
        const double y = (b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2) / a0;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        out[i] = static_cast<float>(std::clamp(y, -1.0, 1.0));
    }
}

void predivided_i32(const std::int32_t* in, std::int32_t* out, std::size_t n, const double* c) {
    const double b0 = c[0] / c[3], b1 = c[1] / c[3], b2 = c[2] / c[3], a1 = c[4] / c[3], a2 = c[5] / c[3];
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = in[i];
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        const double t = std::clamp(y + std::copysign(0.5, y), -2147483648.0, 2147483647.0);
        out[i] = static_cast<std::int32_t>(t);
    }
}

}  // extern "C"

namespace {

template <typename F>
double best_ns_per_sample(F&& run, std::size_t n, int rounds) {
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / static_cast<double>(n));
    }
    return best;
}

}  // namespace

int main() {
    // 60 s at 16 kHz of uniform noise at -10 dBFS, through `equalizer 1k 2q -6`.
    const std::size_t n = 60 * 16000;
    std::vector<float> xf(n), yf(n);
    std::vector<std::int32_t> xi(n), yi(n);
    std::uint64_t s = 0x9e3779b97f4a7c15u;
    for (std::size_t i = 0; i < n; ++i) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        const double u = static_cast<double>(s >> 11) * 0x1p-53 * 2.0 - 1.0;
        xf[i] = static_cast<float>(0.3 * u);
        xi[i] = static_cast<std::int32_t>(0.3 * u * 2147483648.0);
    }
    const double w = 2.0 * std::numbers::pi * 1000.0 / 16000.0;
    const double A = std::pow(10.0, -6.0 / 40.0), alpha = std::sin(w) / (2.0 * 2.0), cw = std::cos(w);
    const double c[6] = {1 + alpha * A, -2 * cw, 1 - alpha * A, 1 + alpha / A, -2 * cw, 1 - alpha / A};

    const double f = best_ns_per_sample([&] { divide_f32(xf.data(), yf.data(), n, c); }, n, 15);
    const double i = best_ns_per_sample([&] { predivided_i32(xi.data(), yi.data(), n, c); }, n, 15);
    std::printf("bare direct-form-I loop, division per sample (float path order): %.2f ns/sample\n", f);
    std::printf("bare direct-form-I loop, pre-divided coefficients (int path order): %.2f ns/sample\n", i);
    // Keeps the outputs observable.
    return yf[n - 1] == 2.0f && yi[n - 1] == 7 ? 1 : 0;
}
