#pragma once

// A second program that holds a device open without a lock, as socat, screen or a script
// does: a child process that keeps none of the test's own descriptors (a simulated board's
// master side among them, which would make it the board) and opens only the device.

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

class TOpenHolder {
 public:
  // Starts the child and waits until it holds path (or has failed to open it).
  explicit TOpenHolder(const QString& path) {
    const QByteArray device = QFile::encodeName(path);
    int ready[2];
    if (::pipe(ready) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      // Only what is safe after a fork: descriptors, open, write, pause.
      ::dup2(ready[1], 3);
      ::close_range(4, ~0U, 0);
      const char opened = ::open(device.constData(), O_RDWR | O_NOCTTY) >= 0 ? '1' : '0';
      (void)!::write(3, &opened, 1);
      ::close(3);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char opened = '0';
    if (FPid > 0 && ::read(ready[0], &opened, 1) == 1) FHolding = opened == '1';
    ::close(ready[0]);
  }
  ~TOpenHolder() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
  }
  TOpenHolder(const TOpenHolder&) = delete;
  TOpenHolder& operator=(const TOpenHolder&) = delete;

  qint64 Pid() const { return FPid; }
  // Returns whether the child has the device open.
  bool Holding() const { return FHolding; }

 private:
  pid_t FPid = -1;
  bool FHolding = false;
};
