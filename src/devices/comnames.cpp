#include "devices/comnames.h"

#include <QDir>
#include <QFile>
#include <filesystem>

#include "devices/deviceroot.h"
#include "portname/portname.h"

namespace fs = std::filesystem;

namespace {

fs::path FsPath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

QString QtPath(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

bool IsLink(const QString& path) {
  std::error_code error;
  return fs::is_symlink(fs::symlink_status(FsPath(path), error));
}

bool Exists(const QString& path) {
  std::error_code error;
  return fs::symlink_status(FsPath(path), error).type() != fs::file_type::not_found;
}

// Returns the target of the alias link, "" when it is no link.
QString LinkTarget(const QString& path) {
  std::error_code error;
  const fs::path target = fs::read_symlink(FsPath(path), error);
  return error ? QString() : QtPath(target);
}

}  // namespace

int ComNumber(const QString& name) {
  // Only ASCII text can have the form; anything else must not pass through a lossy conversion.
  for (const QChar c : name)
    if (c.unicode() > 0x7f) return 0;
  return ComNameNumber(name.toLatin1().toStdString());
}

QString AliasFolder() { return QFile::decodeName(QByteArray::fromStdString(PortAliasFolder())); }

QString AliasPath(const QString& com) {
  const QString folder = AliasFolder();
  return folder.isEmpty() ? QString() : folder + u'/' + com;
}

QStringList AliasFolderEntries() {
  const QString folder = AliasFolder();
  if (folder.isEmpty()) return {};
  return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

TPortTarget ResolvePort(const QString& name) {
  TPortTarget target;
  target.Name = name;
  if (name.startsWith(u'/')) {
    target.Device = target.Host = name;
    return target;
  }
  const int number = ComNumber(name);
  if (number == 0) return target;
  const QString alias = AliasPath(name);
  if (alias.isEmpty() || !Exists(alias)) {
    target.Device = QStringLiteral("/dev/ttyS%1").arg(number - 1);
    target.Host = HostPath(target.Device);
    return target;
  }
  target.Alias = alias;
  const QString link = IsLink(alias) ? LinkTarget(alias) : QString();
  if (link.isEmpty()) {
    target.Device = target.Host = alias;  // a device node placed there itself
  } else if (QDir::isAbsolutePath(link)) {
    target.Device = QDir::cleanPath(link);
    target.Host = HostPath(target.Device);
  } else {
    target.Device = target.Host = QDir::cleanPath(AliasFolder() + u'/' + link);
  }
  return target;
}

// The new link is made beside the alias and renamed over it, so the alias is never missing.
QString LinkComName(const QString& com, const QString& target, QString& previous) {
  const QString alias = AliasPath(com);
  previous.clear();
  if (alias.isEmpty()) return QString::fromUtf8(kNoAliasFolder);
  if (Exists(alias)) {
    if (!IsLink(alias)) return alias + QStringLiteral(" exists and is not a link; remove it first");
    previous = LinkTarget(alias);
  }
  std::error_code error;
  fs::create_directories(FsPath(AliasFolder()), error);
  if (error) return QStringLiteral("cannot create %1: %2").arg(AliasFolder(), QString::fromStdString(error.message()));
  const QString temporary = alias + QStringLiteral(".new");
  fs::remove(FsPath(temporary), error);
  fs::create_symlink(FsPath(target), FsPath(temporary), error);
  if (!error) fs::rename(FsPath(temporary), FsPath(alias), error);
  if (!error) return QString();
  // A code of its own for the clean-up, so that the message keeps the reason of the failure.
  std::error_code cleanup;
  fs::remove(FsPath(temporary), cleanup);
  return QStringLiteral("cannot write %1: %2").arg(alias, QString::fromStdString(error.message()));
}

QString UnlinkComName(const QString& com, QString& previous) {
  const QString alias = AliasPath(com);
  previous.clear();
  if (alias.isEmpty() || !Exists(alias)) return QStringLiteral("not linked");
  if (!IsLink(alias)) return alias + QStringLiteral(" is not a link; left as it is");
  previous = LinkTarget(alias);
  std::error_code error;
  fs::remove(FsPath(alias), error);
  if (error) return QStringLiteral("cannot remove %1: %2").arg(alias, QString::fromStdString(error.message()));
  return QString();
}
