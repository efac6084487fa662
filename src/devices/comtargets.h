#pragma once

#include <QList>
#include <QString>

#include "devices/access.h"
#include "devices/comnames.h"
#include "devices/holders.h"
#include "devices/serialdevices.h"

// What the COM names' aliases may lead to, and what they lead to besides serial adapters.

// Returns "" when insidePath may be the target of a COM name's alias, else why not: it must
// be a character device under /dev that is a terminal (a serial port, a USB adapter, a
// pseudo-terminal), not a file, folder, memory device or the console. Under a device root a
// node may stand for a device as a regular file. A bare name ("ttyUSB0") means /dev/ttyUSB0.
QString LinkTargetProblem(const QString& insidePath);

// Returns whether the character device numbers belong to a terminal driver other than the
// system's own nodes (/dev/tty, /dev/console, /dev/ptmx) and pseudo-terminal masters, as
// the table of tty drivers (procDir/tty/drivers) lists them.
bool IsTerminalDevice(unsigned major, unsigned minor, const QString& procDir = QStringLiteral("/proc"));

// Returns the programs that hold the device a port target leads to (a lock on it, or an
// open descriptor): the simulated board, a terminal program, the tool.
QList<THolder> TargetHolders(const TPortTarget& target, const TScanContext& context = {});

// Returns one entry per device that COM names' aliases lead to and that present (the
// serial devices listed) does not hold: a pseudo-terminal of the simulated board, another
// terminal, or nothing at all. Description says what it is; Problem is set for an alias
// that leads nowhere.
QList<TSerialDevice> OtherComTargets(const QList<TSerialDevice>& present, const TScanContext& context = {});

// Returns the name of the device a port name leads to that stays the same however the port is
// named and wherever it is plugged in: its stable name under /dev/serial/by-id where it has one,
// else the device itself, with every link followed ("/dev/ttyUSB0", "/dev/pts/7"). "COM3" through
// its alias, "COM1" without one (the legacy port /dev/ttyS0) and the device's own path give the
// same name. A name that leads nowhere is returned as it is.
QString StableDeviceName(const QString& portName);
