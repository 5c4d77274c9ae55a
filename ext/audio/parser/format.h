// Message and canonical-text templates: "{}" and "{:.6}" placeholders filled in order.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "ext/audio/parser/numbers.h"

namespace corvala::audio {

namespace detail {

inline void append_arg(std::string& out, std::string_view spec, std::string_view text) {
    (void)spec;
    out.append(text);
}
inline void append_arg(std::string& out, std::string_view spec, const std::string& text) {
    append_arg(out, spec, std::string_view(text));
}
inline void append_arg(std::string& out, std::string_view spec, const char* text) {
    append_arg(out, spec, std::string_view(text));
}
inline void append_arg(std::string& out, std::string_view spec, char c) {
    (void)spec;
    out.push_back(c);
}
inline void append_arg(std::string& out, std::string_view spec, double value) {
    if (spec == ":.6") {
        append_fixed6(out, value);
    } else {
        append_shortest(out, value);
    }
}
template <std::integral I>
    requires(!std::same_as<I, char> && !std::same_as<I, bool>)
void append_arg(std::string& out, std::string_view spec, I value) {
    (void)spec;
    out.append(std::to_string(value));
}

// Copies template text up to the next placeholder, returns the placeholder's spec ("" or ":.6")
// and advances past it; at the end of the template returns false.
bool next_placeholder(std::string& out, std::string_view& tmpl, std::string_view& spec);

}  // namespace detail

// Fills the placeholders of `tmpl` in order. Surplus placeholders are kept as written.
template <typename... Args>
std::string format(std::string_view tmpl, const Args&... args) {
    std::string out;
    out.reserve(tmpl.size() + 16 * sizeof...(Args));
    std::string_view spec;
    (
        [&] {
            if (detail::next_placeholder(out, tmpl, spec)) {
                detail::append_arg(out, spec, args);
            }
        }(),
        ...);
    out.append(tmpl);
    return out;
}

}  // namespace corvala::audio
