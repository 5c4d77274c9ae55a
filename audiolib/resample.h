// One-shot sample-rate conversion of a mono float32 signal on libsoxr.
#pragma once

#include <cstdint>
#include <expected>
#include <mutex>

#include "audiolib/audio_error.h"
#include "ext/audio/samples.h"

namespace corvala::audiolib {

// Held only while a libsoxr instance is created, never while one processes.
extern std::mutex SOXR_LOCK;

std::expected<audio::SampleBuffer<float>, AudioError> resample_audio(audio::SampleView<float> input,
                                                                     std::uint32_t from_rate,
                                                                     std::uint32_t to_rate);

}  // namespace corvala::audiolib
