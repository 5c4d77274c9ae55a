// Time expressions of the effect language: terms joined by + or -, each a clock time, a sample
// count or seconds. Samples and seconds are accumulated separately.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace corvala::audio {

struct TimeSpec {
    std::uint64_t samples = 0;  // saturates at the largest count
    double seconds = 0.0;

    bool operator==(const TimeSpec&) const = default;
};

// `initial_op` is '+' or '-'. On failure the result is the message text of the expression error.
std::expected<TimeSpec, std::string> read_time_spec(std::string_view text, char initial_op);

}  // namespace corvala::audio
