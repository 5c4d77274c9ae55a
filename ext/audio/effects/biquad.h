// The biquad filter family: equalizer, highpass, lowpass, bandpass, bandreject, allpass, bass,
// treble and band. A design step turns the parameter record into coefficients; one direct-form-I
// loop per sample format runs them.
#pragma once

#include <cstdint>

#include "ext/audio/effect_spec.h"
#include "ext/audio/samples.h"

namespace corvala::audio::effects {

// `spec` is one of the biquad kinds.
void biquad(const EffectSpec& spec, SampleBuffer<float>& buffer);
void biquad(const EffectSpec& spec, SampleBuffer<std::int32_t>& buffer);

}  // namespace corvala::audio::effects
