#pragma once

#include <string_view>

// The one form of a port name "COMn", shared by the tool and the board simulator: "COM" in
// capitals and a number from 1, written without leading zeros, of at most six digits. An alias
// of any other name could never be opened by the tool, and a name of this form can never lead
// outside the alias folder.

// Returns n for a port name "COMn", else 0.
int ComNameNumber(std::string_view name);
