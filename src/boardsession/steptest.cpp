#include "boardsession/steptest.h"

#include <QTimer>

#include "protocol/transactions.h"
#include "boardsession/boardlink.h"

namespace {

// Runs action; an error it raises, or one the port raised while receiving, becomes failure.
template <class F>
bool Attempt(TBoardLink& link, QString& failure, F&& action) {
  try {
    action();
  } catch (const Exception& e) {
    failure = e.Message();
    return false;
  }
  const QStringList errors = link.TakeReceiveErrors();
  if (errors.isEmpty()) return true;
  failure = errors.constLast();
  return false;
}

constexpr int kProgressIntervalMs = 250;

// A run without samples yet, stamped with the present time.
TStepRun NewRun(const TBoardLink& link, const TPIDParams& params, int step, int prediv) {
  TStepRun run;
  run.Time = QDateTime::currentDateTime();
  run.Port = link.PortName();
  run.Step = step;
  run.Prediv = prediv;
  run.Params = params;
  return run;
}

// Returns why the samples kept are not a whole answer; "" when they are.
QString IncompleteAnswer(TBoardLink& link, const TStepRun& run) {
  if (run.Errors.empty())
    return QStringLiteral("no complete answer to the step test (%1 of %2 lines)")
        .arg(link.Channel().LineBuf->size())
        .arg(StepLineCount);
  if (int(run.Errors.size()) < kStepTestSamples)
    return QStringLiteral("the step test's answer broke off after %1 of %2 samples")
        .arg(run.Errors.size())
        .arg(kStepTestSamples);
  return QString();
}

}  // namespace

bool ReadBoardParameters(TBoardLink& link, TPIDParams& params, QString& failure) {
  TPIDParams read;
  if (!Attempt(link, failure, [&] { ReadParameters(link.Channel(), read); })) return false;
  if (!read.Valid) {
    failure = QStringLiteral("Error reading params");
    return false;
  }
  params = read;
  return true;
}

std::optional<TStepRun> RunStepTest(TBoardLink& link, const TPIDParams& params, int step,
                                    int prediv, QString& failure, const TStepProgress& progress) {
  TStepRun run = NewRun(link, params, step, prediv);
  // The exchange polls the event loop, so a timer can report how far the answer has come.
  QTimer ticker;
  if (progress) {
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { progress(int(link.Channel().LineBuf->size()), StepLineCount); });
    ticker.start(kProgressIntervalMs);
  }
  auto keep = [&](const TStepSample& s) {
    run.Errors.push_back(s.Error);
    run.Outputs.push_back(s.Output);
  };
  const bool ran = Attempt(link, failure, [&] {
    StepResponseExchange(link.Channel(), prediv, step, keep);
  });
  ticker.stop();
  if (!ran) return std::nullopt;
  failure = IncompleteAnswer(link, run);
  if (!failure.isEmpty()) return std::nullopt;
  UpdateFigures(run);
  return run;
}
