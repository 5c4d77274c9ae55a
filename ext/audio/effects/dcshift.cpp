// dcshift: adds a constant, optionally limiting the samples that the shift would push past
// full scale. Works on integer values in both paths.
#include <cmath>

#include "ext/audio/effects/level.h"
#include "ext/audio/effects/sample_map.h"

namespace corvala::audio::effects {

namespace {

template <typename Sample>
void apply_dcshift(const DcshiftParams& p, SampleBuffer<Sample>& buffer) {
    const double S = p.shift;
    if (S == 0.0 && !p.limiter_gain) return;
    if (!p.limiter_gain) {
        map_rounded(buffer, Shift{S * 2147483648.0});
        return;
    }
    constexpr double M = 2147483647.0;
    const double L = *p.limiter_gain;
    const double T = (L - std::fabs(S) + 1.0) * M;
    const bool degenerate = std::fabs(M - T) < 1e-15;
    // The limited branches add the shift as the plain parameter value, unscaled.
    map_int_samples(buffer, [=](std::int32_t sample) {
        const double n = static_cast<double>(sample);
        double y;
        if (!degenerate && S > 0.0 && n > T) {
            y = S + T + L * (n - T) / (M - T);
        } else if (!degenerate && S < 0.0 && n < -T) {
            y = S + L * (n + T) / (M - T) - T;
        } else {
            y = n + S * M;
        }
        return round_saturate_i32(y);
    });
}

}  // namespace

void dcshift(const DcshiftParams& p, SampleBuffer<float>& buffer) { apply_dcshift(p, buffer); }
void dcshift(const DcshiftParams& p, SampleBuffer<std::int32_t>& buffer) { apply_dcshift(p, buffer); }

}  // namespace corvala::audio::effects
