#pragma once

// What stops a file from being written whole, for the tests of the writers: a limit on the
// size of files (as a quota or `ulimit -f` sets it) and a small disk that fills up.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

// Limits the size of files this process writes while it lives: a write beyond the limit fails
// with EFBIG (the signal it would raise is ignored meanwhile, as the companion ignores it).
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &FOld);
    const rlimit limit{bytes, FOld.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = nullptr;
};

// A memory disk of a few pages mounted on an empty folder while it lives, in a mount namespace
// of the calling thread's own, so that the mount is seen nowhere else and ends with the test
// at the latest. Active() is false where mounting is not allowed (not root): tests skip then.
class TSmallDisk {
 public:
  TSmallDisk(const QString& folder, int kilobytes) : FFolder(QFile::encodeName(folder)) {
    static const bool ownNamespace = ::unshare(CLONE_NEWNS) == 0 &&
                                     ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
    FActive = ownNamespace && ::mount("tmpfs", FFolder.constData(), "tmpfs", 0, options.constData()) == 0;
  }
  ~TSmallDisk() {
    if (FActive) ::umount2(FFolder.constData(), MNT_DETACH);
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;
  bool Active() const { return FActive; }

  // Fills the disk but for about freeBytes (whole pages), with a file of its own.
  void Fill(off_t freeBytes) const {
    const QByteArray filler = FFolder + "/filler";
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const QByteArray page(4096, 'x');
    off_t size = 0;
    while (::write(fd, page.constData(), size_t(page.size())) == page.size()) size += page.size();
    [[maybe_unused]] const int cut = ::ftruncate(fd, size > freeBytes ? size - freeBytes : 0);
    ::close(fd);
  }

 private:
  QByteArray FFolder;
  bool FActive = false;
};
