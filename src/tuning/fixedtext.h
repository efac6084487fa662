#pragma once

#include <cstdio>
#include <string>

// Returns value in fixed notation with the given decimals ("0.27"), for refusal and advice texts.
inline std::string FixedText(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}
