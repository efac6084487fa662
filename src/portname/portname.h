#pragma once

#include <string_view>

// The one form of a port name "COMn", shared by the tool and the board simulator: "COM" in
// capitals and a number from 1, written without leading zeros, of at most six digits. An alias
// of any other name could never be opened by the tool, and a name of this form can never lead
// outside the alias folder.

// The port names the tool offers in its port selector: COM1 to COM32.
inline constexpr int kFirstOfferedCom = 1;
inline constexpr int kLastOfferedCom = 32;

// Returns n for a port name "COMn", else 0.
int ComNameNumber(std::string_view name);
