#include "serial/rxhandoff.h"

#include <algorithm>
#include <utility>

TRxHandoff::TTakeScope::TTakeScope(TRxHandoff& handoff, bool takes)
    : FCount(handoff.FTakeCount), FStep(takes ? 1 : 0) {
  FCount += FStep;
}

TRxHandoff::TTakeScope::~TTakeScope() { FCount += FStep; }

quint64 TRxHandoff::Request(bool lost) {
  quint64 id = 0;
  {
    std::lock_guard lock(FMutex);
    id = ++FRequested;
    FLostPending = lost;
  }
  // A closing owner waits for this too: it runs the hand-off itself.
  FCond.notify_all();
  FPost(id);
  return id;
}

void TRxHandoff::WaitDone(quint64 id) {
  std::unique_lock lock(FMutex);
  FCond.wait(lock, [&] { return FDone >= id; });
}

void TRxHandoff::MarkThreadFinished() {
  std::lock_guard lock(FMutex);
  FThreadFinished = true;
  FCond.notify_all();
}

void TRxHandoff::Run(quint64 id, const THandler& handle) {
  bool lost = false;
  {
    std::lock_guard lock(FMutex);
    if (id <= FDone) return;
    lost = FLostPending;
  }
  const quint64 outer = std::exchange(FRunning, id);
  handle(lost);
  FRunning = outer;
  std::lock_guard lock(FMutex);
  FDone = std::max(FDone, id);
  FCond.notify_all();
}

void TRxHandoff::RunUntilThreadFinished(const THandler& handle) {
  std::unique_lock lock(FMutex);
  if (FRunning != 0) {
    FDone = std::max(FDone, FRunning);
    FCond.notify_all();
  }
  for (;;) {
    FCond.wait(lock, [&] { return FThreadFinished || FRequested > FDone; });
    if (FThreadFinished) break;
    const quint64 id = FRequested;
    lock.unlock();
    Run(id, handle);
    lock.lock();
  }
  FThreadFinished = false;
}
