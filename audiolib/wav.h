// The WAV reader: RIFF WAVE files of PCM, IEEE float or extensible format, channel 0.
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

struct WavHeader {
    std::uint16_t format_tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint16_t bits_per_sample = 0;
    std::size_t frames = 0;  // 0 when a sample is narrower than a byte
};

std::expected<RawAudio, AudioError> read_wav(const std::string& path);
std::expected<RawAudio, AudioError> read_wav_bytes(std::span<const std::byte> data);
// The path and in-memory readers share this.
std::expected<RawAudio, AudioError> read_wav(ByteSource& source);

}  // namespace corvala::audiolib
