#include "sim/board.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/numbers.h"

namespace zirvsim {

namespace {

// One stored parameter: its set letter, its EEPROM file key and its field (double or integer).
struct TParamSlot {
  char Letter;
  const char* Key;
  double TBoardParams::*DoubleField;
  int32_t TBoardParams::*IntField;
};

// In the order of the "l" answer's lines 3 to 16.
constexpr TParamSlot kSlots[] = {
    {'p', "P", &TBoardParams::P, nullptr},
    {'i', "I", &TBoardParams::I, nullptr},
    {'d', "D", &TBoardParams::D, nullptr},
    {'0', "FF0", &TBoardParams::FeedForward0, nullptr},
    {'1', "FF1", &TBoardParams::FeedForward1, nullptr},
    {'b', "Deadband", &TBoardParams::Deadband, nullptr},
    {'m', "MaxOutput", &TBoardParams::MaxOutput, nullptr},
    {'f', "FaultError", &TBoardParams::FaultError, nullptr},
    {'x', "Multiplier", nullptr, &TBoardParams::Multiplier},
    {'t', "TicksPerServo", nullptr, &TBoardParams::TicksPerServo},
    {'h', "HallTimeout", nullptr, &TBoardParams::HallTimeout},
    {'g', "DoChargeElcos", nullptr, &TBoardParams::DoChargeElcos},
    {'a', "PhaseAdvance", nullptr, &TBoardParams::PhaseAdvance},
    {'c', "SVMCycle", nullptr, &TBoardParams::SVMCycle},
};

const TParamSlot* FindSlot(char letter) {
  for (const TParamSlot& slot : kSlots)
    if (slot.Letter == letter) return &slot;
  return nullptr;
}

double GetSlot(const TBoardParams& params, const TParamSlot& slot) {
  return slot.DoubleField ? params.*slot.DoubleField : params.*slot.IntField;
}

// Integer parameters are rounded (ties to even) into 32 bits; clamping follows afterwards.
void SetSlot(TBoardParams& params, const TParamSlot& slot, double value) {
  if (slot.DoubleField) {
    params.*slot.DoubleField = value;
    return;
  }
  params.*slot.IntField = static_cast<int32_t>(RoundClamped(value, INT32_MIN, INT32_MAX));
}

std::string Tagged(char letter, const std::string& number) { return std::string("(") + letter + ") " + number; }

// Dynamic values are printed with at most four decimals, as a small firmware would.
std::string Decimals4(double value) { return FormatPlain(std::round(value * 1e4) / 1e4); }

// Servo cycles beyond this much time are not simulated in one go: after a long idle spell the
// motor is at rest anyway, and the bound keeps one call cheap.
constexpr double kMaxCatchUpSeconds = 10.0;

}  // namespace

TBoardParams ClampParams(TBoardParams p) {
  p.MaxOutput = std::clamp(p.MaxOutput, 0.0, 100.0);
  p.Deadband = std::max(p.Deadband, 0.0);
  p.FaultError = std::max(p.FaultError, 0.0);
  p.Multiplier = std::clamp(p.Multiplier, 1, 1000);
  p.TicksPerServo = std::clamp(p.TicksPerServo, 1, 100);
  p.HallTimeout = std::clamp(p.HallTimeout, 0, 65535);
  p.DoChargeElcos = std::clamp(p.DoChargeElcos, 0, 1);
  p.PhaseAdvance = std::clamp(p.PhaseAdvance, 0, 1023);
  p.SVMCycle = std::clamp(p.SVMCycle, 1, 4);
  p.Enabled = p.Enabled ? 1 : 0;
  return p;
}

bool IsParamLetter(char letter) { return FindSlot(letter) != nullptr; }

TBoardModel::TBoardModel(uint64_t seed, const TMotorConstants& motor) : FSeed(seed), FMotor(seed, motor) {}

TBoardParams TBoardModel::Params() const {
  TBoardParams p = FParams;
  p.Enabled = FLoop.State().Enabled ? 1 : 0;
  return p;
}

void TBoardModel::SetParams(const TBoardParams& params) {
  FParams = ClampParams(params);
  if (FParams.Enabled && !FLoop.State().Enabled) RestartServo();
}

TServoGains TBoardModel::Gains() const {
  return {FParams.P, FParams.I, FParams.D, FParams.Deadband, FParams.MaxOutput, FParams.FeedForward0, FParams.FeedForward1,
          FParams.FaultError, FIntegralPerSecond};
}

void TBoardModel::RestartServo() {
  // The command starts where the motor stands so that re-enabling does not jump.
  FCommand = FMotor.EncoderCounts();
  FLoop.Enable();
}

void TBoardModel::RunCycles(int64_t cycles) {
  const TServoGains gains = Gains();
  const double period = ServoPeriod();
  const double oscillatorStep = FOscillator ? kOscillatorClock / FOscillator * period : 0;
  for (int64_t n = 0; n < cycles; ++n) {
    FOscillatorCarry += oscillatorStep;
    const double whole = std::trunc(FOscillatorCarry);
    FCommand += static_cast<int64_t>(whole);
    FOscillatorCarry -= whole;
    const double drive = FLoop.Cycle(gains, FCommand, FMotor.EncoderCounts(), period);
    FMotor.Step(drive, period);
  }
}

void TBoardModel::RunFor(double seconds) {
  FTimeCarry = std::min(FTimeCarry + std::max(seconds, 0.0), kMaxCatchUpSeconds);
  const double period = ServoPeriod();
  const auto cycles = static_cast<int64_t>(FTimeCarry / period);
  FTimeCarry -= static_cast<double>(cycles) * period;
  RunCycles(cycles);
}

std::vector<std::string> TBoardModel::Answer(const std::string& command) {
  FParamsChanged = false;
  FLastAnswerDuration = 0;
  if (command == "s") return StatusAnswer();
  if (command == "l") return ListAnswer();
  if (command.size() >= 2 && command[0] == 'r') return StepAnswer(command);
  if (command.empty()) return {"?"};
  const std::string argument = command.substr(1);
  if (command.size() > 1 && command[1] != ' ') return {"?"};
  if (command[0] == 'o') return OscillatorAnswer(argument);
  return SetAnswer(command[0], argument);
}

std::vector<std::string> TBoardModel::StatusAnswer() {
  const TServoState& s = FLoop.State();
  const TStatusOverride o = FOverride.value_or(TStatusOverride{});
  FOverride.reset();
  auto line = [](const char* tag, const std::optional<double>& forced, double actual) {
    return std::string(tag) + ": " + Decimals4(forced.value_or(actual));
  };
  return {line("command", o.Command, static_cast<double>(FCommand)),
          line("feedback", o.Feedback, static_cast<double>(FMotor.EncoderCounts())),
          line("error", o.Error, s.Error),
          line("error_i", o.ErrorI, s.ErrorI),
          line("error_d", o.ErrorD, s.ErrorD),
          line("output", o.Output, s.Output),
          line("limit_state", o.LimitState, s.LimitState),
          line("servo enabled", o.Enabled, s.Enabled ? 1 : 0),
          line("test_osc", o.TestOsc, FOscillator)};
}

std::vector<std::string> TBoardModel::ListAnswer() const {
  std::vector<std::string> lines = {"ZIRV7 servo parameters", "eeprom version: 1",
                                    "servo enabled: " + std::string(FLoop.State().Enabled ? "1" : "0")};
  for (const TParamSlot& slot : kSlots) lines.push_back(Tagged(slot.Letter, FormatPlain(GetSlot(FParams, slot))));
  return lines;
}

std::vector<std::string> TBoardModel::SetAnswer(char letter, const std::string& argument) {
  const TParamSlot* slot = FindSlot(letter);
  if (!slot) return {"?"};
  // A letter without a number asks for the stored value.
  if (argument.find_first_not_of(' ') == std::string::npos)
    return {Tagged(letter, FormatPlain(GetSlot(FParams, *slot)))};
  const std::optional<double> value = ParseNumber(argument);
  if (!value) return {"?"};
  TBoardParams changed = FParams;
  SetSlot(changed, *slot, *value);
  changed = ClampParams(changed);
  FParamsChanged = !(changed == FParams);
  FParams = changed;
  return {Tagged(letter, FormatPlain(GetSlot(FParams, *slot)))};
}

std::vector<std::string> TBoardModel::OscillatorAnswer(const std::string& argument) {
  const std::optional<double> value = ParseNumber(argument);
  if (!value) return {"?"};
  FOscillator = static_cast<int>(RoundClamped(*value, INT32_MIN, INT32_MAX));
  FOscillatorCarry = 0;
  if (!FLoop.State().Enabled) RestartServo();
  return {"(o) " + std::to_string(FOscillator)};
}

bool ParseStepCommand(const std::string& command, int& prediv, long long& step) {
  char tail[8] = {0};
  int consumed = 0;
  if (std::sscanf(command.c_str(), "r%dc%lld%7s%n", &prediv, &step, tail, &consumed) != 3) return false;
  if (static_cast<size_t>(consumed) != command.size() || std::string(tail) != "ok1") return false;
  if (command[1] < '0' || command[1] > '9') return false;
  return prediv >= 0 && prediv <= 9999 && std::llabs(step) <= 1000000000;
}

std::vector<std::string> TBoardModel::StepAnswer(const std::string& command) {
  int prediv = 0;
  long long step = 0;
  if (!ParseStepCommand(command, prediv, step)) return {"?"};
  if (!FLoop.State().Enabled) RestartServo();
  // How many idle cycles ran before depends on the wall clock; a fresh disturbance sequence
  // per test makes a step test from rest give the same answer on every run with this seed.
  FMotor.Reseed(FSeed + 0x9E3779B97F4A7C15ull * ++FStepTests);
  std::vector<std::string> lines = {"step response", "prediv: " + std::to_string(prediv),
                                    "step: " + std::to_string(step), "samples: " + std::to_string(kStepSamples)};
  lines.reserve(4 + 2 * kStepSamples + 2);
  // The step passes through the step multiplier like every step input of the board.
  FCommand += step * FParams.Multiplier;
  for (int n = 0; n < kStepSamples; ++n) {
    RunCycles(prediv + 1);
    lines.push_back("error: " + Decimals4(FLoop.State().Error));
    lines.push_back("output: " + Decimals4(FLoop.State().Output));
  }
  FLastAnswerDuration = kStepSamples * (prediv + 1) * ServoPeriod();
  lines.push_back("end of step response");
  lines.push_back("cycles: " + std::to_string(kStepSamples * (prediv + 1)));
  return lines;
}

// The temporary file is made new by mkstemp (O_EXCL), so nothing planted beside the file, a
// link least of all, receives the data; the rename then replaces the name itself.
bool SaveParams(const std::string& path, const TBoardParams& params) {
  std::ostringstream text;
  for (const TParamSlot& slot : kSlots) text << slot.Key << ' ' << FormatPlain(GetSlot(params, slot)) << '\n';
  const std::string bytes = text.str();
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  struct stat old {};
  const mode_t mode = lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 0777 : 0644;
  bool ok = fchmod(fd, mode) == 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

namespace {

// Reads one line of an EEPROM file, "KEY VALUE" of a board parameter, into params; returns
// false for any other line.
bool ReadParamLine(const std::string& line, TBoardParams& params) {
  std::istringstream fields(line);
  std::string key, text, rest;
  if (!(fields >> key >> text) || (fields >> rest)) return false;
  const std::optional<double> value = ParseNumber(text);
  if (!value) return false;
  for (const TParamSlot& slot : kSlots) {
    if (key != slot.Key) continue;
    SetSlot(params, slot, *value);
    return true;
  }
  return false;
}

}  // namespace

std::optional<TBoardParams> LoadParams(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  TBoardParams params;
  for (std::string line; std::getline(in, line);) ReadParamLine(line, params);
  return ClampParams(params);
}

std::string EepromFileProblem(const std::string& path) {
  struct stat node {};
  if (stat(path.c_str(), &node) == 0 && S_ISDIR(node.st_mode)) return "a folder, not a file";
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat dir {};
  if (stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
    return "its folder " + folder + " does not exist";
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return "its folder " + folder + " cannot be written to (" + std::strerror(errno) + "), so no change would be kept";
  if (stat(path.c_str(), &node) != 0) return "";
  if (!S_ISREG(node.st_mode)) return "not a regular file";
  std::ifstream in(path);
  if (!in) return std::string("it cannot be read (") + std::strerror(errno) + ")";
  TBoardParams params;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos || ReadParamLine(line, params)) continue;
    return "line " + std::to_string(number) +
           " is not \"KEY VALUE\" of a board parameter (\"P 0.2\"): not an EEPROM file of zirv7-sim";
  }
  return "";
}

}  // namespace zirvsim
