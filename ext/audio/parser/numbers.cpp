#include "ext/audio/parser/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace corvala::audio {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
    if (text.size() != lower_word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != lower_word[i]) {
            return false;
        }
    }
    return true;
}

// Saturation bound for exponent digits: far beyond any finite double, far below int64 overflow.
constexpr std::int64_t EXPONENT_LIMIT = 1'000'000'000;

// The lowest finite double with six decimals needs 317 characters.
constexpr std::size_t FIXED6_BUFFER = 320;

bool append_special(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("NaN");
        return true;
    }
    if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
        return true;
    }
    return false;
}

}  // namespace

std::optional<double> read_number(std::string_view text) {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    const double sign = negative ? -1.0 : 1.0;

    if (equals_ignoring_ascii_case(body, "inf") || equals_ignoring_ascii_case(body, "infinity")) {
        return sign * std::numeric_limits<double>::infinity();
    }
    if (equals_ignoring_ascii_case(body, "nan")) {
        return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    }

    // Grammar check, noting the decimal position of the first non-zero digit on the way:
    // the value lies in [10^(lead-1), 10^lead) before the exponent is applied.
    std::size_t i = 0;
    const std::size_t n = body.size();
    std::size_t mantissa_digits = 0;
    bool nonzero_seen = false;
    std::int64_t lead = 0;
    for (; i < n && is_digit(body[i]); ++i) {
        ++mantissa_digits;
        nonzero_seen = nonzero_seen || body[i] != '0';
        if (nonzero_seen) {
            ++lead;
        }
    }
    if (i < n && body[i] == '.') {
        ++i;
        std::int64_t zeros_after_point = 0;
        for (; i < n && is_digit(body[i]); ++i) {
            ++mantissa_digits;
            if (!nonzero_seen) {
                if (body[i] != '0') {
                    nonzero_seen = true;
                    lead = -zeros_after_point;
                } else {
                    ++zeros_after_point;
                }
            }
        }
    }
    if (mantissa_digits == 0) {
        return std::nullopt;
    }
    std::int64_t exponent = 0;
    if (i < n && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        bool exponent_negative = false;
        if (i < n && (body[i] == '+' || body[i] == '-')) {
            exponent_negative = body[i] == '-';
            ++i;
        }
        const std::size_t exponent_start = i;
        for (; i < n && is_digit(body[i]); ++i) {
            if (exponent < EXPONENT_LIMIT) {
                exponent = exponent * 10 + (body[i] - '0');
            }
        }
        if (i == exponent_start) {
            return std::nullopt;
        }
        if (exponent_negative) {
            exponent = -exponent;
        }
    }
    if (i != n) {
        return std::nullopt;
    }
    if (!nonzero_seen) {
        return sign * 0.0;
    }

    double value = 0.0;
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value unset here; the decimal magnitude tells which way it went.
        const bool overflow = lead + exponent > 0;
        return sign * (overflow ? std::numeric_limits<double>::infinity() : 0.0);
    }
    if (ec != std::errc{} || end != body.data() + body.size()) {
        return std::nullopt;
    }
    return sign * value;
}

void append_fixed6(std::string& out, double value) {
    if (append_special(out, value)) {
        return;
    }
    char buffer[FIXED6_BUFFER];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    out.append(buffer, result.ptr);
}

void append_shortest(std::string& out, double value) {
    if (append_special(out, value)) {
        return;
    }
    // The shortest round-trip digits come from scientific notation and are laid out in fixed
    // notation here: fixed to_chars would print large integers exactly (1e23 as
    // 99999999999999991611392) rather than with the shortest digits (100000000000000000000000).
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));

    std::size_t pos = 0;
    if (sci[pos] == '-') {
        out.push_back('-');
        ++pos;
    }
    const std::size_t e_pos = sci.find('e');
    std::string digits;
    digits.reserve(17);
    for (std::size_t k = pos; k < e_pos; ++k) {
        if (sci[k] != '.') {
            digits.push_back(sci[k]);
        }
    }
    int exponent = 0;
    std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+' ? 1 : 0),
                    sci.data() + sci.size(), exponent);

    if (digits == "0") {
        out.push_back('0');
        return;
    }
    // The first digit stands for 10^exponent.
    const auto count = static_cast<int>(digits.size());
    if (exponent < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits);
    } else if (exponent + 1 >= count) {
        out.append(digits);
        out.append(static_cast<std::size_t>(exponent + 1 - count), '0');
    } else {
        const auto point = static_cast<std::size_t>(exponent + 1);
        out.append(digits, 0, point);
        out.push_back('.');
        out.append(digits, point);
    }
}

std::string fixed6(double value) {
    std::string out;
    append_fixed6(out, value);
    return out;
}

std::string shortest(double value) {
    std::string out;
    append_shortest(out, value);
    return out;
}

}  // namespace corvala::audio
