#include "portname/portname.h"

#include <cstdlib>
#include <optional>

namespace {

constexpr std::string_view kPrefix = "COM";
constexpr size_t kMaxDigits = 6;

// Returns the value of an environment variable that holds an absolute path, without a slash
// at its end ("/" itself becomes ""), else nothing.
std::optional<std::string> AbsolutePathVariable(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return std::nullopt;
  std::string path = value;
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

int ComNameNumber(std::string_view name) {
  if (name.substr(0, kPrefix.size()) != kPrefix) return 0;
  const std::string_view digits = name.substr(kPrefix.size());
  if (digits.empty() || digits.size() > kMaxDigits || digits.front() == '0') return 0;
  int number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number;
}

std::string PortAliasFolder() {
  std::optional<std::string> config = AbsolutePathVariable("XDG_CONFIG_HOME");
  if (!config) {
    const std::optional<std::string> home = AbsolutePathVariable("HOME");
    if (!home) return {};
    config = *home + "/.config";
  }
  return *config + "/zirv7tune/ports";
}
