#pragma once

#include <string>
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

// Returns the folder of the port names' aliases, ${XDG_CONFIG_HOME:-$HOME/.config}/zirv7tune/ports.
// A variable that is unset, empty or a relative path counts as missing; with neither, there is
// no alias folder and the result is empty (a name "COMn" then leads to its legacy port).
std::string PortAliasFolder();

// Why an alias cannot be made when there is no alias folder.
inline constexpr const char* kNoAliasFolder =
    "no folder for the aliases: set HOME (or XDG_CONFIG_HOME) to a folder of yours";
