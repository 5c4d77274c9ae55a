// tremolo: amplitude modulation by a raised sine that starts at its maximum.
#include <cmath>
#include <numbers>

#include "ext/audio/effects/level.h"

namespace corvala::audio::effects {

namespace {

struct Modulation {
    double D;
    double f;
    double operator()(std::size_t i) const {
        return (1.0 - D) + D * std::sin(2.0 * std::numbers::pi * (f * static_cast<double>(i) / EFFECT_SAMPLE_RATE + 0.25));
    }
};

}  // namespace

void tremolo(const TremoloParams& p, SampleBuffer<float>& buffer) {
    const Modulation m{p.depth / 200.0, p.speed};
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] *= static_cast<float>(m(i));
}

void tremolo(const TremoloParams& p, SampleBuffer<std::int32_t>& buffer) {
    const Modulation m{p.depth / 200.0, p.speed};
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = round_saturate_i32(m(i) * static_cast<double>(buffer[i]));
    }
}

}  // namespace corvala::audio::effects
