// zirv7ctl unlink COMn: removes the link that makes a port name lead to a device.
#include "ctl/commands.h"
#include "ctl/comarg.h"
#include "devices/comnames.h"

int RunUnlink(const TCommandArgs& args, TCtlIo& io) {
  const QString com = args.Positional().at(0);
  const QString inUse = args.Has("force") ? QString() : AliasInUseProblem(com, QStringLiteral("removing"));
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
