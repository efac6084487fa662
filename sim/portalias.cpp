#include "sim/portalias.h"

#include <filesystem>
#include <system_error>

#include "portname/portname.h"

namespace zirvsim {

namespace fs = std::filesystem;

bool IsValidPortName(const std::string& name) { return ComNameNumber(name) != 0; }

std::string PortAliasPath(const std::string& name) {
  const std::string folder = PortAliasFolder();
  return folder.empty() ? folder : folder + "/" + name;
}

namespace {

// Returns whether the link at path may be replaced without --force.
bool IsReplaceable(const fs::path& path, const std::string& device) {
  std::error_code error;
  if (!fs::is_symlink(fs::symlink_status(path, error))) return false;
  const fs::path target = fs::read_symlink(path, error);
  if (error) return false;
  if (target == device) return true;
  return !fs::exists(path, error);  // a dangling link is a leftover of a simulator that died
}

}  // namespace

// The link is removed and made again rather than overwritten, since a symbolic link cannot be
// retargeted in place; the gap is harmless as the tool only looks the alias up when connecting.
std::string CreatePortAlias(const std::string& aliasPath, const std::string& device, bool force) {
  if (aliasPath.empty()) return kNoAliasFolder;
  const fs::path path(aliasPath);
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  if (error) return "cannot create " + path.parent_path().string() + ": " + error.message();
  const bool present = fs::symlink_status(path, error).type() != fs::file_type::not_found;
  if (present && !force && !IsReplaceable(path, device))
    return aliasPath + " exists and points elsewhere (use --force to replace it)";
  error.clear();
  if (present) fs::remove(path, error);
  if (error) return "cannot remove " + aliasPath + ": " + error.message();
  fs::create_symlink(device, path, error);
  if (error) return "cannot create " + aliasPath + ": " + error.message();
  return {};
}

void RemovePortAlias(const std::string& aliasPath, const std::string& device) {
  std::error_code error;
  const fs::path path(aliasPath);
  if (!fs::is_symlink(fs::symlink_status(path, error))) return;
  if (fs::read_symlink(path, error) != device || error) return;
  fs::remove(path, error);
}

}  // namespace zirvsim
