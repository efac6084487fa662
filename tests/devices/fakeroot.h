#pragma once

// A fake device root for tests: /dev and /sys as the kernel and udev lay them out for USB
// adapters and legacy ports, in a temporary folder that ZIRV7TUNE_DEVICE_ROOT points to,
// with a private alias folder (XDG_CONFIG_HOME). Device nodes are links to whatever the test
// gives, usually a pseudo-terminal that plays the board.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <functional>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

struct TFakeUsbAdapter {
  QString Tty = QStringLiteral("ttyUSB0");
  QString Port = QStringLiteral("1-2");  // the USB port path
  QString VendorId = QStringLiteral("0403");
  QString ProductId = QStringLiteral("6001");
  QString Manufacturer = QStringLiteral("FTDI");
  QString Product = QStringLiteral("FT232R USB UART");
  QString Serial = QStringLiteral("A50285BI");
  QString ById = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");  // "" = none

  // A CH340 adapter at ttyUSB1 that tells nothing of itself but its IDs: no names, no serial
  // number and so no by-id link.
  static TFakeUsbAdapter BareCh340() {
    return {.Tty = QStringLiteral("ttyUSB1"), .Port = QStringLiteral("1-3"), .VendorId = QStringLiteral("1a86"),
            .ProductId = QStringLiteral("7523"), .Manufacturer = {}, .Product = {}, .Serial = {}, .ById = {}};
  }
};

class TFakeDeviceRoot {
 public:
  TFakeDeviceRoot() {
    FSavedRoot = qgetenv("ZIRV7TUNE_DEVICE_ROOT");
    FSavedConfig = qgetenv("XDG_CONFIG_HOME");
    QDir(FDir.path()).mkpath(QStringLiteral("root/dev"));
    QDir(FDir.path()).mkpath(QStringLiteral("root/sys/class/tty"));
    QDir(FDir.path()).mkpath(QStringLiteral("config"));
    qputenv("ZIRV7TUNE_DEVICE_ROOT", Root().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", Config().toLocal8Bit());
    // A virtual terminal: a tty without a device behind it, never listed.
    MakeDir(QStringLiteral("/sys/devices/virtual/tty/tty0"));
    Link(QStringLiteral("/sys/class/tty/tty0"), Root() + QStringLiteral("/sys/devices/virtual/tty/tty0"));
  }
  ~TFakeDeviceRoot() {
    Restore("ZIRV7TUNE_DEVICE_ROOT", FSavedRoot);
    Restore("XDG_CONFIG_HOME", FSavedConfig);
  }

  QString Root() const { return FDir.path() + QStringLiteral("/root"); }
  QString Config() const { return FDir.path() + QStringLiteral("/config"); }
  QString AliasFile(const QString& com) const { return Config() + QStringLiteral("/zirv7tune/ports/") + com; }
  // Where a path inside the root lies on this machine.
  QString Host(const QString& inside) const { return Root() + inside; }

  // Plugs in a USB serial adapter (ttyUSB: a usb-serial port below the interface; ttyACM: the
  // interface itself) whose node links to node; "" makes no node.
  void PlugUsb(const TFakeUsbAdapter& a, const QString& node) {
    const QString usb = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/") + a.Port;
    MakeDir(usb);
    WriteAttr(usb + QStringLiteral("/idVendor"), a.VendorId);
    WriteAttr(usb + QStringLiteral("/idProduct"), a.ProductId);
    if (!a.Manufacturer.isEmpty()) WriteAttr(usb + QStringLiteral("/manufacturer"), a.Manufacturer);
    if (!a.Product.isEmpty()) WriteAttr(usb + QStringLiteral("/product"), a.Product);
    if (!a.Serial.isEmpty()) WriteAttr(usb + QStringLiteral("/serial"), a.Serial);
    const QString interface = usb + u'/' + a.Port + QStringLiteral(":1.0");
    const bool acm = a.Tty.startsWith(QLatin1String("ttyACM"));
    const QString device = acm ? interface : interface + u'/' + a.Tty;
    MakeDir(device);
    Link(device + QStringLiteral("/subsystem"), Root() + (acm ? QStringLiteral("/sys/bus/usb") : QStringLiteral("/sys/bus/usb-serial")));
    AddTty(a.Tty, device, node);
    if (!a.ById.isEmpty()) {
      MakeDir(QStringLiteral("/dev/serial/by-id"));
      Link(QStringLiteral("/dev/serial/by-id/") + a.ById, QStringLiteral("../../") + a.Tty);
    }
  }

  // Adds a legacy port of the 8250 driver with the given UART type (0 = nothing behind it).
  void AddLegacyPort(const QString& tty, int uartType, const QString& node) {
    const QString device = QStringLiteral("/sys/devices/platform/serial8250");
    MakeDir(device);
    Link(device + QStringLiteral("/driver"), Root() + QStringLiteral("/sys/bus/platform/drivers/serial8250"));
    AddTty(tty, device, node);
    WriteAttr(device + QStringLiteral("/tty/") + tty + QStringLiteral("/type"), QString::number(uartType));
  }

  // Unplugs a device: its node, its by-id links and its sysfs entries go.
  void Unplug(const QString& tty) {
    QFile::remove(Host(QStringLiteral("/dev/") + tty));
    const QDir byId(Host(QStringLiteral("/dev/serial/by-id")));
    for (const QString& entry : byId.entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot))
      if (QFile::symLinkTarget(byId.filePath(entry)).endsWith(u'/' + tty)) QFile::remove(byId.filePath(entry));
    QFile::remove(Host(QStringLiteral("/sys/class/tty/") + tty));
  }

  // Makes a plain file in the test's folder to stand for a device a node links to.
  QString NodeFile(const QString& name) {
    QFile file(FDir.path() + QStringLiteral("/node-") + name);
    (void)file.open(QIODevice::WriteOnly);
    return file.fileName();
  }

  // Makes a node of its own (not through any sysfs entry) that links to target.
  void AddNode(const QString& inside, const QString& target) { Link(inside, target); }

 private:
  static void Restore(const char* name, const QByteArray& value) {
    if (value.isNull()) qunsetenv(name);
    else qputenv(name, value);
  }
  void MakeDir(const QString& inside) { QDir().mkpath(Host(inside)); }
  void Link(const QString& inside, const QString& target) {
    QFile::remove(Host(inside));
    QFile::link(target, Host(inside));
  }
  void WriteAttr(const QString& inside, const QString& value) {
    QFile file(Host(inside));
    if (file.open(QIODevice::WriteOnly)) file.write(value.toUtf8() + '\n');
  }
  // The tty's class folder below its device, the class link and the node.
  void AddTty(const QString& tty, const QString& device, const QString& node) {
    const QString classDir = device + QStringLiteral("/tty/") + tty;
    MakeDir(classDir);
    Link(classDir + QStringLiteral("/device"), Host(device));
    Link(QStringLiteral("/sys/class/tty/") + tty, Host(classDir));
    if (!node.isEmpty()) Link(QStringLiteral("/dev/") + tty, node);
  }

  QTemporaryDir FDir;
  QByteArray FSavedRoot;
  QByteArray FSavedConfig;
};

// Runs what in a child process that has dropped root for the user nobody and returns the text
// it gave, or "could not drop root". Tests of what an unprivileged user is told use it as root.
inline QByteArray TextAsNobody(const std::function<QByteArray()>& what) {
  int pipe[2];
  if (::pipe(pipe) != 0) return "could not make a pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe[0]);
    const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
    const QByteArray text = dropped ? what() : QByteArray("could not drop root");
    (void)!::write(pipe[1], text.constData(), text.size());
    ::_exit(0);
  }
  ::close(pipe[1]);
  QByteArray text;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(pipe[0]);
  ::waitpid(child, nullptr, 0);
  return text;
}
