#include "ctl/comarg.h"

#include "devices/comnames.h"
#include "devices/comtargets.h"
#include "devices/serialdevices.h"

bool TakeComArgument(const QCommandLineParser& parser, const QString& command, int count,
                     TCtlIo& io, QString& com, int& exitCode) {
  const QStringList args = parser.positionalArguments();
  exitCode = kExitUsage;
  if (args.size() != count) {
    PrintError(io, command, QStringLiteral("expects %1; see 'zirv7ctl %2 --help'")
                                .arg(count == 1 ? QStringLiteral("COMn") : QStringLiteral("COMn DEVICE"), command));
    return false;
  }
  // Only the one form the tool reads: "com4" would make an alias that --port com4 and the
  // window never find.
  com = args.first();
  const int number = ComNumber(com);
  if (number < kFirstCom || number > kLastCom) {
    PrintError(io, com.isEmpty() ? QStringLiteral("''") : com,
               QStringLiteral("not a port name of the tool (COM1 to COM32)"));
    return false;
  }
  exitCode = kExitOk;
  return true;
}

QString AliasInUseProblem(const QString& com, const QString& change, const QString& keptTarget) {
  const TPortTarget current = ResolvePort(com);
  if (current.Alias.isEmpty() || current.Device == keptTarget) return QString();
  const QList<THolder> holders = TargetHolders(current);
  if (holders.isEmpty()) return QString();
  return QStringLiteral("leads to %1, which %2 holds now; %3 %4 would take the port from "
                        "under it. Close it there first, or use --force.")
      .arg(current.Device, HoldersText(holders), change, com);
}

QCommandLineOption ForceOption(const QString& change) {
  return QCommandLineOption(QStringLiteral("force"),
                            QStringLiteral("%1 the link even when its device is in use.").arg(change));
}
