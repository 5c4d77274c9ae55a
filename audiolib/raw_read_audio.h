// The front door for reading one audio file: a reader chosen by the file name's extension.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "audiolib/audio_error.h"
#include "audiolib/raw_audio.h"

namespace corvala::audiolib {

// The text after the last '.' of the final path component; none for "..", a name without '.',
// a name whose only '.' leads it (".profile"), or an extension that is not valid UTF-8.
std::optional<std::string_view> file_extension(std::string_view path);

// Channel 0 at the file's own rate: never resampled, never down-mixed.
std::expected<RawAudio, AudioError> raw_read_audio(const std::string& path);

}  // namespace corvala::audiolib
