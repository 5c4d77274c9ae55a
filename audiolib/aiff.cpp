#include "audiolib/aiff.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "audiolib/pcm.h"

namespace corvala::audiolib {

namespace {

constexpr std::size_t BUFFER_SIZE = 65536;
constexpr std::size_t FRAMES_PER_BLOCK = 8192;
constexpr std::uint32_t MAX_SAMPLE_RATE = 192000;

AudioError aiff_error(std::string text) { return {AudioErrorKind::aiff, std::move(text)}; }

bool is_id(const std::byte* p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

struct Comm {
    std::uint16_t channels = 0;
    std::uint16_t bits = 0;
    std::uint32_t sample_rate = 0;
};

template <typename Convert>
std::expected<RawAudio, AudioError> convert(ByteSource& source, const Comm& comm, std::size_t frames) {
    auto samples = pcm::read_channel0<Convert>(source, frames, comm.channels, FRAMES_PER_BLOCK);
    if (!samples) {
        return std::unexpected(std::move(samples.error()));
    }
    return RawAudio{std::move(*samples), comm.sample_rate};
}

std::expected<RawAudio, AudioError> read_ssnd(ByteSource& source, const Comm& comm, std::uint32_t chunk_size) {
    if (chunk_size < 8) {
        return std::unexpected(aiff_error("Invalid SSND chunk size: " + std::to_string(chunk_size)));
    }
    std::byte offset_and_block_size[8];  // neither is used: the samples follow them directly
    if (auto r = source.read(offset_and_block_size, sizeof offset_and_block_size); !r) {
        return std::unexpected(std::move(r.error()));
    }
    const std::uint32_t data_length = chunk_size - 8;
    if (data_length > source.remaining()) {
        return std::unexpected(end_of_data_error());
    }
    if (comm.bits != 8 && comm.bits != 16 && comm.bits != 24 && comm.bits != 32) {
        return std::unexpected(aiff_error("Unsupported sample size: " + std::to_string(comm.bits) + " bits"));
    }
    if (comm.channels == 0) {
        return std::unexpected(aiff_error("Invalid channel count: 0"));
    }
    const std::size_t frame_bytes = std::size_t{comm.channels} * ((comm.bits + 7u) / 8u);
    const std::size_t frames = data_length / frame_bytes;  // trailing bytes are ignored
    switch (comm.bits) {
        case 8: return convert<pcm::S8>(source, comm, frames);
        case 16: return convert<pcm::S16BE>(source, comm, frames);
        case 24: return convert<pcm::S24BE>(source, comm, frames);
        default: return convert<pcm::S32BE>(source, comm, frames);
    }
}

}  // namespace

std::expected<std::uint32_t, AudioError> aiff_sample_rate(const std::byte* extended) {
    const std::uint16_t sign_exponent = pcm::be16(extended);
    const int exponent = sign_exponent & 0x7FFF;
    if (exponent == 0) {
        return 0u;
    }
    const int unbiased = exponent - 16383;
    if (unbiased < 0 || unbiased > 31) {
        return std::unexpected(aiff_error("Invalid sample rate"));
    }
    const std::uint64_t mantissa = std::uint64_t{pcm::be32(extended + 2)} << 32 | pcm::be32(extended + 6);
    // m / 2^63 * 2^e: both scalings are exact powers of two.
    double value = std::ldexp(static_cast<double>(mantissa), unbiased - 63);
    if ((sign_exponent & 0x8000) != 0) {
        value = -value;
    }
    const double rounded = std::round(value);  // halves away from zero; negative counts as 0
    if (!(rounded >= 1.0 && rounded <= MAX_SAMPLE_RATE)) {
        return std::unexpected(aiff_error("Invalid sample rate"));
    }
    return static_cast<std::uint32_t>(rounded);
}

std::expected<RawAudio, AudioError> read_aiff(ByteSource& source) {
    std::byte field[4];
    if (auto r = source.read(field, 4); !r) {
        return std::unexpected(std::move(r.error()));
    }
    if (!is_id(field, "FORM")) {
        return std::unexpected(aiff_error("Invalid AIFF FORM header"));
    }
    if (auto r = source.read(field, 4); !r) {  // the form size is not used
        return std::unexpected(std::move(r.error()));
    }
    if (auto r = source.read(field, 4); !r) {
        return std::unexpected(std::move(r.error()));
    }
    if (!is_id(field, "AIFF")) {
        return std::unexpected(aiff_error("Invalid AIFF type"));
    }
    bool have_comm = false;
    Comm comm;
    // Every pass consumes at least 8 bytes or seeks forward by a 64-bit count that stops at the
    // end, so the loop ends on any input.
    while (source.remaining() >= 4) {
        std::byte id[4];
        if (auto r = source.read(id, 4); !r) {
            return std::unexpected(std::move(r.error()));
        }
        std::byte size_field[4];
        if (auto r = source.read(size_field, 4); !r) {
            return std::unexpected(std::move(r.error()));
        }
        const std::uint32_t size = pcm::be32(size_field);
        if (is_id(id, "COMM")) {
            // Exactly 18 bytes, whatever the chunk size says.
            std::byte body[18];
            if (auto r = source.read(body, sizeof body); !r) {
                return std::unexpected(std::move(r.error()));
            }
            auto rate = aiff_sample_rate(body + 8);
            if (!rate) {
                return std::unexpected(std::move(rate.error()));
            }
            comm = Comm{pcm::be16(body), pcm::be16(body + 6), *rate};
            have_comm = true;
        } else if (is_id(id, "SSND")) {
            if (!have_comm) {
                return std::unexpected(aiff_error("Missing a required chunk: COMM must come before SSND"));
            }
            return read_ssnd(source, comm, size);
        } else {
            source.seek_forward(std::uint64_t{size} + (size & 1u));
        }
    }
    if (!have_comm) {
        return std::unexpected(aiff_error("Missing a required chunk: COMM"));
    }
    return std::unexpected(aiff_error("Missing a required chunk: SSND"));
}

std::expected<RawAudio, AudioError> read_aiff_bytes(std::span<const std::byte> data) {
    MemorySource source(data);
    return read_aiff(source);
}

std::expected<RawAudio, AudioError> read_aiff(const std::string& path) {
    auto file = open_file(path);
    if (!file) {
        return std::unexpected(std::move(file.error()));
    }
    FileSource source(std::move(*file), BUFFER_SIZE);
    return read_aiff(source);
}

}  // namespace corvala::audiolib
