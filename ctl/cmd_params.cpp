// zirv7ctl params: the board's fourteen values, by the window's captions and the file keys.

#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/options.h"
#include "ctl/paramsets.h"
#include "globals/jsontext.h"
#include "parameters/paramtable.h"
#include "steprun/steprun.h"

namespace {

const QString kName = QStringLiteral("params");

void PrintParams(TCtlIo& io, const TPIDParams& board) {
  std::vector<QStringList> rows = {{"CAPTION", "KEY", "VALUE", "UNIT"}};
  for (const TParamRow& row : ParamTable())
    rows.push_back({QString::fromUtf8(row.Caption), QLatin1String(row.FileKey),
                    ValueText(RecordValue(board, row)), QString::fromUtf8(row.Unit)});
  PrintTable(io, rows, 2);
}

}  // namespace

int RunParams(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Reads the board's fourteen parameters (\"l\") and prints them with the captions of the\n"
      "window's \"Parameters\" page and the keys of a parameter file; --json prints an object\n"
      "by the file keys. Nothing is written."));
  AddPortOption(parser);
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print the values as a JSON object by file key.")});
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("--port NAME"), args, io, exitCode)) return exitCode;
  const QString port = parser.value(QStringLiteral("port"));
  if (port.isEmpty() || !parser.positionalArguments().isEmpty()) {
    PrintError(io, kName, QStringLiteral("expects --port NAME and nothing else; see 'zirv7ctl params --help'"));
    return kExitUsage;
  }
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  if (parser.isSet(QStringLiteral("json")))
    io.Out << JsonText(ParamsJson(session.Board()));
  else
    PrintParams(io, session.Board());
  return kExitOk;
}
