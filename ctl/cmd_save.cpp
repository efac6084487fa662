// zirv7ctl save: the board's values into a parameter file, as the window's Save writes it.
#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/options.h"
#include "ctl/outputoptions.h"
#include "ctl/paramsets.h"
#include "outputfile/outputfile.h"

namespace {

const QString kName = QStringLiteral("save");

}  // namespace

int RunSave(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Reads the board's fourteen parameters and writes them into FILE as the window's \"Save\n"
      "Parameters\" writes them after \"Read ZIRV parameters\": the section [ZIRVParam], the\n"
      "same keys, number text and line ends, each value as its entry field shows it. Every\n"
      "other line of an existing file stays as it was. Nothing is written to the board."));
  AddPortOption(parser);
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The parameter file (.pset) to write."));
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("--port NAME FILE"), args, io, exitCode)) return exitCode;
  const QString port = parser.value(QStringLiteral("port"));
  const QStringList files = parser.positionalArguments();
  if (port.isEmpty() || files.size() != 1) {
    PrintError(io, kName, QStringLiteral("expects --port NAME FILE; see 'zirv7ctl save --help'"));
    return kExitUsage;
  }
  // '-' stands for standard output elsewhere; a file of that name would only be a trap.
  if (files.first() == QLatin1String(kStandardOutput)) {
    PrintError(io, kName, QStringLiteral("'-' is no file name here: give the parameter file's name "
                                         "('zirv7ctl params' prints the values)"));
    return kExitUsage;
  }
  // Checked before the board is asked, so that a wrong path costs nothing.
  if (!CheckOutputPath(files.first(), io)) return kExitFailed;
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TResult<void> saved = SaveParameterFile(files.first(), ShownValues(ParamValuesOf(session.Board())));
  if (!saved) {
    PrintFailure(io, saved.Failure());
    return kExitFailed;
  }
  io.Err << port << ": the board's values are in " << files.first() << "\n" << Qt::flush;
  return kExitOk;
}
