// fade: fade-in from the start and fade-out before a stop position, which may also cut or pad
// the buffer.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "ext/audio/effects/level.h"
#include "ext/audio/parser/format.h"

namespace corvala::audio::effects {

namespace {

constexpr std::uint64_t SATURATED = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) { return a > SATURATED - b ? SATURATED : a + b; }

// A non-negative double as a count, saturating instead of overflowing.
std::uint64_t to_count(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return SATURATED;
    return static_cast<std::uint64_t>(x);
}

std::uint64_t position(const TimeSpec& t) {
    if (t.seconds == 0.0) return t.samples;
    const double scaled = t.seconds * EFFECT_SAMPLE_RATE;
    if (t.samples == 0) return to_count(std::trunc(scaled + 0.5));
    // Seconds are never negative, so samples + round(seconds) never goes below zero.
    return saturating_add(t.samples, to_count(std::round(scaled)));
}

double shape_value(FadeShape shape, double r) {
    switch (shape) {
        case FadeShape::quarter_sine: return std::sin(std::numbers::pi / 2.0 * r);
        case FadeShape::half_sine: return (1.0 - std::cos(std::numbers::pi * r)) / 2.0;
        case FadeShape::logarithmic: return std::pow(0.1, 5.0 * (1.0 - r));
        case FadeShape::linear: return r;
        case FadeShape::parabola: return 1.0 - (1.0 - r) * (1.0 - r);
    }
    return r;
}

void scale(float& x, double f) { x *= static_cast<float>(f); }
void scale(std::int32_t& n, double f) { n = round_saturate_i32(f * static_cast<double>(n)); }

template <typename T>
std::expected<void, EffectError> apply_fade(const FadeParams& p, SampleBuffer<T>& buffer) {
    const std::uint64_t N = buffer.size();
    const std::uint64_t A = position(p.fade_in);
    std::uint64_t E = N;
    if (p.stop) {
        const std::uint64_t at = position(p.stop->position);
        switch (p.stop->anchor) {
            case FadeAnchor::absolute: E = at; break;
            case FadeAnchor::after_fade_in: E = saturating_add(A, at); break;
            case FadeAnchor::before_end: E = at > N ? 0 : N - at; break;
        }
        if (E == 0) E = N;
    }
    const std::uint64_t B = p.fade_out ? position(*p.fade_out) : 0;
    if (E > MAX_FADE_SAMPLES) {
        return std::unexpected(EffectError::input(
            format("fade stop position at sample {} is beyond the longest supported buffer of {} samples", E,
                   MAX_FADE_SAMPLES)));
    }

    buffer.resize(E);
    if (E > N) std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(N), buffer.end(), T{0});

    const std::uint64_t fade_in_end = std::min(E, A);
    for (std::uint64_t i = 0; i < fade_in_end; ++i) {
        scale(buffer[i], shape_value(p.shape, std::min(static_cast<double>(i) / static_cast<double>(A), 1.0)));
    }
    // Positions at or past E are not faded, so only the first E - s0 steps of the fade-out count.
    const std::uint64_t s0 = B > E ? 0 : E - B;
    const std::uint64_t steps = std::min(B, E - s0);
    for (std::uint64_t k = 0; k < steps; ++k) {
        const double r = std::min(static_cast<double>(B - k) / static_cast<double>(B), 1.0);
        scale(buffer[s0 + k], shape_value(p.shape, r));
    }
    return {};
}

}  // namespace

std::expected<void, EffectError> fade(const FadeParams& p, SampleBuffer<float>& buffer) { return apply_fade(p, buffer); }
std::expected<void, EffectError> fade(const FadeParams& p, SampleBuffer<std::int32_t>& buffer) {
    return apply_fade(p, buffer);
}

}  // namespace corvala::audio::effects
