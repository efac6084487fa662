// zirv7ctl link COMn DEVICE: makes a port name of the tool lead to a device.
#include <QDir>

#include "ctl/comarg.h"
#include "ctl/commands.h"
#include "devices/comtargets.h"
#include "devices/deviceroot.h"
#include "devices/serialdevices.h"

namespace {

const QString kName = QStringLiteral("link");

// "ttyUSB0" means /dev/ttyUSB0; paths are taken as they are.
QString DevicePathOf(const QString& argument) {
  return QDir::cleanPath(argument.startsWith(u'/') ? argument : QStringLiteral("/dev/") + argument);
}

}  // namespace

int RunLink(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Makes COMn (COM1 to COM32) lead to DEVICE (for example /dev/ttyUSB0), through its\n"
      "stable name under /dev/serial/by-id when it has one, so that the link survives\n"
      "re-plugging and reboots. The link is ${XDG_CONFIG_HOME:-~/.config}/zirv7tune/ports/COMn.\n"
      "DEVICE must be a serial port or another terminal device under /dev. A link that leads\n"
      "to a device some program holds now is not re-pointed unless --force."));
  parser.addPositionalArgument(QStringLiteral("COMn"), QStringLiteral("The port name to link."));
  parser.addPositionalArgument(QStringLiteral("DEVICE"), QStringLiteral("The device it leads to."));
  const QCommandLineOption force = ForceOption(QStringLiteral("Re-point"));
  parser.addOption(force);
  int exitCode = kExitOk;
  QString com;
  if (!ParseCommandLine(parser, kName, QStringLiteral("COMn DEVICE [--force]"), args, io, exitCode) ||
      !TakeComArgument(parser, kName, 2, io, com, exitCode))
    return exitCode;
  const QString argument = parser.positionalArguments().at(1);
  const QString problem = LinkTargetProblem(argument);
  if (!problem.isEmpty()) {
    PrintError(io, argument.isEmpty() ? QStringLiteral("''") : argument, problem);
    return kExitFailed;
  }
  const QString device = DevicePathOf(argument);
  if (HasNoUart(TtyNameOf(device))) {
    PrintError(io, device, QStringLiteral("no UART behind it; nothing can answer there"));
    return kExitFailed;
  }
  const QString target = StableDevicePath(device);
  const QString inUse = parser.isSet(force) ? QString() : AliasInUseProblem(com, QStringLiteral("re-pointing"), target);
  if (!inUse.isEmpty()) {
    PrintError(io, com, inUse);
    return kExitFailed;
  }
  QString previous;
  const QString refusal = LinkComName(com, target, previous);
  if (!refusal.isEmpty()) {
    PrintError(io, com, refusal);
    return kExitFailed;
  }
  if (!previous.isEmpty() && previous != target)
    PrintError(io, com, QStringLiteral("was linked to ") + previous);
  io.Out << com << " -> " << target << "\n";
  return kExitOk;
}
