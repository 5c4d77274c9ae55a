// The SPHERE reader: NIST 1024-byte text header, mono 8-bit or 16-bit pcm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audiolib/audio_error.h"
#include "audiolib/byte_source.h"
#include "audiolib/raw_audio.h"

namespace corvala::audiolib {

struct SphereHeader {
    std::vector<std::u32string> lines;  // non-empty, trailing white space removed
    std::uint32_t sample_rate = 0;
    std::uint64_t sample_count = 0;
    std::uint64_t sample_n_bytes = 0;
    std::uint64_t channel_count = 0;
    std::string sample_byte_format = "01";
    std::string sample_coding = "pcm";
};

std::expected<RawAudio, AudioError> read_sphere(const std::string& path);
std::expected<RawAudio, AudioError> read_sphere_bytes(std::span<const std::byte> data);
std::expected<RawAudio, AudioError> read_sphere(ByteSource& source);

}  // namespace corvala::audiolib
