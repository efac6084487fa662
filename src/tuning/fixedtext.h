#pragma once

#include <string>

#include "globals/numtext.h"

// Returns value in fixed notation with the given decimals (FixedNumberText) for the refusal
// and advice texts, which are plain strings.
inline std::string FixedText(double value, int decimals) { return FixedNumberText(value, decimals).toStdString(); }
