#pragma once

#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// Where a port's event thread and the thread that owns the port meet. The event thread
// requests a hand-off for each wake-up and blocks until the owning thread has run it; the
// owning thread runs each hand-off once, whether its posted event or a closing port gets to it
// first. Ids only grow, so a posted hand-off that has already run is recognised as stale.
//
// The take count lets the event thread tell new bytes from bytes left unread: the owning
// thread raises it as each read or input purge begins and again as it ends.
class TRxHandoff {
 public:
  // Tells the owning thread that hand-off id waits (called on the event thread).
  using TPost = std::function<void(quint64 id)>;
  // Handles one wake-up on the owning thread; lost tells of a device that went away.
  using THandler = std::function<void(bool lost)>;

  explicit TRxHandoff(TPost post) : FPost(std::move(post)) {}
  TRxHandoff(const TRxHandoff&) = delete;
  TRxHandoff& operator=(const TRxHandoff&) = delete;

  // Raises the take count for as long as it lives, on entry and again on exit; does nothing
  // when takes is false.
  class TTakeScope {
   public:
    explicit TTakeScope(TRxHandoff& handoff, bool takes = true);
    ~TTakeScope();
    TTakeScope(const TTakeScope&) = delete;
    TTakeScope& operator=(const TTakeScope&) = delete;

   private:
    std::atomic<quint64>& FCount;
    const quint64 FStep;
  };
  // Returns the take count.
  quint64 TakeCount() const { return FTakeCount.load(); }

  // --- the event thread ---
  // Queues a hand-off, posts it and returns its id.
  quint64 Request(bool lost);
  // Blocks until hand-off id has run.
  void WaitDone(quint64 id);
  // Tells a closing owner that the event thread has ended its loop.
  void MarkThreadFinished();

  // --- the owning thread ---
  // Runs hand-off id with handle unless it has already run, then releases the event thread.
  // handle must not throw: errors of the handling are the owner's to report.
  void Run(quint64 id, const THandler& handle);
  // For a closing port whose event thread has been told to stop: releases the thread from a
  // hand-off now running (a handler that closes the port), runs every hand-off it queues
  // meanwhile, and returns once the thread has finished its loop.
  void RunUntilThreadFinished(const THandler& handle);

 private:
  TPost FPost;
  std::atomic<quint64> FTakeCount{0};
  std::mutex FMutex;
  std::condition_variable FCond;
  quint64 FRequested = 0;
  quint64 FDone = 0;
  bool FLostPending = false;
  bool FThreadFinished = false;
  quint64 FRunning = 0;  // the hand-off now running on the owning thread, 0 if none
};
