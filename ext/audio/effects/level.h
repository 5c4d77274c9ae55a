// Level and simple effects: gain, vol, dcshift, contrast, overdrive, tremolo, fade, reverse.
// Each has a float and an int32 path; where a float path works on integer values it converts
// every sample through int32 and back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>

#include "ext/audio/effect_error.h"
#include "ext/audio/effect_spec.h"
#include "ext/audio/effects/chain_state.h"
#include "ext/audio/samples.h"

namespace corvala::audio::effects {

void gain(const GainParams& p, SampleBuffer<float>& buffer, ChainState& state);
void gain(const GainParams& p, SampleBuffer<std::int32_t>& buffer, ChainState& state);

void vol(const VolParams& p, SampleBuffer<float>& buffer);
void vol(const VolParams& p, SampleBuffer<std::int32_t>& buffer);

void dcshift(const DcshiftParams& p, SampleBuffer<float>& buffer);
void dcshift(const DcshiftParams& p, SampleBuffer<std::int32_t>& buffer);

void contrast(const ContrastParams& p, SampleBuffer<float>& buffer);
void contrast(const ContrastParams& p, SampleBuffer<std::int32_t>& buffer);

void overdrive(const OverdriveParams& p, SampleBuffer<float>& buffer);
void overdrive(const OverdriveParams& p, SampleBuffer<std::int32_t>& buffer);

void tremolo(const TremoloParams& p, SampleBuffer<float>& buffer);
void tremolo(const TremoloParams& p, SampleBuffer<std::int32_t>& buffer);

// Fails only when the stop position asks for a buffer longer than MAX_FADE_SAMPLES.
inline constexpr std::uint64_t MAX_FADE_SAMPLES = 2147483647;
std::expected<void, EffectError> fade(const FadeParams& p, SampleBuffer<float>& buffer);
std::expected<void, EffectError> fade(const FadeParams& p, SampleBuffer<std::int32_t>& buffer);

template <typename T>
void reverse(SampleBuffer<T>& buffer) {
    std::reverse(buffer.begin(), buffer.end());
}

}  // namespace corvala::audio::effects
