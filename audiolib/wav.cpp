#include "audiolib/wav.h"

#include <cstring>
#include <utility>

#include "audiolib/pcm.h"

namespace corvala::audiolib {

namespace {

constexpr std::size_t BUFFER_SIZE = 65536;
constexpr std::uint16_t FORMAT_PCM = 0x0001;
constexpr std::uint16_t FORMAT_IEEE_FLOAT = 0x0003;
constexpr std::uint16_t FORMAT_EXTENSIBLE = 0xFFFE;

AudioError wav_error(std::string text) { return {AudioErrorKind::wav, std::move(text)}; }

bool is_id(const std::byte* p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

// Skips chunks up to the one named `id` and returns its declared size. Each step moves at least
// 8 bytes and positions are 64-bit, so a walk always ends: at the chunk or at the end of data.
std::expected<std::uint32_t, AudioError> find_chunk(ByteSource& source, const char (&id)[5]) {
    for (;;) {
        std::byte header[8];
        if (auto r = source.read(header, sizeof header); !r) {
            return std::unexpected(std::move(r.error()));
        }
        const std::uint32_t size = pcm::le32(header + 4);
        if (is_id(header, id)) {
            return size;
        }
        if (auto r = source.skip(std::uint64_t{size} + (size & 1u)); !r) {
            return std::unexpected(std::move(r.error()));
        }
    }
}

std::expected<WavHeader, AudioError> read_header(ByteSource& source) {
    std::byte riff[12];
    if (auto r = source.read(riff, sizeof riff); !r) {
        return std::unexpected(std::move(r.error()));
    }
    if (!is_id(riff, "RIFF")) {
        return std::unexpected(wav_error("Invalid RIFF signature"));
    }
    if (!is_id(riff + 8, "WAVE")) {
        return std::unexpected(wav_error("Invalid WAVE signature"));
    }
    auto fmt_size = find_chunk(source, "fmt ");
    if (!fmt_size) {
        return std::unexpected(std::move(fmt_size.error()));
    }
    // The chunk is read in full (with its pad byte) before its size is judged; only the first
    // 40 bytes can matter, the rest is passed over.
    const std::uint64_t padded = std::uint64_t{*fmt_size} + (*fmt_size & 1u);
    if (padded > source.remaining()) {
        return std::unexpected(end_of_data_error());
    }
    std::byte fmt[40]{};
    const std::size_t kept = padded < sizeof fmt ? static_cast<std::size_t>(padded) : sizeof fmt;
    if (auto r = source.read(fmt, kept); !r) {
        return std::unexpected(std::move(r.error()));
    }
    if (auto r = source.skip(padded - kept); !r) {
        return std::unexpected(std::move(r.error()));
    }
    if (padded != 16 && padded != 18 && padded != 40) {
        return std::unexpected(wav_error("Invalid fmt chunk size"));
    }
    WavHeader header;
    header.format_tag = pcm::le16(fmt);
    header.channels = pcm::le16(fmt + 2);
    header.sample_rate = pcm::le32(fmt + 4);
    header.bits_per_sample = pcm::le16(fmt + 14);

    auto data_size = find_chunk(source, "data");
    if (!data_size) {
        return std::unexpected(std::move(data_size.error()));
    }
    if (header.channels == 0) {
        return std::unexpected(wav_error("Invalid channel count: 0"));
    }
    const std::size_t frame_bytes = std::size_t{header.channels} * (header.bits_per_sample / 8u);
    header.frames = frame_bytes != 0 ? *data_size / frame_bytes : 0;
    return header;
}

// Fails before allocating when the data the header promises are not there.
std::expected<void, AudioError> check_available(const ByteSource& source, const WavHeader& header,
                                                std::size_t bytes_per_sample) {
    // frames * channels * bytes never exceeds the 32-bit data size, so this cannot overflow.
    const std::uint64_t needed = std::uint64_t{header.frames} * header.channels * bytes_per_sample;
    if (needed > source.remaining()) {
        return std::unexpected(end_of_data_error());
    }
    return {};
}

template <typename Convert>
std::expected<RawAudio, AudioError> read_samples(ByteSource& source, const WavHeader& header,
                                                 std::size_t frames_per_block) {
    if (auto r = check_available(source, header, Convert::bytes); !r) {
        return std::unexpected(std::move(r.error()));
    }
    auto samples = pcm::read_channel0<Convert>(source, header.frames, header.channels, frames_per_block);
    if (!samples) {
        return std::unexpected(std::move(samples.error()));
    }
    return RawAudio{std::move(*samples), header.sample_rate};
}

std::expected<RawAudio, AudioError> read_integer(ByteSource& source, const WavHeader& header) {
    switch (header.bits_per_sample) {
        case 8: return read_samples<pcm::U8Offset>(source, header, 8192);
        case 16: return read_samples<pcm::S16LE>(source, header, 8192);
        case 24: return read_samples<pcm::S24LE>(source, header, 5461);
        case 32: return read_samples<pcm::S32LE>(source, header, 4096);
        default:
            return std::unexpected(wav_error("Invalid format: " + std::to_string(header.bits_per_sample) +
                                             "-bit samples are not supported"));
    }
}

std::expected<RawAudio, AudioError> read_float(ByteSource& source, const WavHeader& header) {
    // The data are checked before the bit depth, so a short file reports the I/O error first.
    if (auto r = check_available(source, header, header.bits_per_sample / 8u); !r) {
        return std::unexpected(std::move(r.error()));
    }
    switch (header.bits_per_sample) {
        case 32: return read_samples<pcm::F32LE>(source, header, 4096);
        case 64: return read_samples<pcm::F64LE>(source, header, 2048);
        default:
            return std::unexpected(wav_error("Invalid format: Unsupported bits per sample for IEEE float: " +
                                             std::to_string(header.bits_per_sample) + ". Supported: 32, 64"));
    }
}

std::string hex4(std::uint16_t v) {
    constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string out(4, '0');
    for (int i = 3; i >= 0; --i, v = static_cast<std::uint16_t>(v >> 4)) {
        out[static_cast<std::size_t>(i)] = DIGITS[v & 0xF];
    }
    return out;
}

}  // namespace

std::expected<RawAudio, AudioError> read_wav(ByteSource& source) {
    auto header = read_header(source);
    if (!header) {
        return std::unexpected(std::move(header.error()));
    }
    switch (header->format_tag) {
        case FORMAT_PCM: return read_integer(source, *header);
        case FORMAT_IEEE_FLOAT: return read_float(source, *header);
        case FORMAT_EXTENSIBLE: {
            // The sub-format is not looked at: integer first, float from the start again.
            if (auto integer = read_integer(source, *header)) {
                return integer;
            }
            source.rewind();
            auto again = read_header(source);
            if (!again) {
                return std::unexpected(std::move(again.error()));
            }
            return read_float(source, *again);
        }
        default:
            return std::unexpected(wav_error("Invalid format: 0x" + hex4(header->format_tag) +
                                             ". Supported formats: PCM (0x0001), IEEE Float (0x0003), "
                                             "Extensible (0xFFFE)"));
    }
}

std::expected<RawAudio, AudioError> read_wav_bytes(std::span<const std::byte> data) {
    MemorySource source(data);
    return read_wav(source);
}

std::expected<RawAudio, AudioError> read_wav(const std::string& path) {
    auto file = open_file(path);
    if (!file) {
        return std::unexpected(std::move(file.error()));
    }
    FileSource source(std::move(*file), BUFFER_SIZE);
    return read_wav(source);
}

}  // namespace corvala::audiolib
