#pragma once

#include <QString>

// Where /dev and /sys are read. Tests and demos present fake adapters by setting
// ZIRV7TUNE_DEVICE_ROOT to a folder holding dev/ and sys/; every path shown to the user is
// the one inside that root ("/dev/ttyUSB0"), and only opening and reading go through it.

// Returns the device root without a trailing "/", or "" for the machine's own /dev and /sys.
QString DeviceRoot();

// Returns where a path inside the root lies on this machine: paths under /dev and /sys
// move under the root, any other path stays as it is.
QString HostPath(const QString& insidePath);

// Returns the first line of a small file (a sysfs attribute), trimmed; "" when unreadable.
QString ReadAttribute(const QString& hostPath);
