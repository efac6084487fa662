#include "serial/comthread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>

#include "serial/comerrors.h"
#include "serial/termiosdevice.h"

namespace {

// Sets the calling thread's priority relative to the thread that started it, as thread
// priorities are relative to their process elsewhere. Linux schedules ordinary threads by a
// nice value it keeps per thread; lowering is always allowed, raising needs the privilege,
// and a refusal leaves the thread at normal priority.
void ApplyPriority(TThreadPriority priority) {
  if (priority == tpNormal) return;
  if (priority == tpIdle) {
    const sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
    return;
  }
  constexpr int kNiceOffset[] = {0, 10, 5, 0, -5, -10, -20};
  const id_t self = static_cast<id_t>(gettid());
  errno = 0;
  const int inherited = getpriority(PRIO_PROCESS, self);
  if (errno != 0) return;
  setpriority(PRIO_PROCESS, self, std::clamp(inherited + kNiceOffset[priority], -20, 19));
}

}  // namespace

TComThread::TComThread(TRxHandoff& handoff, int fd, bool watchRx, TThreadPriority priority)
    : FHandoff(handoff), FHandle(fd), FPriority(priority) {
  FStopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  FPoll = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event device{};
  device.events = (watchRx ? uint32_t(EPOLLIN) : 0u) | EPOLLET;  // a hang-up is always reported
  device.data.fd = FHandle;
  epoll_event stop{};
  stop.events = EPOLLIN;
  stop.data.fd = FStopEvent;
  if (FStopEvent < 0 || FPoll < 0 || ::epoll_ctl(FPoll, EPOLL_CTL_ADD, FHandle, &device) != 0 ||
      ::epoll_ctl(FPoll, EPOLL_CTL_ADD, FStopEvent, &stop) != 0) {
    const int err = errno;
    if (FPoll >= 0) ::close(FPoll);
    if (FStopEvent >= 0) ::close(FStopEvent);
    throw EComPort(CE_OpenFailed, err);
  }
  FTaken = FHandoff.TakeCount();
  FThread = std::thread([this] { Execute(); });
}

TComThread::~TComThread() {
  Stop();
  Join();
  ::close(FPoll);
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
  ApplyPriority(FPriority);
  // Named once its priority is set, so that whoever finds it by name sees its final priority.
  pthread_setname_np(pthread_self(), "TComThread");
  for (;;) {
    const TWake wake = WaitForArrival();
    if (wake == TWake::Stop) break;
    const quint64 id = FHandoff.Request(wake == TWake::Lost);
    FHandoff.WaitDone(id);
    if (wake == TWake::Lost) break;  // a hung-up device stays hung up
  }
  // On the way out: discard what is still queued (fails harmlessly on a lost device).
  TermiosDevice::Flush(FHandle, true, true);
  FHandoff.MarkThreadFinished();
}

// Waits for new received bytes, the stop signal (which wins) or the loss of the device.
TComThread::TWake TComThread::WaitForArrival() {
  for (;;) {
    epoll_event events[2];
    const int n = ::epoll_wait(FPoll, events, int(std::size(events)), -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return TWake::Lost;
    }
    bool stop = false;
    bool lost = false;
    bool rx = false;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == FStopEvent) stop = true;
      if (events[i].data.fd != FHandle) continue;
      lost = lost || (events[i].events & (EPOLLHUP | EPOLLERR)) != 0;
      rx = rx || (events[i].events & EPOLLIN) != 0;
    }
    if (stop) return TWake::Stop;
    if (!lost && rx && !IsNewArrival(lost)) continue;
    if (lost) return TWake::Lost;
    if (rx) return TWake::Rx;
  }
}

// Tells a wake-up for bytes not yet handed over from one the kernel gives without an
// arrival (a change of the line settings wakes every reader): with nothing read or purged
// since the last hand-over, only more bytes than were waiting then are new. Bytes that come
// during this check wake the thread again, so none is missed.
bool TComThread::IsNewArrival(bool& lost) {
  // The take count is raised as each read or purge begins and as it ends: one that emptied
  // the queue before the byte count was taken has raised it before the second load below, and
  // one still running or yet to come raises it after the first, so the next check sees it.
  const quint64 before = FHandoff.TakeCount();
  int count = 0;
  if (TermiosDevice::InputCount(FHandle, count) != 0) {
    lost = true;
    return false;
  }
  const bool taken = FHandoff.TakeCount() != FTaken;
  if (count == 0 || (!taken && count <= FAnnounced)) return false;
  FAnnounced = count;
  FTaken = before;
  return true;
}
