#include "sim/commandline.h"

#include <cstdio>
#include <cstdlib>

#include "sim/plant.h"
#include "sim/portalias.h"

namespace zirvsim {

namespace {

bool ParseFault(const std::string& text, TCommandLine& line) {
  const size_t equals = text.find('=');
  const auto fault = FaultFromName(text.substr(0, equals));
  if (!fault) return false;
  line.Fault = *fault;
  if (equals != std::string::npos) line.FaultParam = std::atoi(text.c_str() + equals + 1);
  return true;
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

bool ParseArguments(int argc, char** argv, TCommandLine& line) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") line.Help = true;
    else if (arg == "--version") line.Version = true;
    else if (arg == "--no-pacing") line.Options.Pacing = false;
    else if (arg == "--crlf") line.Options.CrLf = true;
    else if (arg == "--force") line.Force = true;
    else if (arg == "--exit-on-stdin-eof") line.ExitOnStdinEof = true;
    else if (arg == "--link" && hasValue) line.Link = argv[++i];
    else if (arg == "--eeprom" && hasValue) line.Options.EepromFile = argv[++i];
    else if (arg == "--seed" && hasValue) line.Options.Seed = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--reply-delay" && hasValue) line.Options.ReplyDelayMs = std::atoi(argv[++i]);
    else if (arg == "--fault" && hasValue && ParseFault(argv[i + 1], line)) ++i;
    else if (arg == "--motor" && hasValue && ParseMotor(argv[i + 1], line)) ++i;
    else {
      std::fprintf(stderr, "zirv7-sim: cannot use '%s'; see 'zirv7-sim --help'\n", arg.c_str());
      return false;
    }
  }
  if (line.Help || line.Version) return true;
  if (!line.Link.empty() && !IsValidPortName(line.Link)) {
    std::fprintf(stderr, "zirv7-sim: port name must be COM and a number from 1 without leading zeros, not '%s'\n", line.Link.c_str());
    return false;
  }
  return true;
}

}  // namespace zirvsim
