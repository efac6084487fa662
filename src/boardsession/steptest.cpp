#include "boardsession/steptest.h"

#include <QTimer>

#include "boardsession/session.h"
#include "protocol/transactions.h"

namespace {

constexpr int kProgressIntervalMs = 250;

// A run without samples yet, stamped with the present time.
TStepRun NewRun(const TBoardSession& session, const TPIDParams& params, int step, int prediv) {
  TStepRun run;
  run.Time = QDateTime::currentDateTime();
  run.Port = session.PortName();
  run.Step = step;
  run.Prediv = prediv;
  run.Params = params;
  return run;
}

// Returns why the samples kept are not a whole answer; "" when they are.
QString IncompleteAnswer(TBoardSession& session, const TStepRun& run) {
  if (run.Errors.empty())
    return QStringLiteral("no complete answer to the step test (%1 of %2 lines)")
        .arg(session.Link().Channel().LineBuf->size())
        .arg(StepLineCount);
  if (int(run.Errors.size()) < kStepTestSamples)
    return QStringLiteral("the step test's answer broke off after %1 of %2 samples")
        .arg(run.Errors.size())
        .arg(kStepTestSamples);
  return QString();
}

}  // namespace

TResult<TStepRun> RunStepTest(TBoardSession& session, const TPIDParams& params, int step, int prediv,
                              const TStepProgress& progress) {
  TStepRun run = NewRun(session, params, step, prediv);
  TLineChannel& channel = session.Link().Channel();
  // The exchange polls the event loop, so a timer can report how far the answer has come.
  QTimer ticker;
  if (progress) {
    QObject::connect(&ticker, &QTimer::timeout, [&] { progress(int(channel.LineBuf->size()), StepLineCount); });
    ticker.start(kProgressIntervalMs);
  }
  auto keep = [&](const TStepSample& s) {
    run.Errors.push_back(s.Error);
    run.Outputs.push_back(s.Output);
  };
  // A silent board is not explained here: a step test that fails on a board that answered the
  // read before it is rather a broken answer than a missing board.
  const TResult<void> ran = session.Exchange({}, [&] { StepResponseExchange(channel, prediv, step, keep); });
  ticker.stop();
  if (!ran) return ran.Failure();
  const QString incomplete = IncompleteAnswer(session, run);
  if (!incomplete.isEmpty()) return session.Failure(incomplete);
  UpdateFigures(run);
  return run;
}
