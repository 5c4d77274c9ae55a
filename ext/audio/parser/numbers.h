// Reading and printing the numbers of the effect language.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvala::audio {

// Standard decimal reading of a double, correctly rounded: [+-] digits [. digits] [(e|E) [+-] digits],
// with at least one digit in the mantissa, or the words inf, infinity, nan in any case with an
// optional sign. The whole text must match; out-of-range values round to +-inf or +-0.
std::optional<double> read_number(std::string_view text);

// Placeholder {:.6}: fixed notation, six decimals, correctly rounded from the exact binary value
// (ties to even). inf, -inf and NaN print as such.
void append_fixed6(std::string& out, double value);
// Placeholder {} for a double: the shortest decimal that reads back to the same double, never in
// exponent notation, no fractional part for integral values; -0 for negative zero.
void append_shortest(std::string& out, double value);

std::string fixed6(double value);
std::string shortest(double value);

}  // namespace corvala::audio
