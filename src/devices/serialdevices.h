#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "devices/access.h"
#include "devices/comnames.h"

// The serial devices present, read from /sys/class/tty and /dev/serial/by-id (under the
// device root): USB adapters (ttyUSB, ttyACM) with what their USB device says of itself,
// platform and PCI ports, and legacy ttyS ports that have a UART. Legacy ports whose UART
// type is unknown have nothing behind them and are left out, unless an alias leads there.
// Plain sysfs files are read rather than through libudev: the attributes needed are a few
// small files, and libudev cannot be pointed at a fake device root.

struct TSerialDevice {
  QString Name;         // the kernel's name, "ttyUSB0"
  QString Device;       // "/dev/ttyUSB0"
  QString ById;         // its stable name under /dev/serial/by-id, "" when none
  QString Description;  // "FT232R USB UART (FTDI, A50285BI)"
  QString VendorId;     // USB vendor and product IDs ("0403", "6001"), "" when not USB
  QString ProductId;
  QString Serial;       // the USB serial number, "" when none
  QString Com;          // the port names leading here, "COM3" (", " between several)
  QString Problem;      // "no permission (...)", "in use by ...", "no UART behind it", or ""
};

// Lists the serial devices present, in name order (ttyS2 before ttyS10).
QList<TSerialDevice> ListSerialDevices(const TScanContext& context = {});

// Returns the kernel name of the tty a path inside the root leads to, following links
// (by-id names, aliases) as long as they stay inside the root; "" when it leads to none.
QString TtyNameOf(const QString& insidePath);

// Returns the stable name under /dev/serial/by-id of the tty a path inside the root leads
// to, which survives re-plugging and reboots; the path itself when it has none.
QString StableDevicePath(const QString& insidePath);

// Returns the tty name a port target leads to ("" when none).
QString TtyNameOf(const TPortTarget& target);

// Returns whether the tty is a serial port with no UART behind it (its UART type is unknown).
bool HasNoUart(const QString& ttyName);

// Returns whether the device just opened on fd, reached through target, is a legacy port
// with no UART behind it: the port's type in sysfs, else TIOCGSERIAL for a ttyS.
bool OpenedWithoutUart(const TPortTarget& target, int fd);

// Returns the port names COM1 to COM32, and any other with an alias, leading to each tty.
QMap<QString, QStringList> ComNamesByTty();

// Returns the problem of a device present for the user of context: "" when there is none.
QString DeviceProblem(const QString& ttyName, const QString& device, const TScanContext& context);
