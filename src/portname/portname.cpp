#include "portname/portname.h"

namespace {

constexpr std::string_view kPrefix = "COM";
constexpr size_t kMaxDigits = 6;

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
