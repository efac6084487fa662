// zirv7ctl unlink COMn: removes the link that makes a port name lead to a device.
#include "ctl/commands.h"
#include "ctl/comarg.h"
#include "devices/comnames.h"

int RunUnlink(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Removes the link made by 'zirv7ctl link'; COMn then leads to /dev/ttyS<n-1> again.\n"
      "A link that leads to a device some program holds now is not removed unless --force."));
  parser.addPositionalArgument(QStringLiteral("COMn"), QStringLiteral("The port name to unlink."));
  const QCommandLineOption force = ForceOption(QStringLiteral("Remove"));
  parser.addOption(force);
  int exitCode = kExitOk;
  QString com;
  if (!ParseCommandLine(parser, QStringLiteral("unlink"), QStringLiteral("COMn [--force]"), args, io, exitCode) ||
      !TakeComArgument(parser, QStringLiteral("unlink"), 1, io, com, exitCode))
    return exitCode;
  const QString inUse = parser.isSet(force) ? QString() : AliasInUseProblem(com, QStringLiteral("removing"));
  if (!inUse.isEmpty()) {
    PrintError(io, com, inUse);
    return kExitFailed;
  }
  QString previous;
  const QString refusal = UnlinkComName(com, previous);
  if (!refusal.isEmpty()) {
    PrintError(io, com, refusal);
    return kExitFailed;
  }
  io.Out << com << " unlinked (was " << previous << ")\n";
  return kExitOk;
}
