// The biquad filter family: equalizer, highpass, lowpass, bandpass, bandreject, allpass, bass,
// treble and band. A design step turns the parameter record into coefficients; one loop per
// filter form and sample format runs them over the buffer in place.
#pragma once

#include <cstdint>
#include <variant>

#include "ext/audio/effect_spec.h"
#include "ext/audio/samples.h"

namespace corvala::audio::effects {

// y = (b0·x + b1·x1 + b2·x2 − a1·y1 − a2·y2) / a0, coefficients as designed (not normalised).
struct DirectForm1 {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a0 = 1.0, a1 = 0.0, a2 = 0.0;
};

// y = a·y1 + gain·x, gain = 1 − a.
struct OnePoleLowpass {
    double a = 0.0, gain = 0.0;
};

// y = a·y1 + gain·(x − x1), gain = (1 + a)/2.
struct OnePoleHighpass {
    double a = 0.0, gain = 0.0;
};

// The two-pole resonator of `band`: y = g0·x − b1·y1 − b2·y2.
struct Resonator {
    double g0 = 0.0, b1 = 0.0, b2 = 0.0;
};

using BiquadDesign = std::variant<DirectForm1, OnePoleLowpass, OnePoleHighpass, Resonator>;

// `spec` is one of the biquad kinds.
BiquadDesign design_biquad(const EffectSpec& spec);

void biquad(const EffectSpec& spec, SampleBuffer<float>& buffer);
void biquad(const EffectSpec& spec, SampleBuffer<std::int32_t>& buffer);

}  // namespace corvala::audio::effects
