#pragma once

// A test peer that plays the board on the master side of a pseudo-terminal; the port
// under test opens the slave side by its path.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <functional>
#include <thread>

class TPtyPeer {
 public:
  TPtyPeer() : FMaster(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)) {
    if (FMaster >= 0 && ::grantpt(FMaster) == 0 && ::unlockpt(FMaster) == 0)
      FSlavePath = QString::fromLocal8Bit(::ptsname(FMaster));
  }
  ~TPtyPeer() { HangUp(); }

  const QString& SlavePath() const { return FSlavePath; }
  int Master() const { return FMaster; }  // termios queries on it read the slave's settings

  // Writes all bytes, waiting for room up to timeoutMs; returns the bytes written.
  int Write(const QByteArray& bytes, int timeoutMs = 5000) {
    qsizetype done = 0;
    for (QDeadlineTimer deadline(timeoutMs); done < bytes.size() && !deadline.hasExpired();)
      done += Moved(::write(FMaster, bytes.constData() + done, size_t(bytes.size() - done)),
                    POLLOUT);
    return int(done);
  }

  // Reads until count bytes have come or timeoutMs has passed.
  QByteArray Read(qsizetype count, int timeoutMs = 5000) {
    QByteArray out(count, Qt::Uninitialized);
    qsizetype done = 0;
    for (QDeadlineTimer deadline(timeoutMs); done < count && !deadline.hasExpired();)
      done += Moved(::read(FMaster, out.data() + done, size_t(count - done)), POLLIN);
    return out.left(done);
  }

  // Closes the master side: to the port this is the device going away.
  void HangUp() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
  }

 private:
  // Returns the bytes a transfer moved; when none, first waits a little for readiness.
  qsizetype Moved(ssize_t n, short events) {
    pollfd p{FMaster, events, 0};
    if (n <= 0) ::poll(&p, 1, 10);
    return std::max<ssize_t>(n, 0);
  }

  int FMaster;
  QString FSlavePath;
};

// Polls this thread's events until done() holds or timeoutMs has passed; returns done().
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
  for (QDeadlineTimer deadline(timeoutMs); !done() && !deadline.hasExpired();) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

inline void PumpFor(int ms) { PumpUntil([] { return false; }, ms); }

// Waits without handling events until done() holds (at most 10 s); returns done(). Bytes a
// peer wrote reach the port's queue a moment later, longer on a busy machine.
inline bool WaitUntil(const std::function<bool()>& done) {
  for (QDeadlineTimer deadline(10000); !done() && !deadline.hasExpired();)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}
