// zirv7ctl history: the step-response runs stored so far.
#include "ctl/commands.h"
#include "ctl/steps.h"

namespace {

const QString kName = QStringLiteral("history");

}  // namespace

int RunHistory(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Lists the stored step-response runs, oldest first, with the time each was made.\n"
      "The history is ${XDG_DATA_HOME:-~/.local/share}/zirv7tune/runs.sqlite."));
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print the runs as JSON (with sample_count, without the samples).")});
  parser.addOption({QStringLiteral("last"), QStringLiteral("Only the last N runs."), QStringLiteral("N")});
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("[--json] [--last N]"), args, io, exitCode))
    return exitCode;
  if (!TakesNoArguments(parser, kName, io)) return kExitUsage;
  int last = 0;
  if (!IntOption(io, parser, kName, QStringLiteral("last"), 1, 1000000000, last)) return kExitUsage;

  TRunStore store;
  std::vector<TRunListing> listings;
  if (!OpenRunHistory(io, store, TStoreAccess::ReadOnly) || !ListRuns(io, store, last, listings)) return kExitFailed;
  if (parser.isSet(QStringLiteral("json")))
    PrintRunsJson(io, listings);
  else
    PrintHistoryTable(io, listings);
  return kExitOk;
}
