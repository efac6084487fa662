#include "globals/filesave.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int TFd::Close() {
  const int fd = std::exchange(FFd, -1);
  return fd < 0 || ::close(fd) == 0 ? 0 : errno;
}

void TFd::Reset(int fd) {
  if (FFd >= 0) ::close(FFd);
  FFd = fd;
}

int WriteAll(int fd, QByteArrayView bytes, qint64 offset) {
  for (qsizetype done = 0; done < bytes.size();) {
    const char* from = bytes.data() + done;
    const size_t size = size_t(bytes.size() - done);
    const ssize_t n = offset < 0 ? ::write(fd, from, size) : ::pwrite(fd, from, size, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += n;
  }
  return 0;
}

namespace {

// Takes the result of a step whose failure changes nothing for the caller.
void IgnoreResult(int) {}

// Writes bytes[0, upTo), cuts the file to the size of bytes, flushes it to disk and closes it.
int FinishWrite(TFd& fd, QByteArrayView bytes, qsizetype upTo) {
  if (const int error = WriteAll(fd.Get(), bytes.first(upTo), 0)) return error;
  if (::ftruncate(fd.Get(), off_t(bytes.size())) != 0 || ::fdatasync(fd.Get()) != 0) return errno;
  return fd.Close();
}

// The permissions a newly created file gets: read and write for all, less the process's umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Creates a file "<name>.XXXXXX" that did not exist in the folder, readable by its owner only
// until it is ready; sets temporary to its name.
TFd CreateTemporaryAt(int folderFd, const QByteArray& name, QByteArray& temporary) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = name + '.';
    for (int k = 0; k < 6; ++k) temporary += kLetters[QRandomGenerator::global()->bounded(62)];
    TFd fd(::openat(folderFd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.Valid() || errno != EEXIST) return fd;
  }
  return TFd();
}

// Writes bytes over the file, which is oldSize bytes long. The part beyond the old end goes
// first: when the disk or a size limit cannot take it, cutting the file back to its old size
// leaves it as it was, and once it is taken the rest only overwrites space the file holds.
int WriteInPlaceAt(int folderFd, const QByteArray& name, QByteArrayView bytes, qsizetype oldSize) {
  // Not blocking: a FIFO put in the file's place since it was looked at is not waited for.
  TFd fd(::openat(folderFd, name.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return errno;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (bytes.size() > oldSize) {
    if (const int error = WriteAll(fd.Get(), bytes.sliced(oldSize), oldSize)) {
      IgnoreResult(::ftruncate(fd.Get(), off_t(oldSize)));
      return error;
    }
  }
  return FinishWrite(fd, bytes, std::min(oldSize, bytes.size()));
}

// The file that really gets written: a symbolic link is followed to its target so that the
// link itself survives the rename.
QString WriteTarget(const QString& fileName) {
  const QFileInfo info(fileName);
  if (!info.isSymLink()) return fileName;
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

}  // namespace

int ReplaceFileAt(int folderFd, const QByteArray& name, QByteArrayView bytes, const struct stat* old) {
  QByteArray temporary;
  TFd fd = CreateTemporaryAt(folderFd, name, temporary);
  if (!fd.Valid()) {
    const int error = errno;
    return old != nullptr ? WriteInPlaceAt(folderFd, name, bytes, qsizetype(old->st_size)) : error;
  }
  // Only root may give a file away; anyone else keeps being its owner, which is no error.
  if (old != nullptr) IgnoreResult(::fchown(fd.Get(), old->st_uid, old->st_gid));
  const mode_t mode = old != nullptr ? old->st_mode & 07777 : NewFileMode();
  int error = ::fchmod(fd.Get(), mode) == 0 ? FinishWrite(fd, bytes, bytes.size()) : errno;
  if (error == 0 && ::renameat(folderFd, temporary.constData(), folderFd, name.constData()) != 0) error = errno;
  if (error != 0) ::unlinkat(folderFd, temporary.constData(), 0);
  return error;
}

bool SaveFileContent(const QString& fileName, const QByteArray& bytes) {
  const QByteArray path = QFile::encodeName(WriteTarget(fileName));
  struct stat old {};
  const bool exists = ::stat(path.constData(), &old) == 0;
  // A rename would replace a read-only file in a writable folder; refuse it as a write would.
  if (exists && (!S_ISREG(old.st_mode) || ::access(path.constData(), W_OK) != 0)) return false;
  return ReplaceFileAt(AT_FDCWD, path, bytes, exists ? &old : nullptr) == 0;
}
