// zirv7ctl show: stored runs again, as a table, JSON, a picture or CSV, from any day.
#include "ctl/commands.h"
#include "ctl/outputoptions.h"
#include "ctl/steps.h"

int RunShow(const TCommandArgs& args, TCtlIo& io) {
  const std::vector<qint64> ids = RecordNumbers(args.Positional());
  TRunStore store;
  std::vector<TStepRun> runs;
  if (!OpenRunHistory(io, store, TStoreAccess::ReadOnly) || !LoadRuns(io, store, ids, runs)) return kExitFailed;
  // With --csv - the CSV alone goes to standard output and the table to standard error.
  TCtlIo figures = FiguresIo(io, args);
  if (args.Has("json"))
    PrintRunsJson(figures, runs);
  else
    PrintRunTable(figures, runs);
  QStringList names;
  for (qint64 id : ids) names.append(QStringLiteral("#%1").arg(id));
  const QString title = QStringLiteral("Stored step responses %1").arg(names.join(QStringLiteral(", ")));
  return WriteRunFiles(io, args, runs, title) ? kExitOk : kExitFailed;
}
