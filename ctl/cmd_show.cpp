// zirv7ctl show: stored runs again, as a table, JSON, a picture or CSV, from any day.
#include "ctl/commands.h"
#include "ctl/outputoptions.h"
#include "ctl/steps.h"

namespace {

const QString kName = QStringLiteral("show");

}  // namespace

int RunShow(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Shows stored runs by their numbers (see 'zirv7ctl history'): their figures, or\n"
      "overlaid in a picture, or their samples as CSV."));
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print the runs as JSON.")});
  AddOutputOptions(parser, true);
  parser.addPositionalArgument(QStringLiteral("runs"), QStringLiteral("Run numbers."),
                               QStringLiteral("RUN..."));
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("RUN... [--json] [--png FILE] [--svg FILE] [--csv FILE]"),
                        args, io, exitCode))
    return exitCode;
  std::vector<qint64> ids;
  if (parser.positionalArguments().isEmpty()) {
    PrintError(io, kName, QStringLiteral("name at least one run"));
    return kExitUsage;
  }
  if (!ReadRunIds(io, kName, parser.positionalArguments(), ids)) return kExitUsage;

  TRunStore store;
  std::vector<TStepRun> runs;
  if (!OpenRunHistory(io, store, TStoreAccess::ReadOnly) || !LoadRuns(io, store, ids, runs)) return kExitFailed;
  // With --csv - the CSV alone goes to standard output and the table to standard error.
  TCtlIo figures = FiguresIo(io, parser);
  if (parser.isSet(QStringLiteral("json")))
    PrintRunsJson(figures, runs);
  else
    PrintRunTable(figures, runs);
  QStringList names;
  for (qint64 id : ids) names.append(QStringLiteral("#%1").arg(id));
  const QString title = QStringLiteral("Stored step responses %1").arg(names.join(QStringLiteral(", ")));
  return WriteRunFiles(io, parser, runs, title) ? kExitOk : kExitFailed;
}
