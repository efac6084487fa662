// zirv7ctl step: step-response tests on the board, their figures, pictures and history.
#include "ctl/commands.h"
#include "ctl/outputoptions.h"
#include "ctl/steps.h"
#include "boardsession/procedure.h"
#include "boardsession/session.h"
#include "boardsession/steptest.h"
#include "globals/numtext.h"

namespace {

// Tells the user on stderr how far a run has come while its answer arrives; only on a
// terminal where the line can be redrawn in place.
TStepProgress ProgressPrinter(TCtlIo& io, const QString& what) {
  if (!CanRedrawLine(io.Err)) return {};
  return [&io, what](int lines, int of) {
    io.Err << "\r" << what << ": " << lines << " of " << of << " answer lines" << Qt::flush;
  };
}

struct TStepOptions : TStepTestOptions {
  int Runs = 1;
  bool FwdRev = false;
};

// Runs the tests one after another, storing each; stops at the first that fails. A run the
// history refuses is kept all the same, so that its figures are still printed.
bool RunTests(TCtlIo& io, TBoardSession& session, TRunStore& store, const TStepOptions& o,
              std::vector<TStepRun>& runs) {
  int step = o.Step;
  for (int i = 1; i <= o.Runs; ++i) {
    const QString what = QStringLiteral("%1: run %2 of %3, step %4").arg(o.Port).arg(i).arg(o.Runs).arg(step);
    io.Err << what << "\n" << Qt::flush;
    TResult<TStepRun> run = RunStepTest(session, session.Board(), step, o.Prediv, ProgressPrinter(io, what));
    if (CanRedrawLine(io.Err)) io.Err << "\r\033[K" << Qt::flush;
    if (!run) {
      PrintFailure(io, o.Port, Concerning(QStringLiteral("run %1").arg(i), run.Failure()));
      return false;
    }
    const bool stored = StoreRun(io, store, *run);
    runs.push_back(std::move(*run));
    if (!stored) return false;
    if (o.FwdRev) step = -step;
  }
  return true;
}

// Prints the runs and writes the files asked for. Returns whether every file was written.
bool PrintStepRuns(TCtlIo& io, const TCommandArgs& args, const TStepOptions& o,
               const std::vector<TStepRun>& runs) {
  // With --csv - the CSV alone goes to standard output and the table to standard error.
  TCtlIo figures = FiguresIo(io, args);
  if (args.Has("json"))
    PrintRunsJson(figures, runs);
  else
    PrintRunTable(figures, runs);
  const QString step = o.FwdRev ? QStringLiteral("\u00B1%1").arg(qAbs(o.Step)) : QString::number(o.Step);
  const QString title =
      QStringLiteral("Step response on %1, step %2, prediv %3").arg(o.Port, step).arg(o.Prediv);
  return WriteRunFiles(io, args, runs, title);
}

}  // namespace

int RunStep(const TCommandArgs& args, TCtlIo& io) {
  const TStepOptions o{StepTestOptionsOf(args), args.WholeNumber("runs", 1), args.Has("fwd-rev")};

  TRunStore store;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  TBoardSession session;
  if (!OpenBoard(io, session, o.Port)) return kExitFailed;
  const TPIDParams& params = session.Board();
  if (StepTripsServo(o.Step, params)) {
    PrintError(io, o.Port,
               QStringLiteral("a step of %1 counts lies beyond \"Fault Error (f):\" %2: the servo "
                              "switches off at once and the test would measure nothing. Use a "
                              "smaller --step, or raise \"Fault Error (f):\".")
                   .arg(FormatNumber(StepAmplitude(o.Step, params)), FormatNumber(params.FaultError)));
    return kExitFailed;
  }
  std::vector<TStepRun> runs;
  const bool ran = RunTests(io, session, store, o, runs);
  if (runs.empty()) return kExitFailed;
  const bool written = PrintStepRuns(io, args, o, runs);
  return ran && written ? kExitOk : kExitFailed;
}
