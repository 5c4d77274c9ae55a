// UTF-8 checks for texts that come from files and databases.
#pragma once

#include <string>
#include <string_view>

namespace corvala::kernel {

// True when `text` is well-formed UTF-8: no surrogates, no overlong forms, nothing past U+10FFFF.
bool is_valid_utf8(std::string_view text);

// `text` with each maximal ill-formed subsequence replaced by U+FFFD (the Unicode-recommended
// practice, which Python's "replace" error handler also follows).
std::string to_utf8_lossy(std::string_view text);

}  // namespace corvala::kernel
