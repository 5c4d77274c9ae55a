// vol: a linear gain (negative inverts), optionally with a limiter above a threshold.
#include <algorithm>
#include <cmath>

#include "ext/audio/effects/level.h"
#include "ext/audio/effects/sample_map.h"

namespace corvala::audio::effects {

namespace {

// Samples above the threshold T (compared before scaling) are limited towards full scale F
// instead of being scaled. When |gain| <= L no sample can exceed full scale, so none is limited.
struct Limiter {
    double gain;
    double L;
    double F;
    double T;

    Limiter(double gain_, double limiter_gain, double full_scale)
        : gain(gain_), L(limiter_gain), F(full_scale) {
        const double magnitude = std::fabs(gain);
        T = magnitude <= L ? F : std::clamp((1.0 - L) / (magnitude - L) * F, 0.0, F);
    }

    double operator()(double x) const {
        // A negative gain inverts the limited samples too, so the output never jumps sign.
        if (x > T) {
            const double y = F - L * (F - x);
            return gain < 0.0 ? -y : y;
        }
        if (x < -T) {
            const double y = -(F - L * (F + x));
            return gain < 0.0 ? -y : y;
        }
        return gain * x;
    }
};

}  // namespace

void vol(const VolParams& p, SampleBuffer<float>& buffer) {
    const double g = p.gain;
    if (!p.limiter_gain) {
        if (g == 1.0) return;
        for (float& x : buffer) x = static_cast<float>(std::clamp(g * static_cast<double>(x), -1.0, 1.0));
        return;
    }
    const Limiter limit(g, *p.limiter_gain, 1.0);
    for (float& x : buffer) x = static_cast<float>(std::clamp(limit(static_cast<double>(x)), -1.0, 1.0));
}

void vol(const VolParams& p, SampleBuffer<std::int32_t>& buffer) {
    const double g = p.gain;
    if (!p.limiter_gain) {
        if (g == 1.0) return;
        map_rounded(buffer, Scale{g});
        return;
    }
    const Limiter limit(g, *p.limiter_gain, 2147483647.0);
    for (std::int32_t& n : buffer) n = round_saturate_i32(limit(static_cast<double>(n)));
}

}  // namespace corvala::audio::effects
