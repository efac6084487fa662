#pragma once

#include <thread>

#include "serial/comsettings.h"
#include "serial/rxhandoff.h"

// The event thread of an open port, named "TComThread": sleeps in epoll until characters
// arrive, its stop signal (an eventfd) is raised or the device hangs up, and hands each
// arrival over to the port's owning thread through the port's hand-off, blocking until the
// handling has run.
//
// The device is watched edge-triggered: the kernel wakes the thread once per arrival, also
// while earlier bytes wait unread, and remembers an arrival during a hand-off so that the
// next wait ends at once. Bytes left unread therefore cost no wake-up until more come. A
// hang-up is handed over once and ends the thread, so a lost device costs no CPU either.
class TComThread {
 public:
  // Starts the thread on a port's open descriptor and hand-off; watchRx chooses whether
  // arrivals are watched (a hang-up always is). Throws EComPort when the waiting cannot be
  // set up.
  TComThread(TRxHandoff& handoff, int fd, bool watchRx, TThreadPriority priority);
  // Stops the thread if still running and joins it; the port must have released any
  // hand-off the thread waits for (TRxHandoff::RunUntilThreadFinished does).
  ~TComThread();

  // Raises the stop signal; the thread leaves its wait at once.
  void Stop();
  // Waits for the thread to end.
  void Join();

 private:
  // What ended a wait of the thread.
  enum class TWake { Stop, Rx, Lost };

  void Execute();
  TWake WaitForArrival();
  bool IsNewArrival(bool& lost);

  TRxHandoff& FHandoff;
  int FHandle;
  int FStopEvent = -1;
  int FPoll = -1;  // epoll instance holding the device and the stop signal
  TThreadPriority FPriority;
  int FAnnounced = 0;  // bytes waiting when the last arrival was handed over
  quint64 FTaken = 0;  // the hand-off's take count just before that
  std::thread FThread;
};
