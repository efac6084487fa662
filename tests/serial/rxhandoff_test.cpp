// The meeting point of a port's event thread and its owner, without a device: each hand-off
// runs once, a closing owner runs what the thread queues, and the take count.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/rxhandoff.h"

namespace {

// The ids posted to the owner, as its event queue would hold them.
struct TPosted {
  std::mutex Mutex;
  std::vector<quint64> Ids;
  void Add(quint64 id) {
    std::lock_guard lock(Mutex);
    Ids.push_back(id);
  }
  std::vector<quint64> Take() {
    std::lock_guard lock(Mutex);
    return std::exchange(Ids, {});
  }
};

// The owner runs a posted hand-off once; its event arriving again (already run by a close)
// runs nothing.
TEST(RxHandoff, EachHandoffRunsOnce) {
  TPosted posted;
  TRxHandoff handoff([&](quint64 id) { posted.Add(id); });
  std::vector<bool> runs;
  std::thread events([&] {
    handoff.WaitDone(handoff.Request(false));
    handoff.WaitDone(handoff.Request(true));
  });
  while (runs.size() < 2) {
    for (quint64 id : posted.Take()) {
      handoff.Run(id, [&](bool lost) { runs.push_back(lost); });
      handoff.Run(id, [&](bool lost) { runs.push_back(lost); });
    }
    std::this_thread::yield();
  }
  events.join();
  EXPECT_EQ(runs, (std::vector<bool>{false, true}));
}

// A closing owner that never looks at its events runs every hand-off the thread queues until
// the thread ends; the posted events then find them done.
TEST(RxHandoff, ClosingOwnerRunsWhatTheThreadQueues) {
  TPosted posted;
  TRxHandoff handoff([&](quint64 id) { posted.Add(id); });
  std::thread events([&] {
    for (int i = 0; i < 3; ++i) handoff.WaitDone(handoff.Request(false));
    handoff.MarkThreadFinished();
  });
  int runs = 0;
  handoff.RunUntilThreadFinished([&](bool) { ++runs; });
  events.join();
  EXPECT_EQ(runs, 3);
  for (quint64 id : posted.Take()) handoff.Run(id, [&](bool) { ++runs; });
  EXPECT_EQ(runs, 3);
}

// A handler that closes the port releases the thread from the hand-off it is running, so that
// the thread can end while the handler still runs.
TEST(RxHandoff, HandlerThatClosesReleasesItsOwnHandoff) {
  TPosted posted;
  TRxHandoff handoff([&](quint64 id) { posted.Add(id); });
  std::atomic<bool> stop{false};
  std::thread events([&] {
    handoff.WaitDone(handoff.Request(false));
    while (!stop) std::this_thread::yield();  // the stop signal, as the port raises it
    handoff.MarkThreadFinished();
  });
  std::vector<quint64> ids;
  while (ids.empty()) ids = posted.Take();
  int runs = 0;
  handoff.Run(ids.front(), [&](bool) {
    ++runs;
    stop = true;
    handoff.RunUntilThreadFinished([&](bool) { ++runs; });
  });
  events.join();
  EXPECT_EQ(runs, 1);
}

TEST(RxHandoff, TakeScopeCountsBeginAndEnd) {
  TRxHandoff handoff([](quint64) {});
  {
    const TRxHandoff::TTakeScope take(handoff);
    EXPECT_EQ(handoff.TakeCount(), 1u);
  }
  EXPECT_EQ(handoff.TakeCount(), 2u);
  { const TRxHandoff::TTakeScope none(handoff, false); }
  EXPECT_EQ(handoff.TakeCount(), 2u);
}

}  // namespace
