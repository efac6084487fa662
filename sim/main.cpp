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

#include "sim/commandline.h"
#include "sim/portalias.h"
#include "sim/simulator.h"
#include "version.h"

namespace {

// The program's help: the manual page's synopsis, options and faults are made from it.
constexpr const char* kHelp =
    "Usage: zirv7-sim [options]\n"
    "A simulated ZIRV7 board on a pseudo-terminal. It prints the path of its device\n"
    "as the first line of its output.\n"
    "\n"
    "Options:\n"
    "  --link COMn            Make the board reachable as port COMn of the tool.\n"
    "  --force                Take COMn's alias even from another device.\n"
    "  --eeprom FILE          Keep the board's parameters in FILE between runs.\n"
    "  --no-pacing            Answer at once instead of at the serial line's pace.\n"
    "  --crlf                 End answer lines with CR LF instead of CR, as a terminal\n"
    "                         program shows them.\n"
    "  --fault NAME[=N]       Misbehave in the named way (see Faults).\n"
    "  --seed N               Seed the motor's disturbance and noise (default 1).\n"
    "  --reply-delay MS       Wait MS milliseconds before each answer (default 2).\n"
    "  --exit-on-stdin-eof    End when standard input ends.\n"
    "  --motor KEY=VALUE[,KEY=VALUE...]\n"
    "                         Set the motor: gain in counts/s per % drive, tau (its\n"
    "                         mechanical time constant) in s, friction and noise in\n"
    "                         % drive. Keys left out keep 2000, 0.015, 0.5, 0.02.\n"
    "                         What real machines add (absent unless given): lag (s)\n"
    "                         before the motor, delay (whole servo cycles), play\n"
    "                         (counts between motor and encoder), encnoise (counts the\n"
    "                         reading flickers by), breakaway (% drive to start from\n"
    "                         rest, at least the friction) with stribeck (counts/s\n"
    "                         over which it falls to the friction; 0: at rest only),\n"
    "                         and a second mass on a spring: resonance (Hz), damping\n"
    "                         (ratio) and ratio (its inertia over the motor's, 1),\n"
    "                         with onload=1 the encoder on that mass. Loads: load (%\n"
    "                         drive, constant), gravity (% drive to hold an arm level)\n"
    "                         with angle (degrees from hanging down at position 0,\n"
    "                         90), spring (% drive per count) from wall (counts, 0);\n"
    "                         inertia (R: 1 to 1 + R times over a revolution), current\n"
    "                         (% drive the torque saturates at), cogging (% drive)\n"
    "                         with cogs (per revolution, 24), warm (s to warm up) with\n"
    "                         warmgain (-0.2) and warmfriction (-0.5), cpr (encoder\n"
    "                         counts per revolution, 4000) and glitch (single-cycle\n"
    "                         jumps of 1 or 2 counts per second). Counts and speeds\n"
    "                         are those of 4000 per revolution whatever cpr says.\n"
    "                         Values beyond what a motor can be are refused (gain up\n"
    "                         to 1E7, tau 1E-5 to 100, % values up to 100).\n"
    "  -h, --help             Show this help and exit.\n"
    "  --version              Show the version and exit.\n"
    "\n"
    "Faults (--fault NAME=N):\n"
    "  none                   Answer every command correctly.\n"
    "  no-answer              Take commands but never answer.\n"
    "  cut-short              Drop the last N lines of every answer (at least 1).\n"
    "  missing-tag            Leave out the tag of line N of every answer.\n"
    "  malformed-number       Send \"1.2.3\" as the number of line N of every answer.\n"
    "  extra-lines            Add N lines \"extra: 0\" to every answer (at least 1).\n"
    "  crlf                   End answer lines with CR LF instead of CR.\n"
    "  garbage                Send N noise bytes after every answer (8 when N < 1).\n"
    "  hang-up-after          Answer N more commands, then hang up as if unplugged.\n"
    "  set-answers-different  Store and echo a set value plus N (1 when N is 0).\n"
    "  integral-per-second    Run a loop whose integral sums error x servo period\n"
    "                         (I per second) instead of error per cycle.\n";

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
  zirvsim::TCommandLine line;
  if (!zirvsim::ParseArguments(argc, argv, line)) return 2;
  if (line.Help || line.Version) {
    std::fputs(line.Help ? kHelp : "zirv7-sim " ZIRV_VERSION "\n", stdout);
    return 0;
  }
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
