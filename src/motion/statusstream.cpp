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
#include "serial/linechannel.h"
#include "steprun/steprun.h"

namespace {

const QString kStatusCommand = QStringLiteral("s");

// How often a watch tells how it stands, and the longest it sleeps between two looks at the
// stop check.
constexpr int kProgressMs = 250;
constexpr int kStopLookMs = 20;
// The line's polls a wait takes once its time is up, before it gives up.
constexpr int kLastLooks = 5;

// Waits in the event loop until done() holds or the deadline has passed; the port's receive
// notifications wake it as soon as bytes arrive. Returns whether done() came to hold.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  // A board that stays silent sends no notification: the timer ends the wait instead. A timer
  // may fire a little before the deadline; it is started again for what is left, or the wait
  // would sleep for good.
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  while (!done()) {
    if (deadline.hasExpired()) {
      // A last few looks before giving up, in the line's own polls: bytes that came as the
      // deadline passed are read, and a poll gate (a board simulated in a test's process
      // catching up with the line) has its say, so that a wait runs out on a silent board and
      // not on a busy machine.
      for (int look = 0; look < kLastLooks && !done(); ++look) TLineChannel::Poll();
      return done();
    }
    if (!wake.isActive()) wake.start(int(deadline.remainingTime()) + 1);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// How many lines before the end of an answer the next "s" goes out when it is due at once.
// The board reads a command while it still sends the answer before it and answers it, in
// order, once that answer is out: sent two lines early (4 ms at 57600 baud), "s" overlaps the
// board's own delay before an answer with the end of the one before, and the line stays busy.
// The board never holds more than that one command besides the one it is answering, and the
// sample's stamp is at most those two lines early.
constexpr int kLinesAhead = 2;

// Returns where the answer to "s" starts among the lines received: at its first line, past
// lines left over from an earlier answer (a line more than nine, or the rest of an answer that
// came too late), which the flush before "s" cannot take when they were still on the line, or
// which came after the flush, when "s" went out while the answer before it was still coming.
// An answer's first line that comes within the nine lines of an earlier start starts again
// there: the earlier answer was cut short. Nine lines none of which starts an answer are read
// as they are, so that the failure shows them; none: the start has not come yet.
std::optional<qsizetype> AnswerStart(const QStringList& lines) {
  std::optional<qsizetype> start;
  for (qsizetype k = 0; k < lines.size(); ++k)
    if (IsStatusAnswerStart(lines.at(k)) && (!start || k < *start + StatusLineCount)) start = k;
  if (!start && lines.size() >= StatusLineCount) return 0;
  return start;
}

// Sends "s"; TakeStatusAnswer reads the answer. A request on a quiet line first empties what
// the port holds; one sent ahead, while the answer before it is still coming, keeps it.
TResult<void> SendStatusRequest(TBoardSession& session, bool ahead) {
  TLineChannel& channel = session.Link().Channel();
  return session.Exchange(kStatusCommand, [&] {
    if (!ahead) channel.FlushReceive();
    channel.SendLine(kStatusCommand);
  });
}

// Returns the seconds bytes take on the board's line.
double WireSeconds(qsizetype bytes) { return double(bytes) / double(kWireBytesPerSecond); }

// Returns the seconds lines as received (each with its line end) took on the board's line.
double WireSeconds(const QStringList& lines) {
  qsizetype bytes = 0;
  for (const QString& line : lines) bytes += line.toUtf8().size();
  return WireSeconds(bytes);
}

// When an answer's lines came in, on a caller's clock: the latest the board can have begun to
// send it, from its first line and from the whole answer.
struct TAnswerArrival {
  const QElapsedTimer& Clock;
  double FirstLineSentBy = 0;
  double AnswerSentBy = 0;
};

// Waits for the answer to the "s" sent first of those unanswered, reads its nine values and
// takes its lines from those received, leaving the lines of any answer after it. nearlyIn,
// when given, is called once when all but the answer's last kLinesAhead lines are in; arrival,
// when given, is told when the answer's lines came in.
TResult<TPIDStatus> TakeStatusAnswer(TBoardSession& session, int timeoutMs,
                                     const std::function<void()>& nearlyIn = {},
                                     TAnswerArrival* arrival = nullptr) {
  QStringList& received = *session.Link().Channel().LineBuf;
  std::optional<qsizetype> start;
  std::optional<qsizetype> startSeen;
  bool complete = false;
  bool told = false;
  const TResult<void> exchanged = session.Exchange(kStatusCommand, [&] {
    complete = WaitUntil(
        [&] {
          start = AnswerStart(received);
          if (!start) return false;
          if (arrival && start != startSeen && *start < received.size()) {
            startSeen = start;
            arrival->FirstLineSentBy = arrival->Clock.nsecsElapsed() / 1e9 - WireSeconds({received.at(*start)});
          }
          if (nearlyIn && !told && received.size() >= *start + StatusLineCount - kLinesAhead) {
            told = true;
            nearlyIn();
          }
          return received.size() >= *start + StatusLineCount;
        },
        timeoutMs);
  });
  if (!exchanged) return exchanged.Failure();
  const QStringList lines = received.mid(start.value_or(0), StatusLineCount);
  if (arrival) arrival->AnswerSentBy = arrival->Clock.nsecsElapsed() / 1e9 - WireSeconds(lines);
  // An answer that did not come whole leaves nothing worth reading after it.
  received.remove(0, complete ? *start + StatusLineCount : received.size());
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
                               .arg(lines.join(QStringLiteral(" | ")).simplified()));
  return status;
}

// A status request on its way: when "s" went out on the stream's clock, and whether it could
// be sent.
struct TStatusRequest {
  qint64 SentNs = 0;
  TResult<void> Sent;
};

TStatusRequest RequestStatus(TBoardSession& session, const QElapsedTimer& clock, bool ahead) {
  const qint64 sentNs = clock.nsecsElapsed();
  return {sentNs, SendStatusRequest(session, ahead)};
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
  if (const TResult<void> sent = SendStatusRequest(session, false); !sent) return sent.Failure();
  return TakeStatusAnswer(session, timeoutMs);
}

TResult<TStatusSample> SampleStatusNow(TBoardSession& session, const QElapsedTimer& clock, int timeoutMs) {
  TStatusSample s;
  s.Seconds = clock.nsecsElapsed() / 1e9;
  s.Time = QDateTime::currentDateTime();
  if (const TResult<void> sent = SendStatusRequest(session, false); !sent) return sent.Failure();
  TAnswerArrival arrival{clock};
  const TResult<TPIDStatus> status = TakeStatusAnswer(session, timeoutMs, {}, &arrival);
  if (!status) return status.Failure();
  s.AnsweredSeconds = clock.nsecsElapsed() / 1e9;
  s.Status = *status;
  // The board reads "s" once its line end is in: the request's two bytes after it went out.
  s.ReadAfterSeconds = s.Seconds + WireSeconds(kStatusCommand.size() + 1);
  s.ReadBySeconds = std::max(s.ReadAfterSeconds, std::min(arrival.FirstLineSentBy, arrival.AnswerSentBy));
  return s;
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
  // A request sent while the answer before it was still coming.
  std::optional<TStatusRequest> ahead;
  // Takes the answer to a request sent ahead, so that whatever the session sends next is
  // answered on a quiet line.
  auto takeAhead = [&] {
    if (ahead && ahead->Sent) (void)TakeStatusAnswer(session, kStatusTimeoutMs);
    ahead.reset();
  };
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
      request = RequestStatus(session, clock, false);
    }
    // The next sample is due a period after this one began; one that runs late is not made up.
    // When it is due by the time this answer is nearly in, it is asked for then.
    const qint64 nextDueMs = dueMs + options.EveryMs;
    const auto askAhead = [&] {
      if (DueNow(clock, nextDueMs, endMs, hooks.Stop)) ahead = RequestStatus(session, clock, true);
    };
    const TResult<TPIDStatus> status = request.Sent ? TakeStatusAnswer(session, kStatusTimeoutMs, askAhead)
                                                    : TResult<TPIDStatus>(request.Sent.Failure());
    dueMs = nextDueMs;
    if (dueMs < clock.elapsed()) dueMs = options.EveryMs > 0 ? clock.elapsed() : 0;
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
        takeAhead();
        break;
      }
    } else {
      result.Summary.AddFailure();
      if (hooks.SampleFailed) hooks.SampleFailed(status.Failure(), ++inARow);
      if (inARow >= kFailuresInARow) {
        result.End = TWatchEnd::Failing;
        result.Failure = status.Failure();
        takeAhead();
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
