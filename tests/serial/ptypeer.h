#pragma once

// A test peer that plays the board on the master side of a pseudo-terminal; the port
// under test opens the slave side by its path.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <chrono>
#include <functional>
#include <thread>

class TPtyPeer {
 public:
  TPtyPeer() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) return;
    FSlavePath = QString::fromLocal8Bit(::ptsname(FMaster));
  }
  ~TPtyPeer() { HangUp(); }
  TPtyPeer(const TPtyPeer&) = delete;
  TPtyPeer& operator=(const TPtyPeer&) = delete;

  // Returns the path the port opens.
  const QString& SlavePath() const { return FSlavePath; }
  // Returns the master descriptor (for termios queries, which act on the slave).
  int Master() const { return FMaster; }
  // Returns whether the pseudo-terminal was made.
  bool Valid() const { return !FSlavePath.isEmpty(); }

  // Writes all bytes, waiting for room up to timeoutMs; returns the bytes written.
  int Write(const QByteArray& bytes, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < bytes.size() && clock.elapsed() < timeoutMs) {
      const ssize_t n = ::write(FMaster, bytes.constData() + done, size_t(bytes.size() - done));
      if (n > 0) {
        done += n;
        continue;
      }
      pollfd p{FMaster, POLLOUT, 0};
      ::poll(&p, 1, 10);
    }
    return int(done);
  }

  // Reads until count bytes have come or timeoutMs has passed.
  QByteArray Read(qsizetype count, int timeoutMs = 5000) {
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    char buffer[65536];
    while (out.size() < count && clock.elapsed() < timeoutMs) {
      const ssize_t n = ::read(FMaster, buffer, size_t(std::min<qsizetype>(count - out.size(),
                                                                            sizeof buffer)));
      if (n > 0) {
        out.append(buffer, n);
        continue;
      }
      pollfd p{FMaster, POLLIN, 0};
      ::poll(&p, 1, 10);
    }
    return out;
  }

  // Reads whatever arrives within timeoutMs.
  QByteArray ReadAll(int timeoutMs) { return Read(1 << 30, timeoutMs); }

  // Closes the master side: to the port this is the device going away.
  void HangUp() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
  }

 private:
  int FMaster = -1;
  QString FSlavePath;
};

// Polls this thread's events until done() holds or timeoutMs has passed; returns done().
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Polls this thread's events for ms milliseconds.
inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}
