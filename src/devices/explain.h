#pragma once

#include <QList>
#include <QString>

#include "devices/access.h"
#include "devices/serialdevices.h"

// Words for the user about ports: what a port failure means and what cures it, and what a
// port name reaches now.

// Returns the explanation of a failure of the port named portName ("COM3", or a path) with
// the system's error number: naming the device path and the cure. atOpen tells an open
// that failed from a device failing while in use. "" when there is nothing to add.
QString ExplainPortFailure(const QString& portName, bool atOpen, int errorNumber,
                           const TScanContext& context = {});

// Returns where portName leads now, as the explanations name it: "/dev/ttyUSB0 (COM3)", or the
// path alone when the name is a path. A port remembers this when it opens.
QString PortWhere(const QString& portName);

// Returns the explanation of a failure of a port that was open at where (as PortWhere gave it
// at the open) with the system's error number; "" when there is nothing to add.
QString ExplainFailureInUse(const QString& where, int errorNumber);

// Returns what a COM name reaches now, for the port selector: "COM3: FT232R USB UART (FTDI,
// A50285BI) — /dev/ttyUSB0", or that nothing is there. present is ListSerialDevices().
QString DescribeComName(const QString& com, const QList<TSerialDevice>& present);
