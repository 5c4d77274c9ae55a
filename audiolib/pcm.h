// Channel 0 of interleaved fixed-size frames, read block by block into an output allocated once.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <vector>

#include "audiolib/audio_error.h"
#include "audiolib/byte_source.h"
#include "ext/audio/samples.h"

namespace corvala::audiolib::pcm {

inline std::uint16_t le16(const std::byte* p) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[0]) | std::to_integer<unsigned>(p[1]) << 8);
}
inline std::uint32_t le32(const std::byte* p) {
    return std::to_integer<std::uint32_t>(p[0]) | std::to_integer<std::uint32_t>(p[1]) << 8 |
           std::to_integer<std::uint32_t>(p[2]) << 16 | std::to_integer<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t be16(const std::byte* p) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[0]) << 8 | std::to_integer<unsigned>(p[1]));
}
inline std::uint32_t be32(const std::byte* p) {
    return std::to_integer<std::uint32_t>(p[0]) << 24 | std::to_integer<std::uint32_t>(p[1]) << 16 |
           std::to_integer<std::uint32_t>(p[2]) << 8 | std::to_integer<std::uint32_t>(p[3]);
}
inline std::uint64_t le64(const std::byte* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}
// A 24-bit value in the top of an int32, shifted back down with its sign.
inline std::int32_t sign_extend24(std::uint32_t v) { return static_cast<std::int32_t>(v << 8) >> 8; }

// Sample converters: the bytes of one stored sample to its float value. The scale factors are
// powers of two, so every product is exact apart from the int32 to float rounding.
struct U8Offset {  // WAV 8-bit: unsigned, 128 is zero
    static constexpr std::size_t bytes = 1;
    float operator()(const std::byte* p) const {
        return static_cast<float>(std::to_integer<int>(p[0]) - 128) * 0x1p-7f;
    }
};
struct S8 {  // AIFF 8-bit: signed
    static constexpr std::size_t bytes = 1;
    float operator()(const std::byte* p) const {
        return static_cast<float>(static_cast<std::int8_t>(std::to_integer<std::uint8_t>(p[0]))) * 0x1p-7f;
    }
};
struct U8NoOffset {  // SPHERE 1-byte pcm: unsigned, without an offset
    static constexpr std::size_t bytes = 1;
    float operator()(const std::byte* p) const { return static_cast<float>(std::to_integer<int>(p[0])) * 0x1p-7f; }
};
struct S16LE {
    static constexpr std::size_t bytes = 2;
    float operator()(const std::byte* p) const {
        return static_cast<float>(static_cast<std::int16_t>(le16(p))) * 0x1p-15f;
    }
};
struct S16BE {
    static constexpr std::size_t bytes = 2;
    float operator()(const std::byte* p) const {
        return static_cast<float>(static_cast<std::int16_t>(be16(p))) * 0x1p-15f;
    }
};
// Reads the byte after the sample too, so only for frames of two or more samples.
struct S24LEInFrame {
    static constexpr std::size_t bytes = 3;
    float operator()(const std::byte* p) const {
        return static_cast<float>(static_cast<std::int32_t>(le32(p) << 8) >> 8) * 0x1p-23f;
    }
};
struct S24BEInFrame {
    static constexpr std::size_t bytes = 3;
    float operator()(const std::byte* p) const {
        return static_cast<float>(static_cast<std::int32_t>(be32(p)) >> 8) * 0x1p-23f;
    }
};
struct S24LE {
    using InFrame = S24LEInFrame;
    static constexpr std::size_t bytes = 3;
    float operator()(const std::byte* p) const {
        const std::uint32_t v = std::to_integer<std::uint32_t>(p[0]) | std::to_integer<std::uint32_t>(p[1]) << 8 |
                                std::to_integer<std::uint32_t>(p[2]) << 16;
        return static_cast<float>(sign_extend24(v)) * 0x1p-23f;
    }
};
struct S24BE {
    using InFrame = S24BEInFrame;
    static constexpr std::size_t bytes = 3;
    float operator()(const std::byte* p) const {
        const std::uint32_t v = std::to_integer<std::uint32_t>(p[0]) << 16 | std::to_integer<std::uint32_t>(p[1]) << 8 |
                                std::to_integer<std::uint32_t>(p[2]);
        return static_cast<float>(sign_extend24(v)) * 0x1p-23f;
    }
};
struct S32LE {
    static constexpr std::size_t bytes = 4;
    float operator()(const std::byte* p) const {
        return static_cast<float>(static_cast<std::int32_t>(le32(p))) * 0x1p-31f;
    }
};
struct S32BE {
    static constexpr std::size_t bytes = 4;
    float operator()(const std::byte* p) const {
        return static_cast<float>(static_cast<std::int32_t>(be32(p))) * 0x1p-31f;
    }
};
struct F32LE {
    static constexpr std::size_t bytes = 4;
    float operator()(const std::byte* p) const { return std::bit_cast<float>(le32(p)); }
};
struct F64LE {
    static constexpr std::size_t bytes = 8;
    float operator()(const std::byte* p) const { return static_cast<float>(std::bit_cast<double>(le64(p))); }
};

template <typename Convert, std::size_t FrameBytes>
void convert_block(const std::byte* in, std::size_t frames, float* out, std::size_t frame_bytes) {
    const Convert convert;
    // A constant frame size lets the compiler see the stride (mono and stereo, the usual cases).
    const std::size_t stride = FrameBytes != 0 ? FrameBytes : frame_bytes;
    for (std::size_t i = 0; i < frames; ++i) {
        out[i] = convert(in + i * stride);
    }
}

template <typename Convert>
std::expected<audio::SampleBuffer<float>, AudioError> read_channel0_with(ByteSource& source, std::size_t frames,
                                                                          std::size_t channels,
                                                                          std::size_t frames_per_block) {
    const std::size_t frame_bytes = Convert::bytes * channels;
    audio::SampleBuffer<float> out(frames);
    std::vector<std::byte> scratch;
    if (!source.borrows()) {
        scratch.resize(std::min(frames, frames_per_block) * frame_bytes);
    }
    auto convert = &convert_block<Convert, 0>;
    if (channels == 1) {
        convert = &convert_block<Convert, Convert::bytes>;
    } else if (channels == 2) {
        convert = &convert_block<Convert, 2 * Convert::bytes>;
    }
    for (std::size_t done = 0; done < frames;) {
        const std::size_t count = std::min(frames - done, frames_per_block);
        auto block = source.take(count * frame_bytes, scratch.data());
        if (!block) {
            return std::unexpected(std::move(block.error()));
        }
        convert(*block, count, out.data() + done, frame_bytes);
        done += count;
    }
    return out;
}

// Reads `frames` frames of `channels` samples and returns channel 0 of each. The caller has
// checked that frames * frame bytes fit in what the source has left.
template <typename Convert>
std::expected<audio::SampleBuffer<float>, AudioError> read_channel0(ByteSource& source, std::size_t frames,
                                                                     std::size_t channels,
                                                                     std::size_t frames_per_block) {
    if constexpr (requires { typename Convert::InFrame; }) {
        if (channels >= 2) {
            return read_channel0_with<typename Convert::InFrame>(source, frames, channels, frames_per_block);
        }
    }
    return read_channel0_with<Convert>(source, frames, channels, frames_per_block);
}

}  // namespace corvala::audiolib::pcm
