#include "ext/audio/parser/tokenizer.h"

#include <cstdint>

namespace corvala::audio {

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Unicode White_Space, as encoded in UTF-8.
bool is_white_space(std::string_view ch) {
    if (ch.size() == 1) {
        const unsigned char c = static_cast<unsigned char>(ch[0]);
        return (c >= 0x09 && c <= 0x0D) || c == 0x20;
    }
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(ch[i]); };
    if (ch.size() == 2) {
        return b(0) == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0);
    }
    if (ch.size() == 3) {
        const std::uint32_t cp = ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
        return cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 ||
               cp == 0x202F || cp == 0x205F || cp == 0x3000;
    }
    return false;
}

}  // namespace

std::size_t utf8_char_length(std::string_view text, std::size_t pos) {
    const auto c0 = static_cast<unsigned char>(text[pos]);
    std::size_t n = 0;
    if (c0 < 0x80) {
        return 1;
    } else if (c0 >= 0xC2 && c0 <= 0xDF) {
        n = 2;
    } else if (c0 >= 0xE0 && c0 <= 0xEF) {
        n = 3;
    } else if (c0 >= 0xF0 && c0 <= 0xF4) {
        n = 4;
    } else {
        return 1;
    }
    if (pos + n > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (!is_continuation(static_cast<unsigned char>(text[pos + i]))) {
            return 1;
        }
    }
    const auto c1 = static_cast<unsigned char>(text[pos + 1]);
    // Reject overlong and out-of-range forms; surrogates (ED A0..BF) are kept as characters.
    if ((c0 == 0xE0 && c1 < 0xA0) || (c0 == 0xF0 && c1 < 0x90) || (c0 == 0xF4 && c1 > 0x8F)) {
        return 1;
    }
    return n;
}

std::vector<std::string> split_effect_tokens(std::string_view text) {
    std::vector<std::string> tokens;
    std::string current;
    bool quoted = false;
    bool escape = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t len = utf8_char_length(text, pos);
        const std::string_view ch = text.substr(pos, len);
        pos += len;
        if (escape) {
            current.append(ch);
            escape = false;
        } else if (ch == "\\") {
            escape = true;
        } else if (ch == "\"") {
            quoted = !quoted;
        } else if (is_white_space(ch)) {
            if (quoted) {
                current.append(ch);
            } else if (!current.empty()) {
                tokens.push_back(std::move(current));
                current.clear();
            }
        } else {
            current.append(ch);
        }
    }
    if (!current.empty()) {
        tokens.push_back(std::move(current));
    }
    return tokens;
}

}  // namespace corvala::audio
