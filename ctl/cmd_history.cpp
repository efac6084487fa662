// zirv7ctl history: the step-response runs stored so far.
#include "ctl/commands.h"
#include "ctl/steps.h"
#include "globals/numtext.h"

namespace {

const QString kName = QStringLiteral("history");

// The figures a history row has room for.
constexpr TFigure kHistoryFigures[] = {TFigure::Rise, TFigure::Overshoot, TFigure::Settling,
                                       TFigure::Iae, TFigure::Saturated,
                                       TFigure::RestOutputPp};

void PrintHistoryTable(TCtlIo& io, const std::vector<TRunListing>& listings) {
  QStringList header = {"id", "time", "port", "label", "step", "prediv", "P", "I", "D"};
  for (TFigure figure : kHistoryFigures) header.append(FigureCaption(figure));
  std::vector<QStringList> rows = {header};
  for (const TRunListing& l : listings) {
    const TStepRun& run = l.Run;
    QStringList row = {QString::number(run.Id), run.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                       run.Port, run.Label.isEmpty() ? QStringLiteral("-") : run.Label,
                       QString::number(run.Step), QString::number(run.Prediv),
                       FormatNumber(run.Params.P), FormatNumber(run.Params.I), FormatNumber(run.Params.D)};
    for (TFigure figure : kHistoryFigures) row.append(FigureText(run, figure));
    rows.push_back(row);
  }
  PrintTable(io, rows, 4);
}

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
