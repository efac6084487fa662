#include "sim/faults.h"

#include <algorithm>
#include <cstdint>

namespace zirvsim {

namespace {

struct TFaultNameRow {
  TFault Fault;
  const char* Name;
};

constexpr TFaultNameRow kNames[] = {
    {TFault::None, "none"},
    {TFault::NoAnswer, "no-answer"},
    {TFault::CutShort, "cut-short"},
    {TFault::MissingTag, "missing-tag"},
    {TFault::MalformedNumber, "malformed-number"},
    {TFault::ExtraLines, "extra-lines"},
    {TFault::CrLf, "crlf"},
    {TFault::Garbage, "garbage"},
    {TFault::HangUpAfter, "hang-up-after"},
    {TFault::SetAnswersDifferent, "set-answers-different"},
    {TFault::IntegralPerSecond, "integral-per-second"},
};

// The trailing number of an answer line starts after its last space (or at its start).
size_t NumberStart(const std::string& line) {
  const size_t space = line.rfind(' ');
  return space == std::string::npos ? 0 : space + 1;
}

}  // namespace

std::string FaultName(TFault fault) {
  for (const TFaultNameRow& row : kNames)
    if (row.Fault == fault) return row.Name;
  return "none";
}

std::optional<TFault> FaultFromName(const std::string& name) {
  for (const TFaultNameRow& row : kNames)
    if (name == row.Name) return row.Fault;
  return std::nullopt;
}

// Line indexes out of range leave the answer whole, so that one mode can stay switched on
// across commands with answers of different lengths (set answers have one line only).
std::vector<std::string> ApplyLineFault(std::vector<std::string> lines, TFault fault, int param) {
  const bool indexed = param >= 0 && static_cast<size_t>(param) < lines.size();
  switch (fault) {
    case TFault::CutShort:
      lines.resize(lines.size() - std::min(lines.size(), static_cast<size_t>(std::max(param, 1))));
      break;
    case TFault::ExtraLines:
      lines.insert(lines.end(), static_cast<size_t>(std::max(param, 1)), "extra: 0");
      break;
    case TFault::MissingTag:
      if (indexed) lines[param] = lines[param].substr(NumberStart(lines[param]));
      break;
    case TFault::MalformedNumber:
      if (indexed) lines[param] = lines[param].substr(0, NumberStart(lines[param])) + "1.2.3";
      break;
    default:
      break;
  }
  return lines;
}

// A linear congruential step per byte: deterministic for a seed, and no CR or LF in the alphabet.
std::string GarbageBytes(int count, uint64_t& random) {
  static constexpr char kAlphabet[] = {'\0', '#', '~', 'x', '\x7f', '\0', '@', '\x1b', 'Z', '\xff'};
  std::string bytes;
  for (int i = 0; i < (count < 1 ? 8 : count); ++i) {
    random = random * 6364136223846793005ull + 1442695040888963407ull;
    bytes.push_back(kAlphabet[(random >> 33) % sizeof kAlphabet]);
  }
  return bytes;
}

}  // namespace zirvsim
