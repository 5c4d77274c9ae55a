// gain: scaling by a dB value, with normalisation, a soft limiter, and a headroom register that
// a later gain in the same chain can reclaim.
#include <algorithm>
#include <cmath>

#include "ext/audio/effects/level.h"
#include "ext/audio/effects/sample_map.h"

namespace corvala::audio::effects {

namespace {

// The double nearest 1/(2^31 - 1).
constexpr double INV_I32_FULL_SCALE = 4.656612875245797e-10;

double peak(const SampleBuffer<float>& buffer) {
    float m = 0.0f;
    for (const float x : buffer) m = std::max(m, std::fabs(x));
    return m;
}

double peak(const SampleBuffer<std::int32_t>& buffer) {
    double m = 0.0;
    for (const std::int32_t n : buffer) m = std::max(m, std::fabs(static_cast<double>(n)));
    return m / 2147483647.0;
}

template <typename T>
void apply_gain(const GainParams& p, SampleBuffer<T>& buffer, ChainState& state) {
    const double g = std::pow(10.0, p.gain_db / 20.0);
    if (p.headroom) {
        state.headroom = g;
        return;
    }
    double s = g;
    if (p.normalize) {
        const double P = peak(buffer);
        s = P > 0.0 ? g / P : 0.0;
    }
    if (p.reclaim) {
        const double P = peak(buffer);
        const double H = state.headroom;
        s = P > 0.0 ? g * std::min(1.0 / H, 1.0 / P) : g / H;
        state.headroom = 1.0;
    }
    if (p.limiter) {
        // Maps full scale to full scale and keeps small samples at gain s.
        const double c = s == 0.0 ? 0.0 : (1.0 - 1.0 / s) * INV_I32_FULL_SCALE;
        map_int_samples(buffer, [s, c](std::int32_t n) {
            const double v = s * static_cast<double>(n);
            if (v > 0.0) return round_saturate_i32(1.0 / (1.0 / v + c));
            if (v < 0.0) return round_saturate_i32(1.0 / (1.0 / v - c));
            return std::int32_t{0};
        });
        return;
    }
    if (buffer.empty() || s == 1.0) {
        return;
    }
    map_rounded(buffer, Scale{s});
}

}  // namespace

void gain(const GainParams& p, SampleBuffer<float>& buffer, ChainState& state) { apply_gain(p, buffer, state); }

void gain(const GainParams& p, SampleBuffer<std::int32_t>& buffer, ChainState& state) {
    apply_gain(p, buffer, state);
}

}  // namespace corvala::audio::effects
