#pragma once

#include <thread>

class TCustomComPort;

// The event thread of an open port: waits in poll() for received characters or for its
// stop signal (an eventfd), and hands each arrival over to the port's owning thread,
// blocking until the handling has run. A hang-up of the device is handed over once and
// ends the wait, so a lost device costs no CPU.
class TComThread {
 public:
  // Starts the thread on the port's open descriptor.
  TComThread(TCustomComPort& port, int fd);
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
  bool NapUntilStop(int ms);
  void NoteLeftUnread(unsigned long long takenBefore);

  TCustomComPort& FComPort;
  int FHandle;
  int FStopEvent;
  int FLinger = 0;  // bytes a handler left unread: not a new arrival
  unsigned long long FTaken = 0;  // the port's take count when FLinger was set
  std::thread FThread;
};
