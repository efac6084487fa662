#pragma once

#include <cstdint>

// A colour as a 32-bit value in the 0x00BBGGRR layout the log and the change marks use.
using TColor = uint32_t;

inline constexpr TColor clBlue = 0xFF0000;   // text from the board
inline constexpr TColor clGreen = 0x008000;  // text from the PC; a field equal to the board
inline constexpr TColor clRed = 0x0000FF;    // the tool's own messages; a changed field
