#include "ctl/comarg.h"

#include "devices/comnames.h"

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
