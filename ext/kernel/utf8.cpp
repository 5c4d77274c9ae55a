#include "ext/kernel/utf8.h"

#include <cstddef>
#include <cstdint>

namespace corvala::kernel {

namespace {

// Length of the well-formed sequence at `i`, or 0 with `prefix` set to the length of its longest
// well-formed prefix (at least 1), after which decoding resumes.
std::size_t sequence_length(std::string_view text, std::size_t i, std::size_t& prefix) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    prefix = 1;
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;  // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= text.size()) {
            return 0;
        }
        const std::uint8_t b = byte(i + k);
        const std::uint8_t lo = k == 1 ? low : 0x80;
        const std::uint8_t hi = k == 1 ? high : 0xBF;
        if (b < lo || b > hi) {
            return 0;
        }
        prefix = k + 1;
    }
    return length;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t prefix = 0;
        const std::size_t n = sequence_length(text, i, prefix);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string to_utf8_lossy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t prefix = 0;
        const std::size_t n = sequence_length(text, i, prefix);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += prefix;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace corvala::kernel
