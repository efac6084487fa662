#include "boardsession/steptest.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cmath>

#include "boardsession/session.h"
#include "globals/numtext.h"
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

// Returns ms as seconds with one decimal, rounded up: "0.1" for 20 ms.
QString Seconds(qint64 ms) { return FormatNumber(std::ceil(ms / 100.0) / 10.0); }

// How long the line must stay silent before a board that ran out of its answer's time counts
// as done: far longer than any gap between the lines of one answer.
constexpr int kQuietMs = 500;

// Returns the bytes received so far since the last flush: whole lines and the partial one.
qint64 ReceivedSoFar(const TLineChannel& channel) {
  qint64 bytes = channel.RS232Buf.size();
  for (const QString& line : *channel.LineBuf) bytes += line.size();
  return bytes;
}

// Waits, after a step-test answer that did not come whole in its time, until the board has
// stopped sending (kQuietMs without a byte), so that the next command does not meet the rest of
// this answer; at most another answer's time. Returns the ms during which bytes still came.
qint64 WaitForBoardToFinish(TLineChannel& channel, int answerMs) {
  QElapsedTimer clock, quiet;
  clock.start();
  quiet.start();
  qint64 received = ReceivedSoFar(channel);
  qint64 lastArrival = 0;
  while (quiet.elapsed() < kQuietMs && clock.elapsed() < answerMs) {
    TLineChannel::Poll();
    const qint64 now = ReceivedSoFar(channel);
    if (now == received) continue;
    received = now;
    lastArrival = clock.elapsed();
    quiet.restart();
  }
  channel.FlushReceive();
  return lastArrival;
}

// Returns why the samples kept are not a whole answer; "" when they are. A board still sending
// when the wait ran out is waited for, and that is said.
QString IncompleteAnswer(TLineChannel& channel, const TStepRun& run, qint64 waitedMs, int answerMs) {
  if (run.Errors.empty()) {
    const QString missing = QStringLiteral("no complete answer to the step test (%1 of %2 lines in %3 s)")
                                .arg(channel.LineBuf->size())
                                .arg(StepLineCount)
                                .arg(Seconds(waitedMs));
    const qint64 sending = WaitForBoardToFinish(channel, answerMs);
    if (sending == 0) return missing;
    return missing + QStringLiteral("; the board went on sending for %1 s more, which was waited for "
                                    "before going on")
                         .arg(Seconds(sending));
  }
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
  QElapsedTimer waited;
  waited.start();
  // A silent board is not explained here: a step test that fails on a board that answered the
  // read before it is rather a broken answer than a missing board.
  const TResult<void> ran = session.Exchange(
      {}, [&] { StepResponseExchange(channel, prediv, step, params.TicksPerServo, keep); });
  ticker.stop();
  if (!ran) return ran.Failure();
  const QString incomplete =
      IncompleteAnswer(channel, run, waited.elapsed(), StepAnswerTimeMs(prediv, params.TicksPerServo));
  if (!incomplete.isEmpty()) return session.Failure(incomplete);
  UpdateFigures(run);
  return run;
}
