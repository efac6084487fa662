#pragma once

// Catches SIGINT (Ctrl+C), SIGQUIT (Ctrl+\), SIGTERM and SIGHUP (the terminal closed) while it
// exists, so that an operation that changed the board can put it back before the program ends.
// The handler only sets a flag; the operation asks for it between its steps. The previous
// handling comes back when the guard goes.
class TInterruptGuard {
 public:
  TInterruptGuard();
  ~TInterruptGuard();
  TInterruptGuard(const TInterruptGuard&) = delete;
  TInterruptGuard& operator=(const TInterruptGuard&) = delete;

  // Returns whether one of the signals arrived since the guard was made.
  static bool Interrupted();
};
