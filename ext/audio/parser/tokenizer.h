// Splitting one effect string into tokens: white space separates, double quotes group, a
// backslash makes the next character literal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvala::audio {

std::vector<std::string> split_effect_tokens(std::string_view text);

// Byte length of the character starting at text[pos]: a whole UTF-8 sequence (encoded surrogates
// included), or 1 for a byte that starts no valid sequence.
std::size_t utf8_char_length(std::string_view text, std::size_t pos);

}  // namespace corvala::audio
