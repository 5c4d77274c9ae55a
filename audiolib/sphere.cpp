#include "audiolib/sphere.h"

#include <limits>
#include <utility>

#include "audiolib/pcm.h"

namespace corvala::audiolib {

namespace {

constexpr std::size_t BUFFER_SIZE = 65536;
constexpr std::size_t HEADER_SIZE = 1024;
constexpr std::size_t SAMPLES_PER_BLOCK = 8192;
constexpr char32_t REPLACEMENT = 0xFFFD;

AudioError sphere_error(std::string text) { return {AudioErrorKind::sphere, std::move(text)}; }

// UTF-8 with each maximal invalid subpart replaced by one U+FFFD.
std::u32string decode_lossy(std::span<const std::byte> bytes) {
    std::u32string out;
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    auto at = [&](std::size_t k) { return std::to_integer<unsigned>(bytes[k]); };
    while (i < n) {
        const unsigned b0 = at(i);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        std::size_t need;
        unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
        char32_t cp;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1, cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2, cp = b0 & 0x0F;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3, cp = b0 & 0x07;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            out.push_back(REPLACEMENT);
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k <= need; ++k) {
            if (i + k >= n) break;
            const unsigned b = at(i + k);
            const unsigned low = k == 1 ? lo : 0x80u, high = k == 1 ? hi : 0xBFu;
            if (b < low || b > high) break;
            cp = cp << 6 | (b & 0x3F);
        }
        if (k > need) {
            out.push_back(cp);
            i += need + 1;
        } else {
            out.push_back(REPLACEMENT);
            i += k;
        }
    }
    return out;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string to_utf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) append_utf8(out, c);
    return out;
}

// The Unicode White_Space property.
bool is_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::vector<std::u32string> header_lines(std::span<const std::byte> header) {
    std::vector<std::u32string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= header.size(); ++i) {
        if (i < header.size() && header[i] != std::byte{0x0A}) continue;
        std::u32string line = decode_lossy(header.subspan(start, i - start));
        while (!line.empty() && is_space(line.back())) line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        start = i + 1;
    }
    return lines;
}

bool is_ascii(std::u32string_view line, std::string_view text) {
    if (line.size() != text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (line[i] != static_cast<unsigned char>(text[i])) return false;
    }
    return true;
}

// The value of the first line that starts with `key` and has a '-' after it: the last
// white-space-separated token after that '-'.
std::optional<std::u32string> lookup(const std::vector<std::u32string>& lines, std::string_view key) {
    for (const std::u32string& line : lines) {
        if (line.size() < key.size() || !is_ascii(std::u32string_view(line).substr(0, key.size()), key)) continue;
        const std::size_t dash = line.find(U'-', key.size());
        if (dash == std::u32string::npos) continue;
        std::u32string_view rest = std::u32string_view(line).substr(dash + 1);
        while (!rest.empty() && is_space(rest.back())) rest.remove_suffix(1);
        std::size_t begin = rest.size();
        while (begin > 0 && !is_space(rest[begin - 1])) --begin;
        if (begin == rest.size()) return std::nullopt;
        return std::u32string(rest.substr(begin));
    }
    return std::nullopt;
}

// An unsigned decimal with an optional leading '+'; the error is the reason text.
template <typename T>
std::expected<T, std::string> parse_unsigned(std::u32string_view text) {
    if (text.empty()) return std::unexpected("cannot parse integer from empty string");
    if (text[0] == U'+') {
        if (text.size() == 1) return std::unexpected("invalid digit found in string");
        text.remove_prefix(1);
    }
    T value = 0;
    for (char32_t c : text) {
        if (c < U'0' || c > U'9') return std::unexpected("invalid digit found in string");
        const T digit = static_cast<T>(c - U'0');
        if (value > (std::numeric_limits<T>::max() - digit) / 10) {
            return std::unexpected("number too large to fit in target type");
        }
        value = static_cast<T>(value * 10 + digit);
    }
    return value;
}

template <typename T>
std::expected<T, AudioError> required_field(const std::vector<std::u32string>& lines, std::string_view key) {
    auto text = lookup(lines, key);
    if (!text) {
        return std::unexpected(sphere_error("Missing a required header field: " + std::string(key)));
    }
    auto value = parse_unsigned<T>(*text);
    if (!value) {
        return std::unexpected(sphere_error("Invalid value for the header field " + std::string(key) + ": '" +
                                            to_utf8(*text) + "' - " + value.error()));
    }
    return *value;
}

std::expected<SphereHeader, AudioError> parse_header(std::span<const std::byte> bytes) {
    SphereHeader header;
    header.lines = header_lines(bytes);
    const auto& lines = header.lines;
    if (lines.size() <= 2 || !is_ascii(lines[0], "NIST_1A") || !is_ascii(lines[1], "   1024") ||
        !is_ascii(lines.back(), "end_head")) {
        return std::unexpected(sphere_error("Invalid header"));
    }
    auto rate = required_field<std::uint32_t>(lines, "sample_rate");
    if (!rate) return std::unexpected(std::move(rate.error()));
    auto count = required_field<std::uint64_t>(lines, "sample_count");
    if (!count) return std::unexpected(std::move(count.error()));
    auto n_bytes = required_field<std::uint64_t>(lines, "sample_n_bytes");
    if (!n_bytes) return std::unexpected(std::move(n_bytes.error()));
    auto channels = required_field<std::uint64_t>(lines, "channel_count");
    if (!channels) return std::unexpected(std::move(channels.error()));
    header.sample_rate = *rate;
    header.sample_count = *count;
    header.sample_n_bytes = *n_bytes;
    header.channel_count = *channels;
    if (auto v = lookup(lines, "sample_byte_format")) header.sample_byte_format = to_utf8(*v);
    if (auto v = lookup(lines, "sample_coding")) header.sample_coding = to_utf8(*v);
    return header;
}

template <typename Convert>
std::expected<RawAudio, AudioError> read_samples(ByteSource& source, const SphereHeader& header) {
    // Checked before allocating: a count the file cannot hold is the end-of-data error.
    if (header.sample_count > source.remaining() / Convert::bytes) {
        return std::unexpected(end_of_data_error());
    }
    auto samples = pcm::read_channel0<Convert>(source, static_cast<std::size_t>(header.sample_count), 1,
                                                SAMPLES_PER_BLOCK);
    if (!samples) {
        return std::unexpected(std::move(samples.error()));
    }
    return RawAudio{std::move(*samples), header.sample_rate};
}

}  // namespace

std::expected<RawAudio, AudioError> read_sphere(ByteSource& source) {
    std::byte bytes[HEADER_SIZE];
    if (auto r = source.read(bytes, HEADER_SIZE); !r) {
        return std::unexpected(std::move(r.error()));
    }
    auto header = parse_header(bytes);
    if (!header) {
        return std::unexpected(std::move(header.error()));
    }
    if (header->channel_count != 1) {
        return std::unexpected(sphere_error("Multichannel SPHERE files are not supported"));
    }
    if (header->sample_coding == "pcm") {
        if (header->sample_n_bytes == 1) {
            return read_samples<pcm::U8NoOffset>(source, *header);
        }
        if (header->sample_n_bytes == 2 && header->sample_byte_format == "01") {
            return read_samples<pcm::S16LE>(source, *header);
        }
        if (header->sample_n_bytes == 2 && header->sample_byte_format == "10") {
            return read_samples<pcm::S16BE>(source, *header);
        }
    }
    return std::unexpected(sphere_error("Invalid format: " + std::to_string(header->sample_n_bytes) + "-byte " +
                                        header->sample_coding + ", byte format " + header->sample_byte_format));
}

std::expected<RawAudio, AudioError> read_sphere_bytes(std::span<const std::byte> data) {
    MemorySource source(data);
    return read_sphere(source);
}

std::expected<RawAudio, AudioError> read_sphere(const std::string& path) {
    auto file = open_file(path);
    if (!file) {
        return std::unexpected(std::move(file.error()));
    }
    FileSource source(std::move(*file), BUFFER_SIZE);
    return read_sphere(source);
}

}  // namespace corvala::audiolib
