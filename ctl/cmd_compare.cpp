// zirv7ctl compare: one step test per parameter file, side by side; the board gets its own
// values back at the end, also after Ctrl+C or a failed run.
#include <QFileInfo>
#include <limits>

#include "ctl/commands.h"
#include "ctl/porterrors.h"
#include "ctl/steps.h"
#include "globals/numtext.h"
#include "ctl/paramsets.h"
#include "parameters/paramtable.h"
#include "boardsession/session.h"
#include "boardsession/interrupt.h"
#include "boardsession/paramswap.h"
#include "boardsession/steptest.h"

namespace {

const QString kName = QStringLiteral("compare");

// One parameter file to try: its name as given, its caption and the values it puts on the board.
struct TCandidate {
  QString File;
  QString Caption;
  TParamValues Values;
};

struct TCompareOptions : TStepTestOptions {
  std::vector<TCandidate> Files;
};

void AddOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(QStringLiteral(
      "For each parameter file: writes to the board the values that differ from what it\n"
      "holds, runs a step test and stores it. At the end the board's own values are written\n"
      "back and checked with a read, also after Ctrl+C or a failed run. Prints one column per\n"
      "file, the best figure of each row marked with *."));
  AddStepTestOptions(parser);
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print the runs as JSON.")});
  AddYesOption(parser);
  AddOutputOptions(parser, false);
  parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Parameter files (.pset)."),
                               QStringLiteral("A.pset B.pset ..."));
}

bool ReadOptions(TCtlIo& io, const QCommandLineParser& parser, TCompareOptions& o) {
  if (parser.positionalArguments().isEmpty()) {
    PrintError(io, kName, QStringLiteral("name at least one parameter file"));
    return false;
  }
  return ReadStepTestOptions(io, parser, kName, o);
}

// Reads the parameter files. The tool loads a missing file, key or value as defaults without a
// word; here each would put a default on the board, so all are refused, before the board is
// touched (ReadParameterFile). Files are read in bounded memory.
bool ReadFiles(TCtlIo& io, const QStringList& names, std::vector<TCandidate>& files) {
  for (const QString& name : names) {
    TParamValues values{};
    if (!ReadParameterFile(io, name, values)) return false;
    files.push_back({name, QFileInfo(name).fileName(), values});
  }
  return true;
}

// The writes the whole comparison makes, in order, assuming the board takes every value.
struct TPlan {
  std::vector<std::vector<TPlannedWrite>> PerFile;
  std::vector<TPlannedWrite> Restore;
  size_t Total() const {
    size_t n = Restore.size();
    for (const auto& w : PerFile) n += w.size();
    return n;
  }
};

TPlan MakePlan(const TPIDParams& original, const std::vector<TCandidate>& files) {
  TPlan plan;
  TPIDParams board = original;
  for (const TCandidate& file : files) {
    plan.PerFile.push_back(PlanWrites(board, file.Values));
    for (const TPlannedWrite& w : plan.PerFile.back()) StoreAnswer(board, *w.Row, w.To);
  }
  plan.Restore = PlanWrites(board, ParamValuesOf(original));
  return plan;
}

QString WritesText(const std::vector<TPlannedWrite>& writes) {
  return writes.empty() ? QStringLiteral("nothing") : DescribeWrites(writes);
}

// Returns the plan on one line, as the journal keeps it.
QString PlanText(const TCompareOptions& o, const TPlan& plan) {
  QStringList parts;
  for (size_t i = 0; i < o.Files.size(); ++i)
    parts.append(QStringLiteral("%1: %2").arg(o.Files[i].Caption, WritesText(plan.PerFile[i])));
  parts.append(QStringLiteral("back: %1").arg(WritesText(plan.Restore)));
  return parts.join(QStringLiteral("; "));
}

// Says what will be written and asks, unless --yes. Nothing to write needs no question.
bool ConfirmPlan(TCtlIo& io, const TCompareOptions& o, const TPlan& plan, bool yes) {
  io.Err << QStringLiteral("compare will make %1 EEPROM write%2 on %3:\n")
                .arg(plan.Total())
                .arg(plan.Total() == 1 ? "" : "s")
                .arg(o.Port);
  for (size_t i = 0; i < o.Files.size(); ++i)
    io.Err << "  " << o.Files[i].Caption << ": " << WritesText(plan.PerFile[i]) << "\n";
  io.Err << "  back to the board's values: " << WritesText(plan.Restore) << "\n";
  io.Err.flush();
  if (yes || plan.Total() == 0) return true;
  if (Confirm(io, QStringLiteral("Write to the board's EEPROM?"))) return true;
  PrintError(io, kName, QStringLiteral("nothing was written"));
  return false;
}

// Writes each file's values and runs its test, until all ran, one failed, Ctrl+C came or the
// output was closed. A run the history refuses is kept for the table all the same.
bool RunFiles(TCtlIo& io, TBoardSession& session, TRunStore& store, const TCompareOptions& o,
              std::vector<TStepRun>& runs) {
  for (const TCandidate& file : o.Files) {
    QString failure;
    io.Err << o.Port << ": " << file.Caption << ", step " << o.Step << "\n" << Qt::flush;
    if (TInterruptGuard::Interrupted() || OutputFailed(io)) return false;
    // A value the board limits is told, and the test runs with what the board holds.
    if (!WriteToBoard(io, session, file.Values, TEchoRule::Report, file.Caption)) return false;
    if (TInterruptGuard::Interrupted()) return false;
    std::optional<TStepRun> run =
        RunStepTest(session.Link(), session.Board(), o.Step, o.Prediv, failure);
    if (!run) {
      PrintFailureInUse(io, o.Port, session.Link().Port(), QStringLiteral("%1: %2").arg(file.Caption, failure));
      return false;
    }
    run->Label = file.Caption;
    const bool stored = StoreRun(io, store, *run);
    runs.push_back(std::move(*run));
    if (!stored) return false;
  }
  return !TInterruptGuard::Interrupted();
}

// Runs each file's test with Ctrl+C caught, then puts the board's values back, whatever
// happened. Returns whether every run was made and stored and the values went back.
bool CompareAndRestore(TCtlIo& io, TBoardSession& session, TRunStore& store,
                       const TCompareOptions& o, std::vector<TStepRun>& runs) {
  const bool ran = RunFiles(io, session, store, o, runs);
  if (TInterruptGuard::Interrupted()) PrintError(io, o.Port, QStringLiteral("interrupted"));
  if (OutputFailed(io)) PrintError(io, o.Port, QStringLiteral("the output was closed; stopped"));
  const bool restored = PutBoardBack(io, session);
  return ran && restored;
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
bool PrintRuns(TCtlIo& io, const QCommandLineParser& parser, const TCompareOptions& o,
               const std::vector<TStepRun>& runs) {
  if (parser.isSet(QStringLiteral("json")))
    PrintRunsJson(io, runs);
  else
    PrintCompareTable(io, runs);
  QStringList captions;
  for (const TStepRun& run : runs) captions.append(run.Label);
  const QString title = QStringLiteral("Step response on %1, step %2: %3")
                            .arg(o.Port, QString::number(o.Step), captions.join(QStringLiteral(", ")));
  return WriteRunFiles(io, parser, runs, title);
}

}  // namespace

int RunCompare(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  AddOptions(parser);
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName,
                        QStringLiteral("--port NAME --step N A.pset B.pset ..."),
                        args, io, exitCode))
    return exitCode;
  TCompareOptions o;
  if (!ReadOptions(io, parser, o)) return kExitUsage;
  if (!ReadFiles(io, parser.positionalArguments(), o.Files)) return kExitFailed;

  TRunStore store;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  TBoardSession session;
  if (!OpenBoard(io, session, o.Port)) return kExitFailed;
  // Ctrl+C only raises a flag: it ends the question with nothing written, and the runs stop
  // between steps and the values still go back.
  TInterruptGuard guard;
  const TPlan plan = MakePlan(session.Original(), o.Files);
  if (!ConfirmPlan(io, o, plan, parser.isSet(QStringLiteral("yes")))) return kExitFailed;
  JournalWrites(io, session, store, CommandLine(kName, args), PlanText(o, plan));
  std::vector<TStepRun> runs;
  bool ok = CompareAndRestore(io, session, store, o, runs);
  if (!runs.empty()) ok &= PrintRuns(io, parser, o, runs);
  return ok ? kExitOk : kExitFailed;
}
