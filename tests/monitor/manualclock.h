#pragma once

// A sample timer's clock that moves only when a test moves it, so that a test counts the ticks
// of a stretch of time instead of timing them on a machine that may be busy.
#include <memory>

#include "monitor/sampletimer.h"

class TManualClock : public TTickClock {
 public:
  void Start(int ms) override {
    FPeriod = FLeft = ms;
    FActive = true;
  }
  void Stop() override { FActive = false; }
  bool Active() const override { return FActive; }

  // Moves the clock ms forward and runs each tick that falls due meanwhile, in order; a tick's
  // handler may stop or restart the countdown, which then counts from the moment of that tick.
  // Returns the number of ticks.
  int Advance(int ms) {
    int ticks = 0;
    while (FActive && FLeft <= ms) {
      ms -= FLeft;
      FLeft = FPeriod;
      ++ticks;
      OnTick();
    }
    if (FActive) FLeft -= ms;
    return ticks;
  }

 private:
  int FPeriod = 0;
  int FLeft = 0;
  bool FActive = false;
};

// Puts a manual clock under timer and returns it; the timer owns it.
inline TManualClock& UseManualClock(TSampleTimer& timer) {
  auto clock = std::make_unique<TManualClock>();
  TManualClock& manual = *clock;
  timer.SetClock(std::move(clock));
  return manual;
}
