#include "ext/audio/effects/biquad.h"

namespace corvala::audio::effects {

void biquad(const EffectSpec& spec, SampleBuffer<float>& buffer) {
    (void)spec;
    (void)buffer;
}

void biquad(const EffectSpec& spec, SampleBuffer<std::int32_t>& buffer) {
    (void)spec;
    (void)buffer;
}

}  // namespace corvala::audio::effects
