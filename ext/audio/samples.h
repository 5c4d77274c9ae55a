// Sample buffers, views of caller memory, and the conversions between float and int32 samples.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace corvala::audio {

inline constexpr double EFFECT_SAMPLE_RATE = 16000.0;

// Leaves new elements uninitialised: working buffers are always filled right after they grow,
// and zeroing them first would cost a pass over memory.
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    using std::allocator<T>::allocator;
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T>
using SampleBuffer = std::vector<T, DefaultInitAllocator<T>>;

// A read-only one-dimensional view of samples that may be strided (negative strides included)
// or unaligned; element i is at data + i * byte_stride.
template <typename T>
struct SampleView {
    const std::byte* data = nullptr;
    std::size_t length = 0;
    std::ptrdiff_t byte_stride = sizeof(T);

    T operator[](std::size_t i) const {
        T v;
        std::memcpy(&v, data + static_cast<std::ptrdiff_t>(i) * byte_stride, sizeof(T));
        return v;
    }
    bool contiguous() const { return byte_stride == static_cast<std::ptrdiff_t>(sizeof(T)); }
};

// Rounds half away from zero (add or subtract 0.5, then truncate) and saturates to int32;
// NaN, which no comparison orders, maps to 0. Written without branches so that sample loops
// vectorise: clamping the biased value to the int32 range before truncating gives the same
// result as comparing v with the saturation thresholds first.
inline std::int32_t round_saturate_i32(double v) {
    double t = v + std::copysign(0.5, v);
    t = t < -2147483648.0 ? -2147483648.0 : t;
    t = t > 2147483647.0 ? 2147483647.0 : t;
    t = v == v ? t : 0.0;
    return static_cast<std::int32_t>(t);
}

inline std::int32_t float_to_i32_sample(float x) {
    return round_saturate_i32(static_cast<double>(x) * 2147483648.0);
}

inline float i32_to_float_sample(std::int32_t n) {
    return static_cast<float>(n) * 0x1p-31f;
}

// Applies an integer per-sample function to a buffer: directly to int32 samples, and to float
// samples through float_to_i32_sample and back through i32_to_float_sample.
template <typename F>
void map_int_samples(SampleBuffer<std::int32_t>& buffer, F&& fn) {
    for (std::int32_t& n : buffer) n = fn(n);
}
template <typename F>
void map_int_samples(SampleBuffer<float>& buffer, F&& fn) {
    for (float& x : buffer) x = i32_to_float_sample(fn(float_to_i32_sample(x)));
}

}  // namespace corvala::audio
