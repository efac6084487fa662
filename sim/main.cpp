// zirv7-sim: a simulated ZIRV7 board on a pseudo-terminal, for trying and testing the tuning
// tool without hardware. Prints the device path on its first line of output.
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "sim/faults.h"
#include "sim/portalias.h"
#include "sim/simulator.h"

namespace {

constexpr const char* kUsage =
    "usage: zirv7-sim [--link COMn] [--force] [--eeprom FILE] [--no-pacing] [--crlf]\n"
    "                 [--fault NAME[=N]] [--seed N] [--reply-delay MS] [--exit-on-stdin-eof]\n"
    "                 [--motor gain=G,tau=T,friction=F[,noise=N]]\n"
    "faults: none no-answer cut-short missing-tag malformed-number extra-lines crlf garbage\n"
    "        hang-up-after set-answers-different\n"
    "motor:  gain in counts/s per % drive, tau in s, friction and noise in % drive;\n"
    "        keys left out keep 2000, 0.015, 0.5 and 0.02\n";

struct TCommandLine {
  zirvsim::TSimOptions Options;
  std::string Link;
  bool Force = false;
  bool ExitOnStdinEof = false;
  zirvsim::TFault Fault = zirvsim::TFault::None;
  int FaultParam = 0;
};

bool ParseFault(const std::string& text, TCommandLine& line) {
  const size_t equals = text.find('=');
  const auto fault = zirvsim::FaultFromName(text.substr(0, equals));
  if (!fault) return false;
  line.Fault = *fault;
  if (equals != std::string::npos) line.FaultParam = std::atoi(text.c_str() + equals + 1);
  return true;
}

bool ParseMotor(const std::string& text, TCommandLine& line) {
  const auto motor = zirvsim::ParseMotorConstants(text);
  if (motor) line.Options.Motor = *motor;
  return motor.has_value();
}

// Reads the arguments; returns false (after a message) on anything it does not understand.
bool ParseArguments(int argc, char** argv, TCommandLine& line) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--no-pacing") line.Options.Pacing = false;
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
      std::fprintf(stderr, "zirv7-sim: cannot use '%s'\n%s", arg.c_str(), kUsage);
      return false;
    }
  }
  if (!line.Link.empty() && !zirvsim::IsValidPortName(line.Link)) {
    std::fprintf(stderr, "zirv7-sim: port name must be COM and a number, not '%s'\n", line.Link.c_str());
    return false;
  }
  return true;
}

// Blocks the ending signals in every thread and returns a descriptor that reports them.
int SignalDescriptor() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signalfd(-1, &signals, SFD_CLOEXEC);
}

// Returns whether standard input has reached its end (consuming whatever else arrived).
bool StdinAtEnd() {
  char buffer[256];
  const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  return n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
}

// Runs until a signal, the end of standard input (when asked for) or a hang-up of the board.
void WaitForEnd(const zirvsim::TBoardSimulator& sim, int signals, bool watchStdin) {
  while (sim.Running()) {
    pollfd fds[2] = {{signals, POLLIN, 0}, {watchStdin ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 2, 200) < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) return;
    if ((fds[1].revents & (POLLIN | POLLHUP)) && StdinAtEnd()) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  TCommandLine line;
  if (!ParseArguments(argc, argv, line)) return 2;
  const int signals = SignalDescriptor();
  try {
    zirvsim::TBoardSimulator sim(line.Options);
    sim.SetFault(line.Fault, line.FaultParam);
    sim.Start();
    const std::string device = sim.DevicePath();
    std::string alias;
    if (!line.Link.empty()) {
      alias = zirvsim::PortAliasPath(line.Link);
      const std::string refusal = zirvsim::CreatePortAlias(alias, device, line.Force);
      if (!refusal.empty()) {
        std::fprintf(stderr, "zirv7-sim: %s\n", refusal.c_str());
        return 1;
      }
    }
    std::printf("%s\n", device.c_str());
    std::fflush(stdout);
    WaitForEnd(sim, signals, line.ExitOnStdinEof);
    if (!alias.empty()) zirvsim::RemovePortAlias(alias, device);
    sim.Stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zirv7-sim: %s\n", error.what());
    return 1;
  }
  return 0;
}
