#include "parameters/filesave.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Owns a file descriptor and closes it once.
class TFd {
 public:
  explicit TFd(int fd) : FFd(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  int Get() const { return FFd; }
  // Closes the descriptor; returns false when the close reports an error (a write that failed
  // late, on some file systems).
  bool Close() { return ::close(std::exchange(FFd, -1)) == 0; }

 private:
  int FFd;
};

enum class TOutcome { Saved, NoTemporary, Failed };

// Takes the result of a step whose failure changes nothing for the caller.
void IgnoreResult(int) {}

// Writes bytes[from, to) at the same offsets of the file; a short write is continued, any error
// ends it. The writes are unbuffered, so a full disk or a size limit shows here.
bool WriteRange(int fd, const QByteArray& bytes, qsizetype from, qsizetype to) {
  while (from < to) {
    const ssize_t n = ::pwrite(fd, bytes.constData() + from, size_t(to - from), off_t(from));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += n;
  }
  return true;
}

// Writes bytes[0, upTo), cuts the file to the size of bytes, flushes it to disk and closes it.
bool FinishWrite(TFd& fd, const QByteArray& bytes, qsizetype upTo) {
  return WriteRange(fd.Get(), bytes, 0, upTo) && ::ftruncate(fd.Get(), off_t(bytes.size())) == 0 &&
         ::fdatasync(fd.Get()) == 0 && fd.Close();
}

// The permissions a newly created file gets: read and write for all, less the process's umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Writes bytes to a temporary file beside path and renames it over path, with the old file's
// owner (where allowed) and permissions.
TOutcome SaveByRename(const QByteArray& path, const QByteArray& bytes, const struct stat* old) {
  QByteArray temporary = path + ".XXXXXX";
  TFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.Get() < 0) return TOutcome::NoTemporary;
  // Only root may give a file away; anyone else keeps being its owner, which is no error.
  if (old != nullptr) IgnoreResult(::fchown(fd.Get(), old->st_uid, old->st_gid));
  const mode_t mode = old != nullptr ? old->st_mode & 07777 : NewFileMode();
  const bool saved = ::fchmod(fd.Get(), mode) == 0 && FinishWrite(fd, bytes, bytes.size()) &&
                     ::rename(temporary.constData(), path.constData()) == 0;
  if (!saved) ::unlink(temporary.constData());
  return saved ? TOutcome::Saved : TOutcome::Failed;
}

// Writes bytes over the file at path, which is oldSize bytes long. The part beyond the old end
// goes first: when the disk or a size limit cannot take it, cutting the file back to its old
// size leaves it as it was, and once it is taken the rest only overwrites space the file holds.
bool WriteInPlace(const QByteArray& path, const QByteArray& bytes, qsizetype oldSize) {
  TFd fd(::open(path.constData(), O_WRONLY | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  if (bytes.size() > oldSize && !WriteRange(fd.Get(), bytes, oldSize, bytes.size())) {
    IgnoreResult(::ftruncate(fd.Get(), off_t(oldSize)));
    return false;
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

bool SaveFileContent(const QString& fileName, const QByteArray& bytes) {
  const QByteArray path = QFile::encodeName(WriteTarget(fileName));
  struct stat old {};
  const bool exists = ::stat(path.constData(), &old) == 0;
  // A rename would replace a read-only file in a writable folder; refuse it as a write would.
  if (exists && (!S_ISREG(old.st_mode) || ::access(path.constData(), W_OK) != 0)) return false;
  switch (SaveByRename(path, bytes, exists ? &old : nullptr)) {
    case TOutcome::Saved:
      return true;
    case TOutcome::NoTemporary:
      return exists && WriteInPlace(path, bytes, qsizetype(old.st_size));
    case TOutcome::Failed:
      break;
  }
  return false;
}
