#include "boardtuning/boardruns.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cmath>

#include "boardsession/steptest.h"
#include "globals/numtext.h"
#include "protocol/transactions.h"

namespace {

// How often the status is asked for before a test goes without it.
constexpr int kStatusAttempts = 5;

// How many still readings in a row count as rest.
constexpr int kStillReadings = 3;
constexpr int kRestPollMs = 20;

std::optional<TFailure> StopDue(const TBoardHooks& hooks) { return hooks.Stop ? hooks.Stop() : std::nullopt; }

}  // namespace

TBoardFigures FiguresOf(const TBoardRuns& runs) { return {runs.Forward.Figures, runs.Reverse.Figures, runs.Rest.Figures}; }

QString GainsCaption(const TPIDParams& p) {
  return QStringLiteral("P %1 I %2 D %3").arg(FormatNumber(p.P), FormatNumber(p.I), FormatNumber(p.D));
}

TResult<TStepStart> ReadStart(TBoardSession& session, const TBoardHooks& hooks) {
  const QString sent = QStringLiteral("s");
  for (int attempt = 0; attempt < kStatusAttempts; ++attempt) {
    if (std::optional<TFailure> stop = StopDue(hooks)) return *stop;
    TPIDStatus status;
    if (!session.Exchange(sent, [&] { ReadStatus(session.Link().Channel(), status); })) continue;
    if (status.Valid)
      return TStepStart{double(status.Command), double(status.Command) - status.Feedback, status.ErrorI, 0.5};
  }
  return session.Failure(QStringLiteral("no status before the test in %1 tries").arg(kStatusAttempts), sent);
}

void WaitForRest(TBoardSession& session, const TPIDParams& params, const TBoardHooks& hooks, int maxMs) {
  QElapsedTimer clock;
  clock.start();
  int still = 0;
  double last = 0;
  while (still < kStillReadings && clock.elapsed() < maxMs && !StopDue(hooks)) {
    const TResult<TStepStart> now = ReadStart(session, hooks);
    const bool near = now && std::abs(now->Error) <= std::max(1.0, params.Deadband);
    still = near && std::abs(now->Command - now->Error - last) <= 1 ? still + 1 : 0;
    if (now) last = now->Command - now->Error;
    QThread::msleep(kRestPollMs);
  }
}

TResult<TStepRun> UnstoredRun(TBoardSession& session, const TPIDParams& params, int step, int prediv,
                              const QString& label, TStepStart& start, const TBoardHooks& hooks) {
  if (hooks.Progress)
    hooks.Progress(step == 0 ? QStringLiteral("rest record, %1").arg(GainsCaption(params))
                             : QStringLiteral("step test, step %1, %2").arg(step).arg(GainsCaption(params)));
  const TResult<TStepStart> known = ReadStart(session, hooks);
  if (!known) return known.Failure();
  start = *known;
  TResult<TStepRun> run = RunStepTest(session, params, step, prediv);
  if (!run) return run.Failure();
  run->Label = QStringLiteral("%1: %2").arg(label, GainsCaption(params));
  return run;
}

TResult<void> StoreRun(TRunStore& history, TStepRun& run) {
  if (const TResult<void> stored = history.Insert(run); !stored) return TFailure{
      QStringLiteral("the run history: %1").arg(stored.Failure().Message), stored.Failure().Explanation};
  return {};
}

TResult<TStepRun> MeasuredRun(TBoardSession& session, TRunStore& history, const TPIDParams& params, int step,
                              int prediv, const QString& label, TStepStart& start, const TBoardHooks& hooks) {
  TResult<TStepRun> run = UnstoredRun(session, params, step, prediv, label, start, hooks);
  if (!run) return run;
  if (TResult<void> stored = StoreRun(history, *run); !stored) return stored.Failure();
  return run;
}

TResult<TBoardRuns> MeasureBoard(TBoardSession& session, TRunStore& history, const TPIDParams& params, int step,
                                 int prediv, const QString& label, const TBoardHooks& hooks) {
  TBoardRuns runs;
  TResult<TStepRun> forward = MeasuredRun(session, history, params, step, prediv, label, runs.ForwardStart, hooks);
  if (!forward) return forward.Failure();
  if (std::optional<TFailure> stop = StopDue(hooks)) return *stop;
  TResult<TStepRun> reverse = MeasuredRun(session, history, params, -step, prediv, label + QStringLiteral(", back"),
                                          runs.ReverseStart, hooks);
  if (!reverse) return reverse.Failure();
  if (std::optional<TFailure> stop = StopDue(hooks)) return *stop;
  WaitForRest(session, params, hooks);  // a slow loop may still be moving when the step's record ends
  TResult<TStepRun> rest = MeasuredRun(session, history, params, 0, 0, label + QStringLiteral(", at rest"), runs.RestStart, hooks);
  if (!rest) return rest.Failure();
  if (std::optional<TFailure> stop = StopDue(hooks)) return *stop;
  runs.Forward = std::move(*forward);
  runs.Reverse = std::move(*reverse);
  runs.Rest = std::move(*rest);
  return runs;
}
