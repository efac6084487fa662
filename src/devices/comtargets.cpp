#include "devices/comtargets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "devices/deviceroot.h"

namespace {

// One line of the tty driver table: "pty_slave /dev/pts 136 0-1048575 pty:slave".
bool DriverLineCovers(const QList<QByteArray>& fields, unsigned major, unsigned minor) {
  if (fields.size() < 5 || fields[2].toUInt() != major) return false;
  const QByteArray& type = fields[4];
  if (type.startsWith("system") || type == "pty:master") return false;
  const QList<QByteArray> range = fields[3].split('-');
  const unsigned low = range[0].toUInt();
  const unsigned high = range.size() > 1 ? range[1].toUInt() : low;
  return minor >= low && minor <= high;
}

QString KindOfNode(const QString& host) {
  struct stat st {};
  if (::stat(QFile::encodeName(host).constData(), &st) != 0) return QString();
  if (S_ISCHR(st.st_mode) && QFileInfo(host).canonicalFilePath().startsWith(QLatin1String("/dev/pts/")))
    return QStringLiteral("pseudo-terminal");
  if (S_ISCHR(st.st_mode))
    return IsTerminalDevice(major(st.st_rdev), minor(st.st_rdev)) ? QStringLiteral("terminal device")
                                                                  : QStringLiteral("not a terminal");
  if (S_ISREG(st.st_mode) && !DeviceRoot().isEmpty()) return QStringLiteral("stand-in device");
  return QStringLiteral("not a device");
}

// "pseudo-terminal of zirv7-sim (PID 4242)".
QString DescribeTarget(const TPortTarget& target, const TScanContext& context) {
  const QString kind = KindOfNode(target.Host);
  if (kind.isEmpty()) return QString();
  const QList<THolder> holders = TargetHolders(target, context);
  return holders.isEmpty() ? kind : QStringLiteral("%1 of %2").arg(kind, HoldersText(holders));
}

bool Listed(const QList<TSerialDevice>& devices, const QString& tty) {
  if (tty.isEmpty()) return false;
  for (const TSerialDevice& d : devices)
    if (d.Name == tty) return true;
  return false;
}

}  // namespace

bool IsTerminalDevice(unsigned major, unsigned minor, const QString& procDir) {
  QFile table(procDir + QStringLiteral("/tty/drivers"));
  if (!table.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : table.readAll().split('\n'))
    if (DriverLineCovers(line.simplified().split(' '), major, minor)) return true;
  return false;
}

QString LinkTargetProblem(const QString& insidePath) {
  if (insidePath.trimmed().isEmpty()) return QStringLiteral("an empty name is no device");
  const QString path =
      QDir::cleanPath(insidePath.startsWith(u'/') ? insidePath : QStringLiteral("/dev/") + insidePath);
  if (path != QLatin1String("/dev") && !path.startsWith(QLatin1String("/dev/")))
    return QStringLiteral("not a device: a COM name leads only to a terminal device under /dev");
  const QString host = HostPath(path);
  struct stat st {};
  if (::stat(QFile::encodeName(host).constData(), &st) != 0)
    return QStringLiteral("no such device (see 'zirv7ctl ports')");
  if (S_ISREG(st.st_mode) && !DeviceRoot().isEmpty()) return QString();
  if (S_ISDIR(st.st_mode)) return QStringLiteral("a folder, not a device");
  if (!S_ISCHR(st.st_mode)) return QStringLiteral("not a character device");
  if (!IsTerminalDevice(major(st.st_rdev), minor(st.st_rdev)))
    return QStringLiteral("not a serial port or terminal (a COM name leads only to one)");
  return QString();
}

QList<THolder> TargetHolders(const TPortTarget& target, const TScanContext& context) {
  if (target.Host.isEmpty() || !QFileInfo::exists(target.Host)) return {};
  QList<THolder> holders = LockHolders(target.Host, TtyNameOf(target), context);
  for (const THolder& h : OpenHolders(target.Host, context))
    if (!holders.contains(h)) holders << h;
  return holders;
}

QList<TSerialDevice> OtherComTargets(const QList<TSerialDevice>& present, const TScanContext& context) {
  QStringList names = AliasFolderEntries();
  names.removeIf([](const QString& name) { return ComNumber(name) == 0; });
  std::sort(names.begin(), names.end(),
            [](const QString& a, const QString& b) { return ComNumber(a) < ComNumber(b); });
  QList<TSerialDevice> others;
  for (const QString& com : names) {
    const TPortTarget target = ResolvePort(com);
    if (target.Alias.isEmpty() || Listed(present, TtyNameOf(target))) continue;
    auto same = std::find_if(others.begin(), others.end(),
                             [&](const TSerialDevice& d) { return d.Device == target.Device; });
    if (same != others.end()) {
      same->Com += QStringLiteral(", ") + com;
      continue;
    }
    TSerialDevice device;
    device.Device = target.Device;
    device.Com = com;
    device.Description = DescribeTarget(target, context);
    if (device.Description.isEmpty()) {
      device.Description = QStringLiteral("nothing");
      device.Problem = QStringLiteral("nothing is there (zirv7ctl unlink %1)").arg(com);
    }
    others << device;
  }
  return others;
}

QString StableDeviceName(const QString& portName) {
  const TPortTarget target = ResolvePort(portName);
  if (target.Device.isEmpty()) return portName;
  const QString tty = TtyNameOf(target);
  if (!tty.isEmpty()) return StableDevicePath(QStringLiteral("/dev/") + tty);
  // No tty of the kernel's serial drivers (a pseudo-terminal, a path outside the device
  // root): the node the links end at.
  const QString canonical = QFileInfo(target.Host).canonicalFilePath();
  if (canonical.isEmpty()) return target.Device;
  const QString root = DeviceRoot();
  if (root.isEmpty() || target.Name.startsWith(u'/')) return canonical;
  return canonical.startsWith(root + u'/') ? canonical.mid(root.size()) : target.Device;
}
