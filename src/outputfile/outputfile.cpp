#include "outputfile/outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel gives up on a path after 40 links; so does the check.
constexpr int kMaxLinks = 40;

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString FolderOf(const QString& path) {
  const QString folder = QFileInfo(path).path();
  return folder.isEmpty() ? QStringLiteral(".") : folder;
}

// What a path that is not a regular file is, for the refusal.
QString KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("a folder");
  if (S_ISCHR(mode)) return QStringLiteral("a character device");
  if (S_ISBLK(mode)) return QStringLiteral("a block device");
  if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  return QStringLiteral("not a regular file");
}

// A file that does not exist yet: its folder must exist and take new files.
QString NewFileProblem(const QString& path) {
  const QString folder = FolderOf(path);
  struct stat st {};
  if (::stat(Native(folder).constData(), &st) != 0)
    return QStringLiteral("cannot be made: the folder %1 does not exist").arg(folder);
  if (!S_ISDIR(st.st_mode)) return QStringLiteral("cannot be made: %1 is not a folder").arg(folder);
  if (::access(Native(folder).constData(), W_OK | X_OK) != 0)
    return QStringLiteral("cannot be made: the folder %1 may not be written (%2)").arg(folder, ErrnoText(errno));
  return QString();
}

// The next path of a link: its target, relative targets taken from the link's folder.
QString LinkTargetOf(const QString& linkPath) {
  char buffer[4096];
  const ssize_t n = ::readlink(Native(linkPath).constData(), buffer, sizeof buffer - 1);
  if (n < 0) return QString();
  const QString target = QFile::decodeName(QByteArray(buffer, int(n)));
  return QDir::isAbsolutePath(target) ? target : FolderOf(linkPath) + u'/' + target;
}

}  // namespace

QString ProtectedLinkProblem(const QString& linkPath, unsigned uid) {
  struct stat link {};
  struct stat folder {};
  if (::lstat(Native(linkPath).constData(), &link) != 0 || !S_ISLNK(link.st_mode)) return QString();
  if (link.st_uid == uid) return QString();
  if (::stat(Native(FolderOf(linkPath)).constData(), &folder) != 0) return QString();
  const bool stickyWorldWritable = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  if (!stickyWorldWritable || folder.st_uid == link.st_uid) return QString();
  return QStringLiteral("is a link that another user (uid %1) made in the shared folder %2; "
                        "it is not followed, as the system's protected-link rule would not")
      .arg(link.st_uid)
      .arg(FolderOf(linkPath));
}

QString OutputPathProblem(const QString& path) {
  if (path.isEmpty()) return QStringLiteral("an empty name is no file");
  QString current = path;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat st {};
    if (::lstat(Native(current).constData(), &st) != 0) {
      if (errno == ENOENT) return NewFileProblem(current);
      return ErrnoText(errno);
    }
    if (S_ISLNK(st.st_mode)) {
      const QString problem = ProtectedLinkProblem(current, ::geteuid());
      if (!problem.isEmpty()) return problem;
      current = LinkTargetOf(current);
      if (current.isEmpty()) return QStringLiteral("is a link that cannot be read");
      continue;
    }
    if (!S_ISREG(st.st_mode))
      return QStringLiteral("is %1; output goes only to regular files or '-'").arg(KindOf(st.st_mode));
    if (::access(Native(current).constData(), W_OK) != 0)
      return QStringLiteral("may not be written (%1)").arg(ErrnoText(errno));
    return QString();
  }
  return QStringLiteral("leads through too many links");
}

bool WriteOutputFile(const QString& path, const QByteArray& bytes, QString& error) {
  error = OutputPathProblem(path);
  if (!error.isEmpty()) return false;
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) return true;
  error = file.errorString();
  return false;
}
