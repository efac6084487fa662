#pragma once

#include <string>

#include "globals/numtext.h"

// Returns value in fixed notation with the given decimals (FixedNumberText) for the refusal
// and advice texts, which are plain strings.
inline std::string FixedText(double value, int decimals) { return FixedNumberText(value, decimals).toStdString(); }

// Returns value as FixedText followed by its unit: one for a text of exactly "1" ("1 count"),
// many otherwise ("0 counts", "3 counts", "1.0 counts").
inline std::string CountText(double value, int decimals, const char* one, const char* many) {
  const std::string text = FixedText(value, decimals);
  return text + ' ' + (text == "1" ? one : many);
}
