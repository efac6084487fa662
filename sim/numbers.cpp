#include "sim/numbers.h"

#include <charconv>
#include <cmath>

namespace zirvsim {

std::string FormatPlain(double value) {
  if (!std::isfinite(value) || value == 0) return "0";
  // Fixed notation is long for huge values (up to ~310 digits), never exponent notation.
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  text = TrimSpaces(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  // from_chars would read "inf", "infinity" and "nan"; the board's parser knows only digits,
  // point, sign and exponent mark, so any other character makes the text no number.
  for (char c : text) {
    const bool allowed = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    if (!allowed) return std::nullopt;
  }
  // With those letters gone, a successful read is always finite: a value beyond the double
  // range (such as "1e400") is reported as result_out_of_range, not read as infinity.
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

long long RoundClamped(double value, long long low, long long high) {
  if (std::isnan(value)) return low;
  if (value <= static_cast<double>(low)) return low;
  if (value >= static_cast<double>(high)) return high;
  return static_cast<long long>(std::nearbyint(value));  // default rounding mode: ties to even
}

}  // namespace zirvsim
