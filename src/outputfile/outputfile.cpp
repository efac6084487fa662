#include "outputfile/outputfile.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "outputfile/outputplace.h"

namespace {

// The kernel gives up on a path after 40 links; so does the walk.
constexpr int kMaxLinks = 40;

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// A path walked so far, as messages show it.
QString Shown(const QByteArray& path) { return path.isEmpty() ? QStringLiteral(".") : QFile::decodeName(path); }

QByteArray Joined(const QByteArray& folder, const QByteArray& name) {
  if (folder.isEmpty()) return name;
  return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

TFailure Refusal(const QString& phrase) { return {phrase, {}}; }

// What a path that is not a regular file is, for the refusal.
QString KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("a folder");
  if (S_ISCHR(mode)) return QStringLiteral("a character device");
  if (S_ISBLK(mode)) return QStringLiteral("a block device");
  if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  return QStringLiteral("not a regular file");
}

TFailure NotARegularFile(mode_t mode) {
  return Refusal(QStringLiteral("is %1; output goes only to regular files or '-'").arg(KindOf(mode)));
}

// Puts the components of path on the stack of those still to walk, its first one on top.
// "." adds nothing; an empty component is a doubled or trailing "/".
void PushComponents(std::vector<QByteArray>& rest, const QByteArray& path) {
  const QList<QByteArray> parts = path.split('/');
  for (auto it = parts.crbegin(); it != parts.crend(); ++it)
    if (!it->isEmpty() && *it != ".") rest.push_back(*it);
}

TFd OpenFolder(const char* path) { return TFd(::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC)); }

// Returns the target of the link open (O_PATH) at fd, or "" when it cannot be read.
QByteArray LinkTarget(int fd) {
  QByteArray target(4096, Qt::Uninitialized);
  const ssize_t n = ::readlinkat(fd, "", target.data(), size_t(target.size()));
  return n > 0 && n < target.size() ? target.left(n) : QByteArray();
}

// The end of a path that does not exist yet: its folder must take new files.
TResult<TOutputPlace> NewFilePlace(TFd folder, const QByteArray& name, const QByteArray& walked) {
  if (::faccessat(folder.Get(), ".", W_OK | X_OK, 0) != 0)
    return Refusal(QStringLiteral("cannot be made: the folder %1 may not be written (%2)")
                       .arg(Shown(walked), ErrnoText(errno)));
  return TOutputPlace{std::move(folder), name, false, {}};
}

// The end of a path that exists: a regular file that may be written.
TResult<TOutputPlace> ExistingFilePlace(TFd folder, const QByteArray& name, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return NotARegularFile(st.st_mode);
  if (::faccessat(folder.Get(), name.constData(), W_OK, 0) != 0)
    return Refusal(QStringLiteral("may not be written (%1)").arg(ErrnoText(errno)));
  return TOutputPlace{std::move(folder), name, true, st};
}

// Returns "" when the link at linkPath (whose status is link) in folder may be followed, else why not.
QString LinkProblem(const TFd& folder, const struct stat& link, const QByteArray& walked,
                    const QByteArray& linkPath) {
  struct stat st {};
  if (::fstat(folder.Get(), &st) != 0) return ErrnoText(errno);
  if (MayFollowLink({st.st_mode, st.st_uid, link.st_uid}, ::geteuid())) return QString();
  return QStringLiteral("leads through %1, a link that another user (uid %2) made in the shared folder %3; "
                        "it is not followed, as the system's protected-link rule would not")
      .arg(Shown(linkPath))
      .arg(link.st_uid)
      .arg(Shown(walked));
}

TFailure PathFailure(const QString& path, const TFailure& failure) {
  return {path + QStringLiteral(": ") + failure.Message, failure.Explanation};
}

// Reads the whole file at place, without following a link or waiting for a FIFO put there
// since the walk.
TResult<QByteArray> ReadPlace(const QString& path, const TOutputPlace& place) {
  const TFd fd(::openat(place.Folder.Get(), place.Name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0)
    return TFailure{QStringLiteral("%1: could not be read: %2").arg(path, ErrnoText(errno)), {}};
  if (!S_ISREG(st.st_mode)) return PathFailure(path, NotARegularFile(st.st_mode));
  QFile file;
  if (!file.open(fd.Get(), QIODevice::ReadOnly | QIODevice::Unbuffered, QFile::DontCloseHandle))
    return TFailure{QStringLiteral("%1: could not be read: %2").arg(path, file.errorString()), {}};
  return file.readAll();
}

TResult<void> Replace(const QString& path, const TOutputPlace& place, QByteArrayView bytes) {
  const int error = ReplaceFileAt(place.Folder.Get(), place.Name, bytes, place.Exists ? &place.Status : nullptr);
  if (error != 0)
    return WriteFailure(path, error, place.Exists ? QStringLiteral("The file is left as it was.")
                                                  : QStringLiteral("No file was made."));
  return {};
}

}  // namespace

bool MayFollowLink(const TLinkPlace& place, unsigned user) {
  const bool stickyWorldWritable = (place.FolderMode & S_ISVTX) && (place.FolderMode & S_IWOTH);
  return !stickyWorldWritable || place.LinkOwner == user || place.LinkOwner == place.FolderOwner;
}

TResult<TOutputPlace> FindOutputPlace(const QString& path) {
  if (path.isEmpty()) return Refusal(QStringLiteral("an empty name is no file"));
  const QByteArray native = QFile::encodeName(path);
  std::vector<QByteArray> rest;
  PushComponents(rest, native);
  QByteArray walked = native.startsWith('/') ? QByteArray("/") : QByteArray();
  TFd folder = OpenFolder(walked.isEmpty() ? "." : "/");
  for (int links = 0; !rest.empty();) {
    const QByteArray name = rest.back();
    rest.pop_back();
    TFd next(::openat(folder.Get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!next.Valid() || ::fstat(next.Get(), &st) != 0) {
      if (errno == ENOENT && rest.empty()) return NewFilePlace(std::move(folder), name, walked);
      if (errno == ENOENT)
        return Refusal(QStringLiteral("cannot be made: the folder %1 does not exist").arg(Shown(Joined(walked, name))));
      return Refusal(ErrnoText(errno));
    }
    if (S_ISLNK(st.st_mode)) {
      if (++links > kMaxLinks) return Refusal(QStringLiteral("leads through too many links"));
      const QString problem = LinkProblem(folder, st, walked, Joined(walked, name));
      if (!problem.isEmpty()) return Refusal(problem);
      const QByteArray target = LinkTarget(next.Get());
      if (target.isEmpty()) return Refusal(QStringLiteral("leads through a link that cannot be read"));
      if (target.startsWith('/')) {
        folder = OpenFolder("/");
        walked = "/";
      }
      PushComponents(rest, target);
      continue;
    }
    if (rest.empty()) return ExistingFilePlace(std::move(folder), name, st);
    if (!S_ISDIR(st.st_mode))
      return Refusal(QStringLiteral("cannot be made: %1 is not a folder").arg(Shown(Joined(walked, name))));
    folder = std::move(next);
    walked = Joined(walked, name);
  }
  // Nothing left to name a file: the path ends in a folder ("/", ".", a link to a folder).
  return NotARegularFile(S_IFDIR);
}

TFailure WriteFailure(const QString& path, int error, const QString& outcome) {
  QString explanation = outcome;
  if (error == ENOSPC || error == EDQUOT)
    explanation += QStringLiteral(" Make room on that disk, or write the file elsewhere.");
  else if (error == EFBIG)
    explanation += QStringLiteral(" The file is larger than this shell lets a program write (ulimit -f).");
  return {QStringLiteral("%1: could not be written: %2").arg(path, ErrnoText(error)), explanation};
}

QString OutputPathProblem(const QString& path) {
  const TResult<TOutputPlace> place = FindOutputPlace(path);
  return place ? QString() : place.Failure().Message;
}

TResult<void> WriteOutputFile(const QString& path, const QByteArray& bytes) {
  const TResult<TOutputPlace> place = FindOutputPlace(path);
  if (!place) return PathFailure(path, place.Failure());
  return Replace(path, *place, bytes);
}

TResult<void> UpdateOutputFile(const QString& path, const TContentUpdate& update) {
  const TResult<TOutputPlace> place = FindOutputPlace(path);
  if (!place) return PathFailure(path, place.Failure());
  QByteArray old;
  if (place->Exists) {
    TResult<QByteArray> read = ReadPlace(path, *place);
    if (!read) return read.Failure();
    old = std::move(read).Value();
  }
  const TResult<QByteArray> bytes = update(old);
  if (!bytes) return bytes.Failure();
  return Replace(path, *place, *bytes);
}
