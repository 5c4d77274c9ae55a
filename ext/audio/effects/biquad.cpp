// Design: the audio-equalizer cookbook biquads (peaking, high/low-pass, band-pass, notch,
// all-pass, low/high shelf), the one-pole high/low-pass and the two-pole resonator of `band`, all
// at EFFECT_SAMPLE_RATE and in double precision. Every expression keeps the order in which its
// formula is written, so that the coefficients are reproducible to the last bit.
//
// Loops: direct form I with state in locals. The float path divides the numerator sum by a0 on
// every sample; the int path divides the coefficients once. The two orders round differently and
// each path keeps its own. The recursion always runs on the unclamped, unrounded output.
#include "ext/audio/effects/biquad.h"

#include <cmath>
#include <cstddef>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvala::audio::effects {

namespace {

constexpr double HALF_LN_2 = 0.34657359027997264;
constexpr double DEFAULT_PASS_Q = 0.7071067811865476;

struct Angle {
    double w;
    double sin_w;
    double cos_w;
};

Angle angle_of(double frequency) {
    const double w = 2.0 * std::numbers::pi * frequency / EFFECT_SAMPLE_RATE;
    return {w, std::sin(w), std::cos(w)};
}

// α from a width; the s unit (shelf slope) follows the Q rule here, the shelves handle it apart.
double alpha_of(const Angle& g, double frequency, Width width) {
    switch (width.unit) {
        case WidthUnit::hz: return g.sin_w / (2.0 * frequency / width.value);
        case WidthUnit::khz: return g.sin_w / (2.0 * frequency / (1000.0 * width.value));
        case WidthUnit::octaves: return g.sin_w * std::sinh(HALF_LN_2 * width.value * g.w / g.sin_w);
        case WidthUnit::q:
        case WidthUnit::slope: break;
    }
    return g.sin_w / (2.0 * width.value);
}

double gain_factor(double gain_db) { return std::pow(10.0, gain_db / 40.0); }

DirectForm1 equalizer(const EqualizerParams& p) {
    const Angle g = angle_of(p.frequency);
    const double A = gain_factor(p.gain_db);
    const double alpha = alpha_of(g, p.frequency, p.width);
    const double c = g.cos_w;
    return {1.0 + alpha * A, -2.0 * c, 1.0 - alpha * A, 1.0 + alpha / A, -2.0 * c, 1.0 - alpha / A};
}

BiquadDesign pass(const PassParams& p, bool high) {
    const Angle g = angle_of(p.frequency);
    if (p.poles == 1) {
        const double a = std::exp(-g.w);
        if (high) return OnePoleHighpass{a, (1.0 + a) / 2.0};
        return OnePoleLowpass{a, 1.0 - a};
    }
    const double alpha = alpha_of(g, p.frequency, p.width.value_or(Width{DEFAULT_PASS_Q, WidthUnit::q}));
    const double c = g.cos_w;
    if (high) return DirectForm1{(1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
    return DirectForm1{(1.0 - c) / 2.0, 1.0 - c, (1.0 - c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
}

DirectForm1 bandpass(const BandpassParams& p) {
    const Angle g = angle_of(p.frequency);
    const double alpha = alpha_of(g, p.frequency, p.width);
    const double c = g.cos_w;
    if (p.constant_skirt) return {g.sin_w / 2.0, 0.0, -g.sin_w / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
    return {alpha, 0.0, -alpha, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
}

DirectForm1 bandreject(const BandrejectParams& p) {
    const Angle g = angle_of(p.frequency);
    const double alpha = alpha_of(g, p.frequency, p.width);
    const double c = g.cos_w;
    return {1.0, -2.0 * c, 1.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
}

DirectForm1 allpass(const AllpassParams& p) {
    const Angle g = angle_of(p.frequency);
    const double alpha = alpha_of(g, p.frequency, p.width);
    const double c = g.cos_w;
    return {1.0 - alpha, -2.0 * c, 1.0 + alpha, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
}

// A slope steeper than the shelf allows makes the square root's argument negative and every
// coefficient NaN; the output rules then give silence in both paths.
DirectForm1 shelf(const ShelfParams& p, bool treble) {
    const Angle g = angle_of(p.frequency);
    const double A = gain_factor(p.gain_db);
    const double alpha = p.width.unit == WidthUnit::slope
                             ? g.sin_w / 2.0 * std::sqrt((A + 1.0 / A) * (1.0 / p.width.value - 1.0) + 2.0)
                             : alpha_of(g, p.frequency, p.width);
    const double c = g.cos_w;
    const double k = 2.0 * std::sqrt(A) * alpha;
    if (treble) {
        return {A * ((A + 1.0) + (A - 1.0) * c + k), -2.0 * A * ((A - 1.0) + (A + 1.0) * c),
                A * ((A + 1.0) + (A - 1.0) * c - k), (A + 1.0) - (A - 1.0) * c + k,
                2.0 * ((A - 1.0) - (A + 1.0) * c), (A + 1.0) - (A - 1.0) * c - k};
    }
    return {A * ((A + 1.0) - (A - 1.0) * c + k), 2.0 * A * ((A - 1.0) - (A + 1.0) * c),
            A * ((A + 1.0) - (A - 1.0) * c - k), (A + 1.0) + (A - 1.0) * c + k,
            -2.0 * ((A - 1.0) + (A + 1.0) * c), (A + 1.0) + (A - 1.0) * c - k};
}

Resonator band(const BandParams& p) {
    const double f = p.frequency;
    const double width = p.width.value;
    double bw = width;  // h and s: Hz
    switch (p.width.unit) {
        case WidthUnit::q: bw = f / width; break;
        case WidthUnit::octaves: bw = 2.0 * f * std::sinh(HALF_LN_2 * width); break;
        case WidthUnit::khz: bw = 1000.0 * width; break;
        case WidthUnit::hz:
        case WidthUnit::slope: break;
    }
    const double b2 = std::exp(-2.0 * std::numbers::pi * bw / EFFECT_SAMPLE_RATE);
    const double b1 = -4.0 * b2 / (1.0 + b2) * angle_of(f).cos_w;
    const double g0 = p.noise ? std::sqrt((1.0 - b2) * ((1.0 + b2) * (1.0 + b2) - b1 * b1) / (1.0 + b2))
                              : (1.0 - b2) * std::sqrt(1.0 - b1 * b1 / (4.0 * b2));
    return {g0, b1, b2};
}

// ---- output rules ----

// y clamped to [-1, 1] and rounded to single precision. A NaN (only from a filter whose design or
// recursion has broken down) becomes 0, as round_saturate_i32 does in the int path, so that no NaN
// reaches the float output. minsd/maxsd keep the loop free of data-dependent branches, which
// mispredict on clipped signals (the loop took half as long again on clipped noise with them).
inline float clamp_unit(double y) {
#if defined(__SSE2__)
    __m128d v = _mm_set_sd(y);
    v = _mm_and_pd(v, _mm_cmpord_sd(v, v));
    v = _mm_min_sd(_mm_max_sd(v, _mm_set_sd(-1.0)), _mm_set_sd(1.0));
    return static_cast<float>(_mm_cvtsd_f64(v));
#else
    double v = y == y ? y : 0.0;
    v = v < -1.0 ? -1.0 : v;
    return static_cast<float>(v > 1.0 ? 1.0 : v);
#endif
}

inline void store(float& sample, double y) { sample = clamp_unit(y); }
inline void store(std::int32_t& sample, double y) { sample = round_saturate_i32(y); }

// ---- loops ----

void run(const DirectForm1& c, SampleBuffer<float>& buffer) {
    const double b0 = c.b0, b1 = c.b1, b2 = c.b2, a0 = c.a0, a1 = c.a1, a2 = c.a2;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    auto step = [&](double x) {
        const double y = (b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2) / a0;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    };
    // Each output is stored one step late, behind the next step of the recursion: the clamp then
    // never takes an FP unit ahead of the recursion, which runs at the latency of its division.
    float* const p = buffer.data();
    const std::size_t n = buffer.size();
    step(p[0]);
    for (std::size_t i = 1; i < n; ++i) {
        step(p[i]);
        p[i - 1] = clamp_unit(y2);
    }
    p[n - 1] = clamp_unit(y1);
}

void run(const DirectForm1& c, SampleBuffer<std::int32_t>& buffer) {
    const double b0 = c.b0 / c.a0, b1 = c.b1 / c.a0, b2 = c.b2 / c.a0;
    const double a1 = c.a1 / c.a0, a2 = c.a2 / c.a0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    auto step = [&](double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    };
    // Stored one step late, as in the float loop.
    std::int32_t* const p = buffer.data();
    const std::size_t n = buffer.size();
    step(p[0]);
    for (std::size_t i = 1; i < n; ++i) {
        step(p[i]);
        p[i - 1] = round_saturate_i32(y2);
    }
    p[n - 1] = round_saturate_i32(y1);
}

template <typename T>
void run(const OnePoleLowpass& c, SampleBuffer<T>& buffer) {
    const double a = c.a, gain = c.gain;
    double y1 = 0.0;
    for (T& sample : buffer) {
        const double y = a * y1 + gain * static_cast<double>(sample);
        y1 = y;
        store(sample, y);
    }
}

template <typename T>
void run(const OnePoleHighpass& c, SampleBuffer<T>& buffer) {
    const double a = c.a, gain = c.gain;
    double x1 = 0.0, y1 = 0.0;
    for (T& sample : buffer) {
        const double x = static_cast<double>(sample);
        const double y = a * y1 + gain * (x - x1);
        x1 = x;
        y1 = y;
        store(sample, y);
    }
}

template <typename T>
void run(const Resonator& c, SampleBuffer<T>& buffer) {
    const double g0 = c.g0, b1 = c.b1, b2 = c.b2;
    double y1 = 0.0, y2 = 0.0;
    for (T& sample : buffer) {
        const double y = g0 * static_cast<double>(sample) - b1 * y1 - b2 * y2;
        y2 = y1;
        y1 = y;
        store(sample, y);
    }
}

template <typename T>
void process(const EffectSpec& spec, SampleBuffer<T>& buffer) {
    if (buffer.empty()) return;  // the direct-form-I loops read the first sample before looping
    std::visit([&buffer](const auto& design) { run(design, buffer); }, design_biquad(spec));
}

}  // namespace

BiquadDesign design_biquad(const EffectSpec& spec) {
    using K = EffectKind;
    switch (spec.kind()) {
        case K::equalizer: return equalizer(spec.get<K::equalizer>());
        case K::highpass: return pass(spec.get<K::highpass>(), true);
        case K::lowpass: return pass(spec.get<K::lowpass>(), false);
        case K::bandpass: return bandpass(spec.get<K::bandpass>());
        case K::bandreject: return bandreject(spec.get<K::bandreject>());
        case K::allpass: return allpass(spec.get<K::allpass>());
        case K::bass: return shelf(spec.get<K::bass>(), false);
        case K::treble: return shelf(spec.get<K::treble>(), true);
        case K::band: return band(spec.get<K::band>());
        default: return DirectForm1{1.0, 0.0, 0.0, 1.0, 0.0, 0.0};  // not a filter: pass through
    }
}

void biquad(const EffectSpec& spec, SampleBuffer<float>& buffer) { process(spec, buffer); }

void biquad(const EffectSpec& spec, SampleBuffer<std::int32_t>& buffer) { process(spec, buffer); }

}  // namespace corvala::audio::effects
