// The chain runner: applies a parsed chain to one buffer of mono samples, effect after effect.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "ext/audio/effect_error.h"
#include "ext/audio/effect_spec.h"
#include "ext/audio/effects/chain_state.h"
#include "ext/audio/samples.h"

namespace corvala::audio {

// Copies the samples into a new contiguous working buffer in logical order, failing at the
// first NaN or infinity.
std::expected<SampleBuffer<float>, EffectError> copy_finite_samples(SampleView<float> view);
SampleBuffer<std::int32_t> copy_samples(SampleView<std::int32_t> view);

std::expected<SampleBuffer<float>, EffectError> apply_chain_f32(SampleBuffer<float> buffer, EffectList effects);
std::expected<SampleBuffer<std::int32_t>, EffectError> apply_chain_i32(SampleBuffer<std::int32_t> buffer,
                                                                       EffectList effects);

}  // namespace corvala::audio
