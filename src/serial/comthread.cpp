#include "serial/comthread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "serial/comport.h"
#include "serial/termiosdevice.h"

TComThread::TComThread(TCustomComPort& port, int fd)
    : FComPort(port), FHandle(fd), FStopEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (FStopEvent < 0) throw EComPort(CE_OpenFailed, errno);
  FThread = std::thread([this] { Execute(); });
}

TComThread::~TComThread() {
  Stop();
  Join();
  ::close(FStopEvent);
}

void TComThread::Stop() {
  const uint64_t one = 1;
  // The counter of an eventfd cannot overflow from a few writes; a failed write would
  // only mean the signal is already raised.
  [[maybe_unused]] ssize_t n = ::write(FStopEvent, &one, sizeof one);
}

void TComThread::Join() {
  if (FThread.joinable()) FThread.join();
}

void TComThread::Execute() {
  for (;;) {
    const TWake wake = WaitForArrival();
    if (wake == TWake::Stop) break;
    const quint64 taken = FComPort.FTakeCount.load();
    const quint64 id = FComPort.RequestHandoff(wake == TWake::Lost);
    FComPort.WaitHandoffDone(id);
    if (wake == TWake::Lost) break;  // a hung-up device reports POLLHUP forever
    NoteLeftUnread(taken);
  }
  // On the way out: discard what is still queued (fails harmlessly on a lost device).
  TermiosDevice::Flush(FHandle, true, true);
  FComPort.MarkThreadFinished();
}

// Waits for new received bytes, the stop signal (which wins) or the loss of the device.
// poll() reports waiting bytes for as long as they wait; bytes a handler left unread are
// therefore not a new arrival: the thread naps on the stop signal until more arrive.
TComThread::TWake TComThread::WaitForArrival() {
  for (;;) {
    pollfd fds[2] = {{FHandle, POLLIN, 0}, {FStopEvent, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return TWake::Lost;
    }
    if (fds[1].revents != 0) return TWake::Stop;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return TWake::Lost;
    int count = 0;
    if (TermiosDevice::InputCount(FHandle, count) != 0) return TWake::Lost;
    if (FComPort.FTakeCount.load() != FTaken) FLinger = 0;  // read or purged meanwhile
    if (count > FLinger) return TWake::Rx;
    FLinger = count;
    if (NapUntilStop(10)) return TWake::Stop;
  }
}

// Remembers how many bytes the hand-off left waiting without reading anything; when the
// handler read or purged, whatever waits now arrived since and is new.
void TComThread::NoteLeftUnread(unsigned long long takenBefore) {
  FTaken = FComPort.FTakeCount.load();
  FLinger = 0;
  if (FTaken != takenBefore) return;
  if (TermiosDevice::InputCount(FHandle, FLinger) != 0) FLinger = 0;
}

// Sleeps up to ms milliseconds; returns true when the stop signal came meanwhile.
bool TComThread::NapUntilStop(int ms) {
  pollfd stop{FStopEvent, POLLIN, 0};
  return ::poll(&stop, 1, ms) > 0;
}
