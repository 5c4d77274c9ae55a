// Full Unicode lower-casing of UTF-8 text (the mapping of str.lower()), including the
// context-dependent final sigma. Bytes that are not valid UTF-8 are copied unchanged.
#pragma once

#include <string>
#include <string_view>

namespace corvala::audio {

std::string unicode_lower(std::string_view utf8);

}  // namespace corvala::audio
