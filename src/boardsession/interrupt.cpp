#include "boardsession/interrupt.h"

#include <csignal>
#include <iterator>

namespace {

// Each ends the program by default, and each leaves time to put the board back: a kill
// from another program, or a closed terminal window, as well as Ctrl+C and Ctrl+\.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile std::sig_atomic_t gInterrupted = 0;
struct sigaction gPrevious[std::size(kSignals)] {};

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

TInterruptGuard::TInterruptGuard() {
  gInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarted system calls keep the port's reads and writes from failing with EINTR.
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
}

TInterruptGuard::~TInterruptGuard() {
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
}

bool TInterruptGuard::Interrupted() { return gInterrupted != 0; }
