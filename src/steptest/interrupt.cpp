#include "steptest/interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
struct sigaction gPrevious {};

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

TInterruptGuard::TInterruptGuard() {
  gInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarted system calls keep the port's reads and writes from failing with EINTR.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &gPrevious);
}

TInterruptGuard::~TInterruptGuard() { sigaction(SIGINT, &gPrevious, nullptr); }

bool TInterruptGuard::Interrupted() { return gInterrupted != 0; }
