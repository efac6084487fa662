#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <sys/stat.h>
#include <utility>

// Files replaced whole: the window's parameter files and the companion's output files. The new
// content goes to a temporary file beside the old one, written unbuffered with every write
// checked, flushed to disk and renamed over it, so that a full disk, a size limit or any
// failed write leaves the old file byte for byte and no half-written one.

// Owns a file descriptor and closes it once.
class TFd {
 public:
  explicit TFd(int fd = -1) : FFd(fd) {}
  TFd(TFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TFd& operator=(TFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.FFd, -1));
    return *this;
  }
  ~TFd() { Reset(); }
  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Closes the descriptor; returns 0, or the errno of a failed close (a write that failed
  // late, on some file systems).
  int Close();
  void Reset(int fd = -1);

 private:
  int FFd;
};

// Writes all of bytes at offset (at the descriptor's position when offset is negative); a
// short write is continued. Returns 0, or the errno of the write that failed.
int WriteAll(int fd, QByteArrayView bytes, qint64 offset = -1);

// Replaces the content of the file name in the folder folderFd (an open folder, or AT_FDCWD
// with name a path) by bytes, and returns 0 or the errno of the step that failed. old is the
// status of the file to replace, nullptr when there is none; the new file gets its permissions
// (and its owner where allowed), a new one those of the umask. When no temporary file can be
// made beside it (a read-only folder) an existing file is written in place: its new size is
// taken first, so running out of space or over a size limit leaves it as it was. The caller
// checks beforehand that an existing file is a regular file it may write.
int ReplaceFileAt(int folderFd, const QByteArray& name, QByteArrayView bytes, const struct stat* old);

// Replaces the whole content of fileName with bytes (ReplaceFileAt) and returns whether every
// step succeeded. A symbolic link keeps pointing to its target, which gets the new content. A
// file that is read-only or not a regular file is refused. On failure the old file is left
// byte for byte, short of a device error in the middle of an in-place write.
bool SaveFileContent(const QString& fileName, const QByteArray& bytes);
