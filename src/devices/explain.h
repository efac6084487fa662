#pragma once

#include <QList>
#include <QString>

#include "devices/access.h"
#include "devices/serialdevices.h"

// Words for the user about ports: what a port failure means and what cures it, and what a
// port name reaches now.

// Who reads an explanation: the window's error box speaks of its buttons, the command line
// of running the command again.
enum class TAudience { Window, CommandLine };

// Returns the explanation of a failure of the port named portName ("COM3", or a path) with
// the system's error number: naming the device path and the cure. atOpen tells an open
// that failed from a device failing while in use. "" when there is nothing to add. A COM
// name beyond COM32 is said to lie outside the tool's names first.
QString ExplainPortFailure(const QString& portName, bool atOpen, int errorNumber,
                           const TScanContext& context = {}, TAudience audience = TAudience::Window);

// Returns what to check when a board on the port named portName did not answer the command
// sent ("l"): power and cable, or, when the other end is the simulated board zirv7-sim, the
// fault modes it was started with.
QString ExplainSilentBoard(const QString& portName, const QString& sent,
                           const TScanContext& context = {});

// Returns where portName leads now, as the explanations name it: "/dev/ttyUSB0 (COM3)", or the
// path alone when the name is a path. A port remembers this when it opens.
QString PortWhere(const QString& portName);

// Returns the explanation of a failure of a port that was open at where (as PortWhere gave it
// at the open) with the system's error number, for audience; "" when there is nothing to add.
QString ExplainFailureInUse(const QString& where, int errorNumber,
                            TAudience audience = TAudience::Window);

// Returns what the explanation of a failure of a port open at where adds when, at the open,
// the descriptors of unchecked processes (other users') could not be read: that whether
// another program also has the device open is not known. "" when unchecked is 0.
QString UncheckedHoldersNote(const QString& where, int unchecked);

// Returns what a COM name reaches now, for the port selector: "COM3: FT232R USB UART (FTDI,
// A50285BI) — /dev/ttyUSB0", or that nothing is there. present is ListSerialDevices().
QString DescribeComName(const QString& com, const QList<TSerialDevice>& present);
