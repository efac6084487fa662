// zirv7ctl write: a parameter file's differing values to the board, as the window writes them.
#include "boardsession/interrupt.h"
#include "ctl/boardcmd.h"
#include "ctl/boardwrite.h"
#include "ctl/commands.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "ctl/paramsets.h"

namespace {

const QString kName = QStringLiteral("write");

}  // namespace

int RunWrite(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Writes the values of FILE that differ from the board's, as the window's \"Write to ZIRV\n"
      "EE-Prom\" writes them after \"Open Parameters\": each value as its entry field shows it,\n"
      "one set command per differing value in the order of the \"Parameters\" page, every\n"
      "answer checked and the values read back. Shows the differences and asks first,\n"
      "unless --yes; --dry-run only shows them. A value the board limits is reported as\n"
      "limited, and the command fails. A value the board stores otherwise than sent, a failed\n"
      "write, Ctrl+C or standard output that cannot be written puts the board's values back;\n"
      "the table printed says what the board holds in the end."));
  AddPortOption(parser);
  AddWriteOptions(parser);
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The parameter file (.pset) to write."));
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("--port NAME FILE"), args, io, exitCode)) return exitCode;
  const QString port = parser.value(QStringLiteral("port"));
  const QStringList files = parser.positionalArguments();
  if (port.isEmpty() || files.size() != 1) {
    PrintError(io, kName, QStringLiteral("expects --port NAME FILE; see 'zirv7ctl write --help'"));
    return kExitUsage;
  }
  TParamValues target{};
  if (!ReadParameterFile(io, files.first(), target)) return kExitFailed;

  // Ctrl+C only raises a flag from here on: a write under way ends between two values and the
  // board gets its values back.
  TInterruptGuard guard;
  TWriteSetRequest request = WriteRequestOf(parser, kName, args, files.first());
  request.Target = target;
  // The history keeps the board's values before the first write; without it nothing is
  // written. A dry run writes nothing and needs none.
  TRunStore store;
  if (!request.DryRun) {
    if (!OpenRunHistory(io, store)) return kExitFailed;
    request.Journal = &store;
  }
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TWriteSetResult result =
      WriteParameterSet(session, request, BoardHooks(io, port, parser.isSet(QStringLiteral("yes"))));
  return PrintWriteSet(io, result, request.DryRun);
}
