#include "monitor/sampletimer.h"

TEventLoopClock::TEventLoopClock() {
  FTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&FTimer, &QTimer::timeout, [this] { OnTick(); });
}

TSampleTimer::TSampleTimer(int intervalMs, QObject* parent)
    : QObject(parent), FInterval(intervalMs) {
  SetClock(std::make_unique<TEventLoopClock>());
}

void TSampleTimer::SetClock(std::unique_ptr<TTickClock> clock) {
  if (FClock) FClock->Stop();
  FClock = std::move(clock);
  FClock->OnTick = [this] { emit OnTimer(); };
  Restart();
}

void TSampleTimer::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  Restart();
}

void TSampleTimer::SetInterval(int intervalMs) {
  if (intervalMs == FInterval) return;
  FInterval = intervalMs;
  Restart();
}

void TSampleTimer::Restart() {
  FClock->Stop();
  // A zero period would make QTimer fire on every pass of the event loop; a negative one is
  // taken like zero: no ticks.
  if (FEnabled && FInterval > 0) FClock->Start(FInterval);
}

#include "moc_sampletimer.cpp"
