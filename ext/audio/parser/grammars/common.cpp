#include "ext/audio/parser/grammars/common.h"

#include <cmath>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/numbers.h"
#include "ext/audio/parser/readers.h"

namespace corvala::audio::grammars {

namespace {

// The reports of read_frequency and read_width for a token whose number does not read.
EffectError unreadable_frequency(const EffectArgs& args, const std::string& token) {
    const std::string_view number =
        token.ends_with('k') ? std::string_view(token).substr(0, token.size() - 1) : std::string_view(token);
    return args.unit(token, format("Invalid numeric value: {}", number));
}

EffectError unreadable_width(const EffectArgs& args, const std::string& token, std::size_t index) {
    return args.parse(index, token, format("invalid unit: {}", token), format("see effect_help(\"{}\")", args.name()));
}

}  // namespace

std::expected<double, EffectError> finite_db(const EffectArgs& args, const std::string& token) {
    auto value = read_db(args, token);
    if (value && !std::isfinite(*value)) {
        return fail(args.unit(token, format("Invalid dB value: {}", token)));
    }
    return value;
}

std::expected<double, EffectError> checked_frequency(const EffectArgs& args, const std::string& token) {
    auto frequency = read_frequency(args, token);
    if (frequency && !(*frequency > 0.0 && *frequency < 8000.0)) {
        return fail(args.unit(token, format("frequency must be between 0 and 8000 Hz: {}", token)));
    }
    return frequency;
}

std::expected<Width, EffectError> checked_width(const EffectArgs& args, const std::string& token,
                                                WidthUnit default_unit, std::size_t index) {
    auto width = read_width(args, token, default_unit, index);
    if (!width) {
        return width;
    }
    if (!(width->value > 0.0)) {
        return fail(args.unit(token, format("width must be positive: {}", token)));
    }
    if (std::isinf(width->value)) {
        return fail(unreadable_width(args, token, index));
    }
    return width;
}

std::expected<double, EffectError> finite_frequency(const EffectArgs& args, const std::string& token) {
    auto frequency = read_frequency(args, token);
    if (frequency && !std::isfinite(*frequency)) {
        return fail(unreadable_frequency(args, token));
    }
    return frequency;
}

std::expected<Width, EffectError> finite_width(const EffectArgs& args, const std::string& token,
                                               WidthUnit default_unit, std::size_t index) {
    auto width = read_width(args, token, default_unit, index);
    if (width && !std::isfinite(width->value)) {
        return fail(unreadable_width(args, token, index));
    }
    return width;
}

std::optional<std::uint32_t> read_tap_count(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) {  // checked per digit, so the product never wraps
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::expected<const std::string*, EffectError> option_value(const EffectArgs& args, std::size_t k,
                                                            std::string_view missing) {
    if (k + 1 > args.size()) {
        return fail(args.arity(std::string(missing)));
    }
    return &args[k + 1];
}

std::expected<double, EffectError> read_checked(const EffectArgs& args, std::size_t k, const CheckedValue& item) {
    const std::string& token = args[k];
    const auto value = read_number(token);
    if (!value) {
        return std::unexpected(args.parse(k, token, std::string(item.parse_reason), std::string(item.parse_hint)));
    }
    const double v = *value;
    const bool above_lo = item.lo_open ? v > item.lo : v >= item.lo;
    if (!(above_lo && v <= item.hi)) {
        return std::unexpected(args.parse(k, token, format(item.range_reason, v), std::string(item.range_hint)));
    }
    if (std::isinf(v)) {
        return std::unexpected(args.parse(k, token, std::string(item.parse_reason), std::string(item.parse_hint)));
    }
    return v;
}

std::expected<double, EffectError> read_unit_value(const EffectArgs& args, const std::string& token,
                                                   std::string_view invalid) {
    if (const auto value = read_number(token)) {
        return *value;
    }
    return std::unexpected(args.unit(token, format(invalid, token)));
}

std::expected<double, EffectError> read_finite_value(const EffectArgs& args, const std::string& token,
                                                     std::string_view invalid) {
    const auto value = read_number(token);
    if (value && std::isfinite(*value)) {
        return *value;
    }
    return std::unexpected(args.unit(token, format(invalid, token)));
}

}  // namespace corvala::audio::grammars
