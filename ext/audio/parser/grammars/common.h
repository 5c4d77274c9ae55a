// Reading patterns shared by the effect grammars.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ext/audio/effect_spec.h"
#include "ext/audio/parser/grammar.h"

namespace corvala::audio::grammars {

inline std::unexpected<EffectError> fail(EffectError error) { return std::unexpected(std::move(error)); }

template <EffectKind K, typename Params>
ParseResult parsed(Params params, std::string canonical) {
    return ParsedEffect{EffectSpec::make<K>(std::move(params)), std::move(canonical)};
}

// Closed-range test that a NaN fails.
inline bool in_closed(double value, double low, double high) { return value >= low && value <= high; }


// read_db refusing inf and NaN with the same report as an unreadable value: a gain that no range
// check catches would otherwise turn every filter coefficient into NaN.
std::expected<double, EffectError> finite_db(const EffectArgs& args, const std::string& token);

// read_frequency and the open range 0 < f < 8000 Hz.
std::expected<double, EffectError> checked_frequency(const EffectArgs& args, const std::string& token);

// read_frequency refusing inf and NaN with the report of an unreadable frequency.
std::expected<double, EffectError> finite_frequency(const EffectArgs& args, const std::string& token);

// read_width refusing inf and NaN with the report of an unreadable width.
std::expected<Width, EffectError> finite_width(const EffectArgs& args, const std::string& token,
                                               WidthUnit default_unit, std::size_t index);

// read_width and a number greater than 0. An infinite width passes that test but makes the
// filter's bandwidth term infinite, so it is refused like an unreadable width.
std::expected<Width, EffectError> checked_width(const EffectArgs& args, const std::string& token,
                                                WidthUnit default_unit, std::size_t index);

// Optional +, then decimal digits, at most 4294967295; anything else (overflow included) is nothing.
std::optional<std::uint32_t> read_tap_count(std::string_view text);

// The value token of an option at position k, or the ArityError `missing` when none follows.
std::expected<const std::string*, EffectError> option_value(const EffectArgs& args, std::size_t k,
                                                            std::string_view missing);

// The letter a width prints with.
inline char unit_letter(WidthUnit unit) { return static_cast<char>(unit); }

// The checked value: a number with its own parse reason, range and range reason.

inline constexpr double NO_LIMIT = std::numeric_limits<double>::infinity();

struct CheckedValue {
    std::string_view parse_reason;
    std::string_view parse_hint;
    double lo = 0.0;
    double hi = NO_LIMIT;
    bool lo_open = false;           // lo itself is out of range
    std::string_view range_reason;  // {} takes the value
    std::string_view range_hint;
};

// Argument k read with read_number and range-checked; failures are EffectParseError at index k.
// NaN is out of every range; an infinity that a half-open range lets through counts as unreadable,
// since the processors turn these values into sample counts and gains.
std::expected<double, EffectError> read_checked(const EffectArgs& args, std::size_t k, const CheckedValue& item);

// `token` read with read_number; an unreadable token fails with UnitError, `invalid` (which may
// hold one {} for the token) as its reason.
std::expected<double, EffectError> read_unit_value(const EffectArgs& args, const std::string& token,
                                                   std::string_view invalid);

// As read_unit_value, and a value that reads as an infinity or NaN fails the same way: for values
// that no later check bounds.
std::expected<double, EffectError> read_finite_value(const EffectArgs& args, const std::string& token,
                                                     std::string_view invalid);

}  // namespace corvala::audio::grammars
