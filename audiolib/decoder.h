// Decoding through FFmpeg for every file the library's own readers do not take.
#pragma once

#include <expected>
#include <string>

#include "audiolib/audio_error.h"
#include "audiolib/raw_audio.h"

namespace corvala::audiolib {

// Channel 0 of the file's default audio track at that track's rate. The file is opened here and
// handed to the demuxer as a stream of its own bytes; nothing else can be opened from it.
std::expected<RawAudio, AudioError> decode_with_library(const std::string& path);

}  // namespace corvala::audiolib
