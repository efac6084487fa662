#pragma once

#include <cstdio>
#include <string>

// Returns value in fixed notation with the given decimals ("0.27"), for refusal and advice texts.
inline std::string FixedText(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Returns value as FixedText followed by its unit: one for a text of exactly "1" ("1 count"),
// many otherwise ("0 counts", "3 counts", "1.0 counts").
inline std::string CountText(double value, int decimals, const char* one, const char* many) {
  const std::string text = FixedText(value, decimals);
  return text + ' ' + (text == "1" ? one : many);
}
