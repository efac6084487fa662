#pragma once

// A port clock whose time passes only in the port's waits: a wait that nothing ends passes its
// whole length at once. A test counts how long a time-out lasted without spending that time,
// and a busy machine cannot stretch it. What the board does meanwhile is scheduled at moments
// of that time, and happens when a wait reaches them.
#include <poll.h>

#include <functional>
#include <map>

#include "serial/comtimeouts.h"

class TVirtualPortClock : public TPortClock {
 public:
  int64_t NowMs() override { return FNow; }

  int Poll(pollfd& p, int64_t ms) override {
    const int ready = ::poll(&p, 1, 0);
    if (ready != 0) return ready;
    const auto next = FAt.begin();
    if (next == FAt.end() || (ms >= 0 && next->first > FNow + ms)) {
      FNow += ms;
      return ms < 0 ? ::poll(&p, 1, -1) : 0;
    }
    FNow = next->first;
    const std::function<void()> action = next->second;
    FAt.erase(next);
    action();
    // What the action sent passes the pseudo-terminal a moment later: that moment is not time
    // of the line's, so the wait ends when it has come.
    return ::poll(&p, 1, kArrivalMs);
  }

  // Runs action when a wait reaches ms.
  void At(int64_t ms, std::function<void()> action) { FAt.emplace(ms, std::move(action)); }

 private:
  // Only a failing test waits this long: bytes written to a pseudo-terminal arrive at once.
  static constexpr int kArrivalMs = 10000;
  int64_t FNow = 0;
  std::multimap<int64_t, std::function<void()>> FAt;
};
