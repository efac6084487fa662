#include "motion/statusstream.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "boardsession/session.h"
#include "globals/jsontext.h"
#include "globals/numtext.h"
#include "protocol/transactions.h"
#include "steprun/steprun.h"

namespace {

const QString kStatusCommand = QStringLiteral("s");

// How often a watch tells how it stands, and the longest it sleeps between two looks at the
// stop check.
constexpr int kProgressMs = 250;
constexpr int kStopLookMs = 20;

// Waits in the event loop until the channel holds count lines or the deadline has passed; the
// port's receive notifications wake it as soon as bytes arrive. Returns whether they came.
bool WaitForLines(TLineChannel& channel, int count, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  // A board that stays silent sends no notification: the timer ends the wait instead.
  QTimer wake;
  wake.setSingleShot(true);
  wake.start(timeoutMs);
  while (channel.LineBuf->size() < count) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Empties what the port holds and sends "s"; TakeStatusAnswer reads the answer.
TResult<void> SendStatusRequest(TBoardSession& session) {
  TLineChannel& channel = session.Link().Channel();
  return session.Exchange(kStatusCommand, [&] {
    channel.FlushReceive();
    channel.SendLine(kStatusCommand);
  });
}

// Waits for the answer to the "s" sent last and reads its nine values.
TResult<TPIDStatus> TakeStatusAnswer(TBoardSession& session, int timeoutMs) {
  TLineChannel& channel = session.Link().Channel();
  bool complete = false;
  const TResult<void> exchanged =
      session.Exchange(kStatusCommand, [&] { complete = WaitForLines(channel, StatusLineCount, timeoutMs); });
  if (!exchanged) return exchanged.Failure();
  const QStringList lines = *channel.LineBuf;
  if (!complete)
    return session.Failure(QStringLiteral("no complete answer to \"s\" (%1 of %2 lines in %3 ms)")
                               .arg(lines.size())
                               .arg(StatusLineCount)
                               .arg(timeoutMs),
                           kStatusCommand);
  TPIDStatus status;
  const TResult<bool> parsed = Catching([&] { return ParseStatusAnswer(lines, status); });
  if (!parsed || !*parsed)
    return session.Failure(QStringLiteral("the answer to \"s\" does not read as the board's status (%1)")
                               .arg(lines.mid(0, StatusLineCount).join(QStringLiteral(" | ")).simplified()));
  return status;
}

// A status request on its way: when "s" went out on the stream's clock, and whether it could
// be sent.
struct TStatusRequest {
  qint64 SentNs = 0;
  TResult<void> Sent;
};

TStatusRequest RequestStatus(TBoardSession& session, const QElapsedTimer& clock) {
  const qint64 sentNs = clock.nsecsElapsed();
  return {sentNs, SendStatusRequest(session)};
}

// Returns whether the next sample is due now: its time has come, the stream's has not ended
// and the stop check lets it go on.
bool DueNow(const QElapsedTimer& clock, qint64 dueMs, qint64 endMs, const std::function<bool()>& stop) {
  const qint64 now = clock.elapsed();
  return now >= dueMs && now < endMs && !(stop && stop());
}

// The nine values in the order of the "s" answer, with their column names.
struct TColumn {
  const char* Name;
  double (*Value)(const TPIDStatus&);
  bool Integer;
};

const TColumn kColumns[] = {
    {"command", [](const TPIDStatus& s) { return double(s.Command); }, true},
    {"feedback", [](const TPIDStatus& s) { return double(s.Feedback); }, true},
    {"error", [](const TPIDStatus& s) { return s.Error; }, false},
    {"error_i", [](const TPIDStatus& s) { return s.ErrorI; }, false},
    {"error_d", [](const TPIDStatus& s) { return s.ErrorD; }, false},
    {"output", [](const TPIDStatus& s) { return s.Output; }, false},
    {"limit_state", [](const TPIDStatus& s) { return double(s.LimitState); }, true},
    {"servo_enabled", [](const TPIDStatus& s) { return double(s.Enabled); }, true},
    {"test_osc", [](const TPIDStatus& s) { return double(s.TestOsc); }, true},
};

// The seconds stamp: milliseconds are as fine as the samples come.
double StampSeconds(double seconds) { return std::round(seconds * 1000) / 1000; }

QString RangeText(const char* name, const std::optional<TValueRange>& r) {
  if (!r) return QStringLiteral("%1 none").arg(QLatin1String(name));
  return QStringLiteral("%1 min %2 mean %3 max %4")
      .arg(QLatin1String(name), FormatNumber(r->Min), FixedNumberText(r->Mean, 3), FormatNumber(r->Max));
}

// Sleeps until the clock reaches dueMs, looking at the stop check and the end in between;
// returns false when it must stop instead.
bool SleepUntil(const QElapsedTimer& clock, qint64 dueMs, qint64 endMs, const std::function<bool()>& stop) {
  for (;;) {
    if (stop && stop()) return false;
    const qint64 now = clock.elapsed();
    if (now >= endMs) return false;
    if (now >= dueMs) return true;
    QThread::msleep(std::min<qint64>({dueMs - now, endMs - now, kStopLookMs}));
  }
}

}  // namespace

TResult<TPIDStatus> ReadStatusNow(TBoardSession& session, int timeoutMs) {
  if (const TResult<void> sent = SendStatusRequest(session); !sent) return sent.Failure();
  return TakeStatusAnswer(session, timeoutMs);
}

QString StatusCsvHeader() {
  QStringList names{QStringLiteral("seconds"), QStringLiteral("time")};
  for (const TColumn& c : kColumns) names.append(QLatin1String(c.Name));
  return names.join(u',');
}

QString StatusCsvRow(const TStatusSample& sample) {
  QStringList cells{QString::number(StampSeconds(sample.Seconds), 'f', 3), IsoTime(sample.Time)};
  for (const TColumn& c : kColumns) {
    const double v = c.Value(sample.Status);
    cells.append(c.Integer ? QString::number(qint64(v)) : FormatNumber(v));
  }
  return cells.join(u',');
}

QByteArray StatusJsonLine(const TStatusSample& sample) {
  QString line = QStringLiteral("{\"seconds\":%1,\"time\":\"%2\"")
                     .arg(JsonNumberText(StampSeconds(sample.Seconds)), IsoTime(sample.Time));
  for (const TColumn& c : kColumns)
    line += QStringLiteral(",\"%1\":%2").arg(QLatin1String(c.Name), JsonNumberText(c.Value(sample.Status)));
  line += u'}';
  return line.toUtf8();
}

void TStreamSummary::TRunning::Add(double v, bool first) {
  Min = first ? v : std::min(Min, v);
  Max = first ? v : std::max(Max, v);
  Sum += v;
}

void TStreamSummary::Add(const TStatusSample& sample) {
  const bool first = FSamples == 0;
  FError.Add(sample.Status.Error, first);
  FOutput.Add(sample.Status.Output, first);
  ++FSamples;
  FSeconds = std::max(FSeconds, sample.Seconds);
}

double TStreamSummary::Rate() const { return FSeconds > 0 ? FSamples / FSeconds : 0; }

std::optional<TValueRange> TStreamSummary::Error() const {
  if (FSamples == 0) return std::nullopt;
  return TValueRange{FError.Min, FError.Sum / FSamples, FError.Max};
}

std::optional<TValueRange> TStreamSummary::Output() const {
  if (FSamples == 0) return std::nullopt;
  return TValueRange{FOutput.Min, FOutput.Sum / FSamples, FOutput.Max};
}

QString SummaryText(const TStreamSummary& s) {
  return QStringLiteral("%1 samples in %2 s (%3 a second), %4 failed; %5, %6")
      .arg(s.Samples())
      .arg(QString::number(s.Seconds(), 'f', 1), QString::number(s.Rate(), 'f', 1))
      .arg(s.Failures())
      .arg(RangeText("error", s.Error()), RangeText("output", s.Output()));
}

TWatchResult WatchStatus(TBoardSession& session, const TWatchOptions& options, const TWatchHooks& hooks) {
  TWatchResult result;
  QElapsedTimer clock;
  clock.start();
  const QDateTime start = QDateTime::currentDateTime();
  const qint64 endMs = options.ForMs ? *options.ForMs : std::numeric_limits<qint64>::max();
  qint64 dueMs = 0;
  qint64 toldMs = 0;
  int inARow = 0;
  // A request sent as soon as the answer before it was in, before that sample was written.
  std::optional<TStatusRequest> ahead;
  for (;;) {
    TStatusRequest request;
    if (ahead) {
      request = std::move(*ahead);
      ahead.reset();
    } else {
      if (!SleepUntil(clock, dueMs, endMs, hooks.Stop)) {
        result.End = clock.elapsed() >= endMs ? TWatchEnd::Time : TWatchEnd::Stopped;
        break;
      }
      request = RequestStatus(session, clock);
    }
    const TResult<TPIDStatus> status =
        request.Sent ? TakeStatusAnswer(session, kStatusTimeoutMs) : TResult<TPIDStatus>(request.Sent.Failure());
    // The next sample is due a period after this one began; one that ran late is not made up.
    dueMs += options.EveryMs;
    if (dueMs < clock.elapsed()) dueMs = options.EveryMs > 0 ? clock.elapsed() : 0;
    // A sample due at once is asked for before this one is written, so that the board answers
    // while the sample is written and the line does not wait for the tool.
    if (status && DueNow(clock, dueMs, endMs, hooks.Stop)) ahead = RequestStatus(session, clock);
    if (status) {
      inARow = 0;
      TStatusSample sample;
      sample.Seconds = request.SentNs / 1e9;
      sample.Time = start.addMSecs(request.SentNs / 1000000);
      sample.Status = *status;
      result.Summary.Add(sample);
      if (TResult<void> written = hooks.Sample(sample); !written) {
        result.End = TWatchEnd::Output;
        result.Failure = written.Failure();
        // The answer on its way is taken, so that whatever the session sends next is answered
        // on a quiet line.
        if (ahead && ahead->Sent) (void)TakeStatusAnswer(session, kStatusTimeoutMs);
        break;
      }
    } else {
      result.Summary.AddFailure();
      if (hooks.SampleFailed) hooks.SampleFailed(status.Failure(), ++inARow);
      if (inARow >= kFailuresInARow) {
        result.End = TWatchEnd::Failing;
        result.Failure = status.Failure();
        break;
      }
    }
    result.Summary.SetSeconds(clock.nsecsElapsed() / 1e9);
    if (hooks.Progress && clock.elapsed() - toldMs >= kProgressMs) {
      toldMs = clock.elapsed();
      hooks.Progress(result.Summary);
    }
  }
  result.Summary.SetSeconds(clock.nsecsElapsed() / 1e9);
  return result;
}
