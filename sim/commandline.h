#pragma once

// zirv7-sim's command line.

#include <string>

#include "sim/faults.h"
#include "sim/simulator.h"

namespace zirvsim {

// What the command line asks for.
struct TCommandLine {
  TSimOptions Options;
  std::string Link;
  bool Force = false;
  bool ExitOnStdinEof = false;
  bool Help = false;
  bool Version = false;
  TFault Fault = TFault::None;
  int FaultParam = 0;
};

// Reads the arguments (argv[1] to argv[argc - 1]) into line; returns false, after a message on
// stderr, on anything it does not understand: an unknown option, a missing value, an unknown
// fault, a --motor text that is no motor, a --link name that is no port name.
bool ParseArguments(int argc, char** argv, TCommandLine& line);

}  // namespace zirvsim
