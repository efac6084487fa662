#include "devices/serialdevices.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <filesystem>

#include "devices/deviceroot.h"
#include "devices/holders.h"

namespace {

QString SysTty(const QString& name) { return HostPath(QStringLiteral("/sys/class/tty/") + name); }

bool IsTtyEntry(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         QFileInfo::exists(SysTty(name));
}

bool IsLegacyName(const QString& name) {
  static const QRegularExpression legacy(QStringLiteral("^ttyS[0-9]+$"));
  return legacy.match(name).hasMatch();
}

// The raw target of a link, "" when path is no link.
QString RawLinkTarget(const QString& hostPath) {
  std::error_code error;
  const auto target = std::filesystem::read_symlink(QFile::encodeName(hostPath).toStdString(), error);
  return error ? QString() : QFile::decodeName(QByteArray::fromStdString(target.string()));
}

// Returns the UART type of a serial-core port (0 = unknown), or -1 when it has none.
int UartType(const QString& name) {
  bool ok = false;
  const int type = ReadAttribute(SysTty(name) + QStringLiteral("/type")).toInt(&ok);
  return ok ? type : -1;
}

QString UartName(int type) {
  static const char* const names[] = {"",       "8250",   "16450",     "16550",
                                      "16550A", "Cirrus", "16650",     "16650V2",
                                      "16750",  "Startech", "16C950", "16654", "16850"};
  if (type > 0 && type < int(std::size(names))) return QLatin1String(names[type]);
  return type > 0 ? QStringLiteral("UART type %1").arg(type) : QString();
}

// What the walk from the tty's device up towards /sys/devices found.
struct TAncestry {
  QString UsbDir;  // the USB device (the folder with idVendor), "" when not USB
  bool Pci = false;
  QString Driver;
};

TAncestry WalkUp(const QString& name) {
  TAncestry found;
  const QString top = QFileInfo(HostPath(QStringLiteral("/sys"))).canonicalFilePath();
  QString dir = QFileInfo(SysTty(name) + QStringLiteral("/device")).canonicalFilePath();
  found.Driver = QFileInfo(RawLinkTarget(dir + QStringLiteral("/driver"))).fileName();
  for (int level = 0; level < 8 && dir.startsWith(top + u'/'); ++level) {
    if (QFileInfo::exists(dir + QStringLiteral("/idVendor"))) {
      found.UsbDir = dir;
      return found;
    }
    if (QFileInfo(RawLinkTarget(dir + QStringLiteral("/subsystem"))).fileName() == QLatin1String("pci"))
      found.Pci = true;
    dir = QFileInfo(dir).path();
  }
  return found;
}

QString UsbDescription(const QString& product, const QString& vendorId, const QString& productId,
                       const QStringList& details) {
  QString text = product.isEmpty()
                     ? QStringLiteral("USB serial adapter %1:%2").arg(vendorId, productId)
                     : product;
  if (!details.isEmpty()) text += QStringLiteral(" (%1)").arg(details.join(QStringLiteral(", ")));
  return text;
}

void Describe(TSerialDevice& device) {
  const TAncestry ancestry = WalkUp(device.Name);
  if (!ancestry.UsbDir.isEmpty()) {
    const auto attribute = [&](const char* file) {
      return ReadAttribute(ancestry.UsbDir + u'/' + QLatin1String(file));
    };
    device.VendorId = attribute("idVendor");
    device.ProductId = attribute("idProduct");
    device.Serial = attribute("serial");
    QStringList details;
    for (const QString& part : {attribute("manufacturer"), device.Serial})
      if (!part.isEmpty()) details << part;
    device.Description =
        UsbDescription(attribute("product"), device.VendorId, device.ProductId, details);
    return;
  }
  const QString kind = ancestry.Pci ? QStringLiteral("PCI serial port")
                                    : QStringLiteral("Built-in serial port");
  QString detail = UartName(UartType(device.Name));
  if (detail.isEmpty()) detail = ancestry.Driver;
  device.Description = detail.isEmpty() ? kind : QStringLiteral("%1 (%2)").arg(kind, detail);
}

// Maps each tty to its stable names under /dev/serial/by-id.
QMap<QString, QString> ByIdNames() {
  QMap<QString, QString> names;
  const QDir byId(HostPath(QStringLiteral("/dev/serial/by-id")));
  for (const QString& entry : byId.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
    const QString inside = QStringLiteral("/dev/serial/by-id/") + entry;
    const QString tty = TtyNameOf(inside);
    if (!tty.isEmpty() && !names.contains(tty)) names.insert(tty, inside);
  }
  return names;
}

// Orders names by their text, numbers by value: ttyS2 before ttyS10.
bool NaturalLess(const QString& a, const QString& b) {
  static const QRegularExpression tail(QStringLiteral("^(.*?)([0-9]*)$"));
  const auto ma = tail.match(a), mb = tail.match(b);
  if (ma.captured(1) != mb.captured(1)) return ma.captured(1) < mb.captured(1);
  return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
}

bool HasExplicitAlias(const QStringList& coms) {
  for (const QString& com : coms)
    if (!ResolvePort(com).Alias.isEmpty()) return true;
  return false;
}

}  // namespace

QString TtyNameOf(const QString& insidePath) {
  QString path = QDir::cleanPath(insidePath);
  for (int hop = 0; hop < 16 && !path.isEmpty(); ++hop) {
    const QString name = QFileInfo(path).fileName();
    if (IsTtyEntry(name)) return name;
    const QString target = RawLinkTarget(HostPath(path));
    if (target.isEmpty()) return QString();
    path = QDir::cleanPath(QDir::isAbsolutePath(target) ? target
                                                        : QFileInfo(path).path() + u'/' + target);
  }
  return QString();
}

QString StableDevicePath(const QString& insidePath) {
  const QString byId = ByIdNames().value(TtyNameOf(insidePath));
  return byId.isEmpty() ? insidePath : byId;
}

QString TtyNameOf(const TPortTarget& target) {
  if (target.Device.isEmpty()) return QString();
  // A path given as it is lies on this machine, outside any device root.
  if (target.Name.startsWith(u'/') && !DeviceRoot().isEmpty()) return QString();
  return TtyNameOf(target.Device);
}

bool HasNoUart(const QString& ttyName) { return !ttyName.isEmpty() && UartType(ttyName) == 0; }

bool OpenedWithoutUart(const TPortTarget& target, int fd) {
  const QString name = TtyNameOf(target);
  const int type = name.isEmpty() ? -1 : UartType(name);
  if (type >= 0) return type == 0;
  if (!IsLegacyName(name.isEmpty() ? QFileInfo(target.Device).fileName() : name)) return false;
  serial_struct info{};
  return ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
}

QMap<QString, QStringList> ComNamesByTty() {
  QList<int> numbers;
  for (int n = kFirstCom; n <= kLastCom; ++n) numbers << n;
  for (const QString& entry : AliasFolderEntries()) {
    const int n = ComNumber(entry);
    if (n > kLastCom) numbers << n;
  }
  std::sort(numbers.begin(), numbers.end());
  QMap<QString, QStringList> coms;
  for (int n : numbers) {
    const QString com = QStringLiteral("COM%1").arg(n);
    const QString tty = TtyNameOf(ResolvePort(com));
    if (!tty.isEmpty()) coms[tty] << com;
  }
  return coms;
}

QString DeviceProblem(const QString& ttyName, const QString& device, const TScanContext& context) {
  if (HasNoUart(ttyName)) return QStringLiteral("no UART behind it");
  const QString host = HostPath(device);
  const TNodeAccess access = CheckAccess(host, context.Who);
  switch (access.Verdict) {
    case TAccess::Allowed: break;
    case TAccess::JoinGroup: return QStringLiteral("no permission (not in group %1)").arg(access.Group);
    case TAccess::NewLogin: return QStringLiteral("no permission (log in again for group %1)").arg(access.Group);
    default: return QStringLiteral("no permission (%1, group %2)").arg(access.Mode, access.Group);
  }
  // A program without a lock (socat, screen, a script) stands in the way as much as one with.
  const QList<THolder> holders = OtherHolders(host, ttyName, -1, context).Holders;
  return holders.isEmpty() ? QString() : QStringLiteral("in use by ") + HoldersText(holders);
}

QList<TSerialDevice> ListSerialDevices(const TScanContext& context) {
  const QMap<QString, QStringList> coms = ComNamesByTty();
  const QMap<QString, QString> byId = ByIdNames();
  QStringList names = QDir(HostPath(QStringLiteral("/sys/class/tty"))).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  std::sort(names.begin(), names.end(), NaturalLess);
  QList<TSerialDevice> devices;
  for (const QString& name : names) {
    // Virtual terminals, the console and pseudo-terminals have no device behind them; a
    // device without its node (in a container) cannot be opened.
    if (!QFileInfo::exists(SysTty(name) + QStringLiteral("/device"))) continue;
    if (!QFileInfo::exists(HostPath(QStringLiteral("/dev/") + name))) continue;
    if (IsLegacyName(name) && HasNoUart(name) && !HasExplicitAlias(coms.value(name))) continue;
    TSerialDevice device;
    device.Name = name;
    device.Device = QStringLiteral("/dev/") + name;
    device.ById = byId.value(name);
    device.Com = coms.value(name).join(QStringLiteral(", "));
    Describe(device);
    device.Problem = DeviceProblem(name, device.Device, context);
    devices << device;
  }
  return devices;
}
