// Vectorised forms of the per-sample maps of the level effects, for maps whose arithmetic is a
// few double operations. Every lane computes exactly what the scalar code computes: the same
// double operations in the same order, the same rounding and saturation (round_saturate_i32),
// the same conversions; the scalar code handles the tail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ext/audio/samples.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvala::audio::effects {

#if defined(__SSE2__)

// round_saturate_i32 of two doubles: bias by +-0.5, clamp to the int32 range, NaN to 0, truncate.
inline __m128i round_saturate_i32x2(__m128d v) {
    const __m128d half = _mm_or_pd(_mm_and_pd(v, _mm_set1_pd(-0.0)), _mm_set1_pd(0.5));
    __m128d t = _mm_add_pd(v, half);
    t = _mm_max_pd(t, _mm_set1_pd(-2147483648.0));
    t = _mm_min_pd(t, _mm_set1_pd(2147483647.0));
    t = _mm_and_pd(t, _mm_cmpord_pd(v, v));
    return _mm_cvttpd_epi32(t);
}

// Lanes 0 and 1, and 2 and 3, of four int32 as doubles.
inline void to_doubles(__m128i n, __m128d& lo, __m128d& hi) {
    lo = _mm_cvtepi32_pd(n);
    hi = _mm_cvtepi32_pd(_mm_shuffle_epi32(n, _MM_SHUFFLE(1, 0, 3, 2)));
}

inline __m128i join(__m128i lo, __m128i hi) { return _mm_unpacklo_epi64(lo, hi); }

#endif

// n -> round_saturate_i32(op(n)) over int32 samples, and over float samples through int32
// (float_to_i32_sample before, i32_to_float_sample after). `op` maps a double to a double and
// has the same arithmetic for __m128d.
template <typename Op>
void map_rounded(SampleBuffer<std::int32_t>& buffer, const Op& op) {
    std::size_t i = 0;
    std::int32_t* data = buffer.data();
#if defined(__SSE2__)
    for (; i + 4 <= buffer.size(); i += 4) {
        __m128d lo, hi;
        to_doubles(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), lo, hi);
        const __m128i out = join(round_saturate_i32x2(op(lo)), round_saturate_i32x2(op(hi)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(data + i), out);
    }
#endif
    for (; i < buffer.size(); ++i) data[i] = round_saturate_i32(op(static_cast<double>(data[i])));
}

template <typename Op>
void map_rounded(SampleBuffer<float>& buffer, const Op& op) {
    std::size_t i = 0;
    float* data = buffer.data();
#if defined(__SSE2__)
    const __m128d scale_in = _mm_set1_pd(2147483648.0);
    const __m128 scale_out = _mm_set1_ps(0x1p-31f);
    for (; i + 4 <= buffer.size(); i += 4) {
        const __m128 x = _mm_loadu_ps(data + i);
        const __m128i n = join(round_saturate_i32x2(_mm_mul_pd(_mm_cvtps_pd(x), scale_in)),
                               round_saturate_i32x2(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), scale_in)));
        __m128d lo, hi;
        to_doubles(n, lo, hi);
        const __m128i y = join(round_saturate_i32x2(op(lo)), round_saturate_i32x2(op(hi)));
        _mm_storeu_ps(data + i, _mm_mul_ps(_mm_cvtepi32_ps(y), scale_out));
    }
#endif
    for (; i < buffer.size(); ++i) {
        data[i] = i32_to_float_sample(round_saturate_i32(op(static_cast<double>(float_to_i32_sample(data[i])))));
    }
}

// Scaling and shifting, the ops of gain and dcshift.
struct Scale {
    double s;
    double operator()(double n) const { return s * n; }
#if defined(__SSE2__)
    __m128d operator()(__m128d n) const { return _mm_mul_pd(_mm_set1_pd(s), n); }
#endif
};

struct Shift {
    double shift;
    double operator()(double n) const { return n + shift; }
#if defined(__SSE2__)
    __m128d operator()(__m128d n) const { return _mm_add_pd(n, _mm_set1_pd(shift)); }
#endif
};

}  // namespace corvala::audio::effects
