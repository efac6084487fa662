#include "devices/deviceroot.h"

#include <QFile>

namespace {

bool IsUnder(const QString& path, QLatin1String folder) {
  return path == folder || (path.startsWith(folder) && path.at(folder.size()) == u'/');
}

}  // namespace

QString DeviceRoot() {
  QString root = qEnvironmentVariable("ZIRV7TUNE_DEVICE_ROOT");
  while (root.endsWith(u'/')) root.chop(1);
  return root;
}

QString HostPath(const QString& insidePath) {
  const QString root = DeviceRoot();
  if (root.isEmpty()) return insidePath;
  if (!IsUnder(insidePath, QLatin1String("/dev")) && !IsUnder(insidePath, QLatin1String("/sys")))
    return insidePath;
  return root + insidePath;
}

QString ReadAttribute(const QString& hostPath) {
  QFile file(hostPath);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readLine(4096)).trimmed();
}
