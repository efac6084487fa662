// zirv7ctl step: step-response tests on the board, their figures, pictures and history.
#include "ctl/commands.h"
#include "ctl/steps.h"
#include "steptest/boardlink.h"
#include "steptest/steptest.h"

namespace {

const QString kName = QStringLiteral("step");

// Tells the user on stderr how far a run has come while its answer arrives; only on a
// terminal, where the line can be redrawn in place.
TStepProgress ProgressPrinter(TCtlIo& io, const QString& what) {
  if (!IsTerminal(io.Err)) return {};
  return [&io, what](int lines, int of) {
    io.Err << "\r" << what << ": " << lines << " of " << of << " answer lines" << Qt::flush;
  };
}

struct TStepOptions {
  QString Port;
  int Step = 0;
  int Prediv = 0;
  int Runs = 1;
  bool FwdRev = false;
};

bool ReadOptions(TCtlIo& io, const QCommandLineParser& parser, TStepOptions& o, int& exitCode) {
  exitCode = kExitUsage;
  o.Port = parser.value(QStringLiteral("port"));
  if (o.Port.isEmpty() || !parser.isSet(QStringLiteral("step"))) {
    PrintError(io, kName, QStringLiteral("--port and --step are required"));
    return false;
  }
  if (!IntOption(io, parser, kName, QStringLiteral("step"), -1000000000, 1000000000, o.Step) ||
      !IntOption(io, parser, kName, QStringLiteral("prediv"), 0, 50, o.Prediv) ||
      !IntOption(io, parser, kName, QStringLiteral("runs"), 1, 1000, o.Runs))
    return false;
  if (o.Step == 0) {
    PrintError(io, kName, QStringLiteral("--step must not be 0"));
    return false;
  }
  o.FwdRev = parser.isSet(QStringLiteral("fwd-rev"));
  return true;
}

// Runs the tests one after another, storing each; stops at the first that fails. A run the
// history refuses is kept all the same, so that its figures are still printed.
bool RunTests(TCtlIo& io, TBoardLink& link, TRunStore& store, const TPIDParams& params,
              const TStepOptions& o, std::vector<TStepRun>& runs) {
  int step = o.Step;
  for (int i = 1; i <= o.Runs; ++i) {
    const QString what = QStringLiteral("%1: run %2 of %3, step %4").arg(o.Port).arg(i).arg(o.Runs).arg(step);
    io.Err << what << "\n" << Qt::flush;
    QString failure;
    std::optional<TStepRun> run =
        RunStepTest(link, params, step, o.Prediv, failure, ProgressPrinter(io, what));
    if (IsTerminal(io.Err)) io.Err << "\r\033[K" << Qt::flush;
    if (!run) {
      PrintError(io, o.Port, QStringLiteral("run %1: %2").arg(i).arg(failure));
      return false;
    }
    const bool stored = StoreRun(io, store, *run);
    runs.push_back(std::move(*run));
    if (!stored) return false;
    if (o.FwdRev) step = -step;
  }
  return true;
}

}  // namespace

int RunStep(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Runs step-response tests (\"r<prediv>c<step>ok1\") and prints the figures of each run:\n"
      "rise (10 % to 90 %), overshoot, peak, settling (2 %), steady-state error (mean of the\n"
      "last 10 %), IAE, peak output and whether the output reached its limit. Times are in\n"
      "ms (from the board's ticks per servo cycle and the prediv). Every run is stored in the\n"
      "history; --json adds the samples as [error, output] pairs."));
  parser.addOption({QStringLiteral("port"), QStringLiteral("The board's port (COM1, or a device path)."), QStringLiteral("NAME")});
  parser.addOption({QStringLiteral("step"), QStringLiteral("The command step in counts (not 0)."), QStringLiteral("N")});
  parser.addOption({QStringLiteral("prediv"), QStringLiteral("Servo cycles between samples, less one (0 to 50)."), QStringLiteral("N")});
  parser.addOption({QStringLiteral("runs"), QStringLiteral("How many tests to run (default 1)."), QStringLiteral("K")});
  parser.addOption({QStringLiteral("fwd-rev"), QStringLiteral("Flip the step's sign after each run.")});
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print the runs as JSON.")});
  AddOutputOptions(parser, true);
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName,
                        QStringLiteral("--port NAME --step N [--prediv N] [--runs K] [--fwd-rev] "
                                       "[--json] [--png FILE] [--svg FILE] [--csv FILE]"),
                        args, io, exitCode))
    return exitCode;
  TStepOptions o;
  if (!ReadOptions(io, parser, o, exitCode)) return exitCode;

  TRunStore store;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  TBoardLink link;
  TPIDParams params;
  if (!OpenBoard(io, link, o.Port, params)) return kExitFailed;
  std::vector<TStepRun> runs;
  const bool ran = RunTests(io, link, store, params, o, runs);
  if (runs.empty()) return kExitFailed;
  if (parser.isSet(QStringLiteral("json")))
    PrintRunsJson(io, runs);
  else
    PrintRunTable(io, runs);
  const QString title = QStringLiteral("Step response on %1, step %2, prediv %3")
                            .arg(o.Port)
                            .arg(o.FwdRev ? QStringLiteral("\u00B1%1").arg(qAbs(o.Step))
                                          : QString::number(o.Step))
                            .arg(o.Prediv);
  const bool written = WriteRunFiles(io, parser, runs, title);
  return ran && written ? kExitOk : kExitFailed;
}
