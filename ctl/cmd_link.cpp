// zirv7ctl link COMn DEVICE: makes a port name of the tool lead to a device.
#include <QFileInfo>

#include "ctl/commands.h"
#include "ctl/comarg.h"
#include "devices/deviceroot.h"
#include "devices/serialdevices.h"

namespace {

// "ttyUSB0" means /dev/ttyUSB0; paths are taken as they are.
QString DevicePathOf(const QString& argument) {
  return argument.startsWith(u'/') ? argument : QStringLiteral("/dev/") + argument;
}

}  // namespace

int RunLink(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Makes COMn (COM1 to COM32) lead to DEVICE (for example /dev/ttyUSB0), through its\n"
      "stable name under /dev/serial/by-id when it has one, so that the link survives\n"
      "re-plugging and reboots. The link is ${XDG_CONFIG_HOME:-~/.config}/zirv7tune/ports/COMn."));
  parser.addPositionalArgument(QStringLiteral("COMn"), QStringLiteral("The port name to link."));
  parser.addPositionalArgument(QStringLiteral("DEVICE"), QStringLiteral("The device it leads to."));
  int exitCode = kExitOk;
  QString com;
  if (!ParseCommandLine(parser, QStringLiteral("link"), QStringLiteral("COMn DEVICE"), args, io, exitCode) ||
      !TakeComArgument(parser, QStringLiteral("link"), 2, io, com, exitCode))
    return exitCode;
  const QString device = DevicePathOf(parser.positionalArguments().at(1));
  if (!QFileInfo::exists(HostPath(device))) {
    PrintError(io, device, QStringLiteral("no such device (see 'zirv7ctl ports')"));
    return kExitFailed;
  }
  if (HasNoUart(TtyNameOf(device))) {
    PrintError(io, device, QStringLiteral("no UART behind it; nothing can answer there"));
    return kExitFailed;
  }
  const QString target = StableDevicePath(device);
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
