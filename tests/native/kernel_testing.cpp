// Kernel internals for benchmarks: the cost of a source-audio cache hit.
#include <array>
#include <chrono>
#include <cstdint>

#include "ext/kernel/source_cache.h"
#include "ext/py/args.h"
#include "ext/py/convert.h"
#include "ext/py/registry.h"
#include "tests/native/testing.h"

namespace corvala::testing {
namespace {

constexpr py::Parameter HIT_PARAMS[] = {{"iterations"}};

// Nanoseconds per hit on a resident entry, as realize sees it (lookup, clock, reference).
PyObject* source_cache_hit_ns(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature sig{"source_cache_hit_ns", HIT_PARAMS};
    PyObject* a[1];
    std::uint64_t iterations = 0;
    if (!py::bind(sig, args, nargs, kwnames, a) || !py::arg(a[0], "iterations", iterations)) return nullptr;
    const std::unordered_map<std::int64_t, std::string> paths{{1, "a.wav"}};
    const kernel::SourceLoader load = [](const std::string&) -> std::expected<audio::SampleBuffer<float>, std::string> {
        return audio::SampleBuffer<float>(16000, 0.0f);
    };
    kernel::SourceAudioCache cache(1 << 20);
    if (!cache.get(1, paths, load)) return py::raise_native_fault("cache miss failed");
    std::size_t checksum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < iterations; ++i) checksum += (*cache.get(1, paths, load))->size();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (checksum != iterations * 16000) return py::raise_native_fault("cache hit returned the wrong buffer");
    const double ns = std::chrono::duration<double, std::nano>(elapsed).count();
    return PyFloat_FromDouble(iterations ? ns / static_cast<double>(iterations) : 0.0);
}

constexpr std::array FUNCTIONS{
    py::function<source_cache_hit_ns>("source_cache_hit_ns", "source_cache_hit_ns(iterations)\n--\n\n"),
};

}  // namespace

bool register_kernel(PyObject* module) { return py::add_functions(module, FUNCTIONS); }

}  // namespace corvala::testing
