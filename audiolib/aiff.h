// The AIFF reader: uncompressed AIFF (not AIFF-C), channel 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "audiolib/audio_error.h"
#include "audiolib/byte_source.h"
#include "audiolib/raw_audio.h"

namespace corvala::audiolib {

std::expected<RawAudio, AudioError> read_aiff(const std::string& path);
std::expected<RawAudio, AudioError> read_aiff_bytes(std::span<const std::byte> data);
std::expected<RawAudio, AudioError> read_aiff(ByteSource& source);

// The sample rate of a COMM chunk's 10-byte extended value; 0 for a zero exponent.
std::expected<std::uint32_t, AudioError> aiff_sample_rate(const std::byte* extended);

}  // namespace corvala::audiolib
