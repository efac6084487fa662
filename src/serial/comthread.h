#pragma once

#include <thread>

#include "serial/comsettings.h"

class TCustomComPort;

// The event thread of an open port, named "TComThread": sleeps in epoll until characters
// arrive, its stop signal (an eventfd) is raised or the device hangs up, and hands each
// arrival over to the port's owning thread, blocking until the handling has run.
//
// The device is watched edge-triggered: the kernel wakes the thread once per arrival, also
// while earlier bytes wait unread, and remembers an arrival during a hand-off so that the
// next wait ends at once. Bytes left unread therefore cost no wake-up until more come. A
// hang-up is handed over once and ends the thread, so a lost device costs no CPU either.
class TComThread {
 public:
  // Starts the thread on the port's open descriptor; watchRx chooses whether arrivals are
  // watched (a hang-up always is). Throws EComPort when the waiting cannot be set up.
  TComThread(TCustomComPort& port, int fd, bool watchRx, TThreadPriority priority);
  // Stops the thread if still running and joins it; the port must have released any
  // hand-off the thread waits for (TCustomComPort::StopEventThread does).
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

  TCustomComPort& FComPort;
  int FHandle;
  int FStopEvent = -1;
  int FPoll = -1;  // epoll instance holding the device and the stop signal
  TThreadPriority FPriority;
  int FAnnounced = 0;  // bytes waiting when the last arrival was handed over
  unsigned long long FTaken = 0;  // the port's take count just before that
  std::thread FThread;
};
