// overdrive: a cubic soft clipper after a gain and a colour offset, followed by a DC blocker.
#include <algorithm>
#include <cmath>

#include "ext/audio/effects/level.h"

namespace corvala::audio::effects {

namespace {

struct Overdrive {
    double G;
    double C;
    double p = 0.0;  // previous shaped value
    double q = 0.0;  // previous output of the DC blocker

    double operator()(double x) {
        const double z = C + G * x;
        const double d = z < -1.0 ? -2.0 / 3.0 : (z > 1.0 ? 2.0 / 3.0 : z - z * z * z / 3.0);
        q = d - p + 0.995 * q;
        p = d;
        return 0.5 * x + 0.75 * q;
    }
};

}  // namespace

void overdrive(const OverdriveParams& p, SampleBuffer<float>& buffer) {
    const double G = std::pow(10.0, p.gain_db / 20.0);
    if (buffer.empty() || G == 1.0) return;
    Overdrive shape{G, p.color / 200.0};
    for (float& x : buffer) x = static_cast<float>(std::clamp(shape(static_cast<double>(x)), -1.0, 1.0));
}

void overdrive(const OverdriveParams& p, SampleBuffer<std::int32_t>& buffer) {
    const double G = std::pow(10.0, p.gain_db / 20.0);
    if (buffer.empty() || G == 1.0) return;
    Overdrive shape{G, p.color / 200.0};
    for (std::int32_t& n : buffer) {
        n = round_saturate_i32(shape(static_cast<double>(n) * 0x1p-31) * 2147483648.0);
    }
}

}  // namespace corvala::audio::effects
