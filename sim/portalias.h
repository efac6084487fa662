#pragma once

#include <string>

namespace zirvsim {

// Returns whether a port name may become an alias: a name of the form the tool reads, "COMn"
// (ComNameNumber), so that the alias can be used and can never lead outside the alias folder.
bool IsValidPortName(const std::string& name);

// Returns where the tool looks for the named port's alias: <name> in PortAliasFolder(), "" when
// there is no alias folder.
std::string PortAliasPath(const std::string& name);

// Makes aliasPath a symbolic link to device, creating the folders; refuses an empty aliasPath
// (no alias folder). An existing link is replaced when it already points to device or to
// nothing that exists; anything else is only replaced with force. Returns an empty string on
// success, else the reason for refusing.
std::string CreatePortAlias(const std::string& aliasPath, const std::string& device, bool force);

// Removes aliasPath if it is still a link to device (another simulator may have taken it over).
void RemovePortAlias(const std::string& aliasPath, const std::string& device);

}  // namespace zirvsim
