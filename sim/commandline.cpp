#include "sim/commandline.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "portname/portname.h"
#include "sim/board.h"
#include "sim/plant.h"
#include "sim/portalias.h"

namespace zirvsim {

namespace {

// Reads a whole number from min to max, the whole text and nothing else; says why not.
bool ReadWhole(const std::string& option, const std::string& text, long long min, long long max,
               long long& value) {
  long long read = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
  if (error == std::errc() && end == text.data() + text.size() && read >= min && read <= max) {
    value = read;
    return true;
  }
  std::fprintf(stderr, "zirv7-sim: %s '%s': not a whole number from %lld to %lld\n", option.c_str(),
               text.c_str(), min, max);
  return false;
}

bool ParseFault(const std::string& text, TCommandLine& line) {
  const size_t equals = text.find('=');
  const auto fault = FaultFromName(text.substr(0, equals));
  if (!fault) {
    std::fprintf(stderr, "zirv7-sim: --fault '%s': no such fault; see 'zirv7-sim --help'\n", text.c_str());
    return false;
  }
  line.Fault = *fault;
  if (equals == std::string::npos) return true;
  long long param = 0;
  if (!ReadWhole("--fault " + text.substr(0, equals), text.substr(equals + 1), INT_MIN, INT_MAX, param))
    return false;
  line.FaultParam = int(param);
  return true;
}

bool ParseSeed(const std::string& text, TCommandLine& line) {
  long long seed = 0;
  if (!ReadWhole("--seed", text, 0, LLONG_MAX, seed)) return false;
  line.Options.Seed = uint64_t(seed);
  return true;
}

bool ParseReplyDelay(const std::string& text, TCommandLine& line) {
  long long ms = 0;
  if (!ReadWhole("--reply-delay", text, 0, 60000, ms)) return false;
  line.Options.ReplyDelayMs = int(ms);
  return true;
}

// What is checked once every option is read.
bool CheckLink(const std::string& link) {
  if (link.empty()) return true;
  if (!IsValidPortName(link)) {
    std::fprintf(stderr, "zirv7-sim: port name must be COM and a number from 1 without leading zeros, not '%s'\n", link.c_str());
    return false;
  }
  if (ComNameNumber(link) <= kLastOfferedCom) return true;
  std::fprintf(stderr, "zirv7-sim: %s is not one of the tool's port names (COM%d to COM%d)\n", link.c_str(),
               kFirstOfferedCom, kLastOfferedCom);
  return false;
}

bool CheckEeprom(const std::string& path) {
  if (path.empty()) return true;
  const std::string problem = EepromFileProblem(path);
  if (problem.empty()) return true;
  std::fprintf(stderr, "zirv7-sim: --eeprom %s: %s\n", path.c_str(), problem.c_str());
  return false;
}

bool ParseMotor(const std::string& text, TCommandLine& line) {
  const auto motor = ParseMotorConstants(text);
  if (motor) line.Options.Motor = *motor;
  else
    std::fprintf(stderr, "zirv7-sim: --motor '%s': an unknown or repeated key, or a value beyond what a motor can be\n",
                 text.c_str());
  return motor.has_value();
}

}  // namespace

namespace {

// An option with a value and what reads the value into the command line, saying why not.
struct TValueOption {
  const char* Name;
  bool (*Read)(const std::string& value, TCommandLine& line);
};

constexpr TValueOption kValueOptions[] = {
    {"--link", [](const std::string& v, TCommandLine& l) { l.Link = v; return true; }},
    {"--eeprom", [](const std::string& v, TCommandLine& l) { l.Options.EepromFile = v; return true; }},
    {"--seed", ParseSeed},
    {"--reply-delay", ParseReplyDelay},
    {"--fault", ParseFault},
    {"--motor", ParseMotor},
};

// Sets a flag option; returns false when arg is none.
bool SetFlag(const std::string& arg, TCommandLine& line) {
  if (arg == "--help" || arg == "-h") line.Help = true;
  else if (arg == "--version") line.Version = true;
  else if (arg == "--no-pacing") line.Options.Pacing = false;
  else if (arg == "--crlf") line.Options.CrLf = true;
  else if (arg == "--force") line.Force = true;
  else if (arg == "--exit-on-stdin-eof") line.ExitOnStdinEof = true;
  else return false;
  return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, TCommandLine& line) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (SetFlag(arg, line)) continue;
    const auto option = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                     [&](const TValueOption& o) { return arg == o.Name; });
    if (option != std::end(kValueOptions) && i + 1 < argc) {
      if (!option->Read(argv[++i], line)) return false;
      continue;
    }
    std::fprintf(stderr, "zirv7-sim: cannot use '%s'; see 'zirv7-sim --help'\n", arg.c_str());
    return false;
  }
  if (line.Help || line.Version) return true;
  return CheckLink(line.Link) && CheckEeprom(line.Options.EepromFile);
}

}  // namespace zirvsim
