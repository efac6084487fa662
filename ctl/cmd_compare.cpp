// zirv7ctl compare: one step test per parameter file, side by side; the board gets its own
// values back at the end, also after Ctrl+C or a failed run.
#include <QFileInfo>
#include <limits>

#include "ctl/commands.h"
#include "ctl/boardcmd.h"
#include "ctl/steps.h"
#include "globals/numtext.h"
#include "ctl/paramsets.h"
#include "parameters/paramtable.h"
#include "boardsession/comparison.h"
#include "boardsession/interrupt.h"

namespace {

struct TCompareOptions : TStepTestOptions {
  std::vector<TCompareSet> Files;
};

// Reads the parameter files. The tool loads a missing file, key or value as defaults without a
// word; here each would put a default on the board, so all are refused, before the board is
// touched (ReadParameterFile). Files are read in bounded memory.
bool ReadFiles(TCtlIo& io, const QStringList& names, std::vector<TCompareSet>& files) {
  for (const QString& name : names) {
    TParamValues values{};
    if (!ReadParameterFile(io, name, values)) return false;
    files.push_back({QFileInfo(name).fileName(), values});
  }
  return true;
}

// Tells of each value the board limited: the test ran with what the board held.
void PrintLimited(TCtlIo& io, const QString& port, const TCompareResult& r) {
  for (size_t i = 0; i < r.Writes.size(); ++i)
    for (const TValueWrite& w : r.Writes[i])
      if (w.Echo == TEcho::Limited)
        PrintError(io, port,
                   QStringLiteral("the board holds %1 %2 where %3 has %4")
                       .arg(QLatin1String(w.Row->FileKey), FormatNumber(w.Echoed), r.Runs[i].Label, FormatNumber(w.Sent)));
}

// ---- the table, one column per file ----

// Marks the best cells of a row with "*": those with the lowest key, unless every run ties.
QStringList FigureCells(TFigure figure, const std::vector<TStepRun>& runs) {
  double best = std::numeric_limits<double>::infinity(), worst = -best;
  for (const TStepRun& run : runs) {
    best = std::min(best, FigureKey(run, figure));
    worst = std::max(worst, FigureKey(run, figure));
  }
  QStringList cells{FigureCaption(figure)};
  for (const TStepRun& run : runs) {
    const bool marked = best < worst && FigureKey(run, figure) == best;
    cells.append(FigureText(run, figure) + (marked ? QStringLiteral(" *") : QStringLiteral("  ")));
  }
  return cells;
}

void PrintCompareTable(TCtlIo& io, const std::vector<TStepRun>& runs) {
  QStringList header{QString()};
  QStringList ids{QStringLiteral("run")};
  for (const TStepRun& run : runs) {
    header.append(run.Label + QStringLiteral("  "));
    ids.append((run.Id > 0 ? QStringLiteral("#") : QString()) + RunNumberText(run) + QStringLiteral("  "));
  }
  std::vector<QStringList> rows = {header, ids};
  for (TFigure figure : kAllFigures) rows.push_back(FigureCells(figure, runs));
  PrintTable(io, rows, 1);
  io.Out << "(* best of the row)\n";
}

// Prints the runs and writes the pictures asked for. Returns whether every file was written.
bool PrintComparison(TCtlIo& io, const TCommandArgs& args, const TCompareOptions& o,
               const std::vector<TStepRun>& runs) {
  if (args.Has("json"))
    PrintRunsJson(io, runs);
  else
    PrintCompareTable(io, runs);
  QStringList captions;
  for (const TStepRun& run : runs) captions.append(run.Label);
  const QString title = QStringLiteral("Step response on %1, step %2: %3")
                            .arg(o.Port, QString::number(o.Step), captions.join(QStringLiteral(", ")));
  return WriteRunFiles(io, args, runs, title);
}

}  // namespace

int RunCompare(const TCommandArgs& args, TCtlIo& io) {
  TCompareOptions o{StepTestOptionsOf(args), {}};
  if (!ReadFiles(io, args.Positional(), o.Files)) return kExitFailed;

  TRunStore store;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  TBoardSession session;
  if (!OpenBoard(io, session, o.Port)) return kExitFailed;
  // Ctrl+C only raises a flag: it ends the question with nothing written, and the runs stop
  // between steps and the values still go back.
  TInterruptGuard guard;
  const TCompareRequest request{CommandLine(args), o.Step, o.Prediv, o.Files};
  const TCompareResult r = CompareParameterSets(session, store, request, BoardHooks(io, o.Port, args.Has("yes")));
  if (r.Declined) return kExitFailed;
  PrintLimited(io, o.Port, r);
  if (r.HistoryFailure) PrintHistoryFailure(io, *r.HistoryFailure);
  bool ok = PrintTransactionEnd(io, o.Port, r.Transaction) && !r.Failure && !r.HistoryFailure;
  if (!r.Runs.empty()) ok &= PrintComparison(io, args, o, r.Runs);
  return ok ? kExitOk : kExitFailed;
}
