// zirv7ctl link COMn DEVICE: makes a port name of the tool lead to a device.
#include <QDir>

#include "ctl/comarg.h"
#include "ctl/commands.h"
#include "devices/comtargets.h"
#include "devices/deviceroot.h"
#include "devices/serialdevices.h"

namespace {

// "ttyUSB0" means /dev/ttyUSB0; paths are taken as they are.
QString DevicePathOf(const QString& argument) {
  return QDir::cleanPath(argument.startsWith(u'/') ? argument : QStringLiteral("/dev/") + argument);
}

}  // namespace

int RunLink(const TCommandArgs& args, TCtlIo& io) {
  const QString com = args.Positional().at(0);
  const QString argument = args.Positional().at(1);
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
  const QString inUse = args.Has("force") ? QString() : AliasInUseProblem(com, QStringLiteral("re-pointing"), target);
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
