#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zirvsim {

// Formats a number the way the board prints it: plain decimal with "." and never an exponent,
// the shortest text that reads back as the same double; an integer value has no point ("95"),
// and zero (also negative zero) is "0". Non-finite values print as "0" since the board never
// stores them.
std::string FormatPlain(double value);

// Reads a number as the board's command parser does: optional spaces, then a decimal number
// with optional sign, fraction and exponent ("1E-5" is what the tool sends for small values),
// then optional spaces and nothing else. Returns nothing for any other text and for values
// that are not finite.
std::optional<double> ParseNumber(std::string_view text);

// Rounds to the nearest integer, ties to even, clamped to [low, high].
long long RoundClamped(double value, long long low, long long high);

}  // namespace zirvsim
