#include "monitor/sampletimer.h"

TSampleTimer::TSampleTimer(int intervalMs, QObject* parent)
    : QObject(parent), FInterval(intervalMs) {
  FTimer.setTimerType(Qt::PreciseTimer);
  connect(&FTimer, &QTimer::timeout, this, &TSampleTimer::OnTimer);
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
  FTimer.stop();
  // A zero period would make QTimer fire on every pass of the event loop; a negative one is
  // taken like zero: no ticks.
  if (FEnabled && FInterval > 0) FTimer.start(FInterval);
}

#include "moc_sampletimer.cpp"
