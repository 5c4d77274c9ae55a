// One channel of decoded audio and its rate.
#pragma once

#include <cstdint>

#include "ext/audio/samples.h"

namespace corvala::audiolib {

// Channel 0 of a file, one float32 per frame at nominal full scale +-1.0. The buffer type is the
// one the rest of the core passes around, so results move on without a copy.
struct RawAudio {
    audio::SampleBuffer<float> samples;
    std::uint32_t sample_rate = 0;  // Hz; 0 is possible from a malformed AIFF file
};

}  // namespace corvala::audiolib
