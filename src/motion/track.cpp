#include "motion/track.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <optional>

#include "boardsession/journal.h"
#include "boardsession/move.h"
#include "boardsession/session.h"
#include "boardsession/steptest.h"
#include "globals/numtext.h"
#include "protocol/transactions.h"
#include "tuning/loopmodel.h"

namespace {

// Samples after a stop show the axis come to rest in the picture.
constexpr double kAfterStopSeconds = 0.3;
// The ripple record is taken once this much of the move has passed: the error has settled by
// then on any loop worth measuring.
constexpr double kRippleAt = 0.4;

// What counts as worse after a change, beyond what the samples scatter by: each figure's
// tolerance is the larger of a fraction of its value before and a floor in its own unit.
struct TWorseRule {
  const char* Name;
  double Fraction;
  double Floor;
};
constexpr TWorseRule kErrorMeanRule{"following error", 0.1, 0.5};
// The error is read in whole counts, of a command and a feedback that each come to a whole
// count: a loop that follows to within a fraction of a count reads a count either side of its
// mean now and then, 2 counts peak-to-peak, where a constant lag reads 0.
constexpr TWorseRule kErrorPpRule{"error peak-to-peak", 0.2, 2.0};
constexpr TWorseRule kOutputPpRule{"output peak-to-peak", 0.2, 0.5};
constexpr TWorseRule kSettleRule{"settling", 0.2, 0.05};
constexpr double kSettleSamples = 3;

bool Worse(const TWorseRule& rule, double before, double after) {
  return after > before + std::max(rule.Fraction * before, rule.Floor);
}

QString Direction(int speed) { return speed > 0 ? QStringLiteral("forward") : QStringLiteral("back"); }

// Names the figures of after's legs that are worse than before's.
QStringList WorseFigures(const TTrackRun& before, const TTrackRun& after) {
  QStringList worse;
  for (size_t i = 0; i < before.Legs.size(); ++i) {
    const TMoveFigures& b = before.Legs[i].Figures;
    if (i >= after.Legs.size()) {
      worse.append(QStringLiteral("the move %1 did not run").arg(Direction(before.Legs[i].Speed)));
      continue;
    }
    const TMoveFigures& a = after.Legs[i].Figures;
    const QString dir = Direction(after.Legs[i].Speed);
    auto add = [&](const char* name, const QString& was, const QString& is) {
      worse.append(QStringLiteral("%1 %2: %3 (was %4)").arg(dir, QLatin1String(name), is, was));
    };
    if (a.Tripped && !b.Tripped) {
      add("servo", QStringLiteral("on"), QStringLiteral("tripped"));
      continue;
    }
    if (b.SettleSeconds && !a.SettleSeconds) {
      add(kSettleRule.Name, FixedNumberText(*b.SettleSeconds, 3) + " s", QStringLiteral("not settled"));
      continue;
    }
    if (!a.SettleSeconds || !b.SettleSeconds) continue;
    auto check = [&](const TWorseRule& rule, double was, double is, int decimals, const char* unit) {
      if (Worse(rule, was, is))
        add(rule.Name, FixedNumberText(was, decimals) + unit, FixedNumberText(is, decimals) + unit);
    };
    check(kErrorMeanRule, std::abs(b.Error.Mean), std::abs(a.Error.Mean), 2, "");
    check(kErrorPpRule, b.Error.PeakToPeak, a.Error.PeakToPeak, 2, "");
    // The board's FF1 sees the command's speed cycle by cycle, and a command that moves by whole
    // counts moves a count more in some cycles than in others: FF1 / period of output comes and
    // goes with it, a ripple the motor does not follow and no worse control.
    const double kick = std::abs(after.Params.FF1) / LoopSettings(after.Params).Period;
    if (Worse(kOutputPpRule, b.Output.PeakToPeak, a.Output.PeakToPeak) &&
        a.Output.PeakToPeak > b.Output.PeakToPeak + kick + kOutputPpRule.Floor)
      add(kOutputPpRule.Name, FixedNumberText(b.Output.PeakToPeak, 2) + " %",
          FixedNumberText(a.Output.PeakToPeak, 2) + " %");
    // The settling time is seen to a sample: a difference of a few samples is none. Each run
    // settled somewhere within its own span (from the sample before the settled one went out
    // to the settled one's answer), which a loaded machine stretches: worse only when after's
    // span begins beyond the end of before's by more than that.
    const double resolution = kSettleSamples * std::max(b.SampleInterval, a.SampleInterval);
    if (Worse(kSettleRule, *b.SettleSeconds, *a.SettleSeconds) && a.SettleEarliest > b.SettleLatest + resolution)
      add(kSettleRule.Name, FixedNumberText(*b.SettleSeconds, 3) + " s", FixedNumberText(*a.SettleSeconds, 3) + " s");
  }
  return worse;
}

// Measures the moves of one run, on one clock, with the board's values as they stand.
class TMeasurement {
 public:
  TMeasurement(TBoardSession& session, TRunStore& history, const TTrackRequest& request, const TTrackHooks& hooks)
      : FSession(session), FHistory(history), FRequest(request), FHooks(hooks) {
    FClock.start();
    FRun.Params = session.Board();
  }

  TResult<TTrackRun> Run() {
    const TResult<TStatusSample> first = Sample();
    if (!first) return first.Failure();
    if (!first->Status.Enabled)
      return TFailure{QStringLiteral("the servo is disabled (servo enabled: 0): track does not start the oscillator"),
                      QStringLiteral("A disabled servo does not follow the command: the move would measure nothing "
                                     "and leave the command far from the axis. Enable the servo (a fault clears "
                                     "with a step test or the window's \"Set\"), then run track again.")};
    FRun.StartCommand = first->Status.Command;
    if (TResult<void> leg = Leg(FRequest.Speed, MoveSeconds(FRequest), FRequest.Ripple); !leg) return leg.Failure();
    if (FRequest.FwdRev && !FRun.Legs.back().Figures.Tripped) {
      // Back as far as the command went, at the speed the oscillator runs the other way.
      const double travel = std::abs(FRun.Samples.back().Status.Command - FRun.StartCommand);
      const double speed = std::abs(OscillatorSpeed(OscillatorValue(-FRequest.Speed)));
      if (TResult<void> leg = Leg(-FRequest.Speed, travel / speed, false, FRun.StartCommand); !leg)
        return leg.Failure();
    }
    FRun.EndCommand = FRun.Samples.back().Status.Command;
    return FRun;
  }

  const std::optional<TFailure>& JournalFailure() const { return FJournalFailure; }

 private:
  double Now() const { return FClock.nsecsElapsed() / 1e9; }

  // One sample, kept; up to kFailuresInARow may fail in a row before the measurement fails.
  TResult<TStatusSample> Sample() {
    for (int failed = 0;;) {
      TStatusSample s;
      s.Seconds = Now();
      s.Time = QDateTime::currentDateTime();
      const TResult<TPIDStatus> status = ReadStatusNow(FSession);
      if (status) {
        s.AnsweredSeconds = Now();
        s.Status = *status;
        FRun.Samples.push_back(s);
        return s;
      }
      if (++failed >= kFailuresInARow || FSession.DeviceLost()) return status.Failure();
    }
  }

  std::optional<TFailure> StopNow() const { return FHooks.Stop ? FHooks.Stop() : std::nullopt; }

  // Runs the oscillator at speed for seconds, sampling; stops it on every way out (the move's
  // destructor stops what an early return leaves running). With untilCommand, each sample moves
  // the end to when the board's own command reaches it, so that a tool slowed by a busy machine
  // does not carry the axis past where it started.
  TResult<void> Leg(int speed, double seconds, bool ripple, std::optional<double> untilCommand = {}) {
    TTrackLeg leg;
    leg.Speed = speed;
    leg.Oscillator = OscillatorValue(speed);
    const QString planned = QStringLiteral("o %1 (speed %2, %3 counts/s for %4 s)")
                                .arg(FormatNumber(leg.Oscillator))
                                .arg(speed)
                                .arg(FormatNumber(std::round(OscillatorSpeed(leg.Oscillator))),
                                     FixedNumberText(seconds, 2));
    TStoreJournal journal(FHistory, FSession.PortName(), FRequest.CommandLine, planned, TJournalKind::Move);
    TMove move(FSession, &journal);
    if (std::optional<TFailure> why = StopNow()) return *why;
    if (FHooks.Progress) FHooks.Progress(QStringLiteral("moving %1 at speed %2").arg(Direction(speed)).arg(speed));
    if (TResult<void> started = move.Start(leg.Oscillator); !started) return started;
    leg.StartSeconds = Now();
    double end = leg.StartSeconds + seconds;
    // The shortest sample so far: what the line itself takes. One kept waiting by a busy
    // machine says nothing of the next, and taken as the next one's length it would end the
    // sampling early and leave the rest of the move without samples.
    double exchange = 0;
    while (Now() < end) {
      if (std::optional<TFailure> why = StopNow()) return Stopped(move, *why);
      // A sample that would end after the move's end waits for it instead, so that the move
      // lasts its time to the millisecond rather than to the sample.
      if (end - Now() < exchange) {
        QThread::usleep((unsigned long)std::max(0.0, (end - Now()) * 1e6));
        break;
      }
      const double asked = Now();
      const TResult<TStatusSample> s = Sample();
      if (!s) return Stopped(move, s.Failure());
      exchange = exchange > 0 ? std::min(exchange, Now() - asked) : Now() - asked;
      if (!s->Status.Enabled) break;  // tripped: the oscillator stops at once
      if (untilCommand) end = asked + std::max(0.0, (*untilCommand - s->Status.Command) / OscillatorSpeed(leg.Oscillator));
      if (ripple && !FRun.Ripple && Now() - leg.StartSeconds >= kRippleAt * seconds) {
        TResult<TStepRun> record = RunStepTest(FSession, FRun.Params, 0, 0);
        if (!record) return Stopped(move, record.Failure());
        FRun.Ripple = std::move(*record);
      }
    }
    leg.StopSeconds = Now();
    if (TResult<void> stopped = move.Stop(); !stopped) return stopped;
    if (move.JournalFailure()) FJournalFailure = move.JournalFailure();
    while (Now() - leg.StopSeconds < kAfterStopSeconds)
      if (const TResult<TStatusSample> s = Sample(); !s) return s.Failure();
    leg.Figures = MoveFigures(FRun.Samples, leg.StartSeconds, leg.StopSeconds, OscillatorSpeed(leg.Oscillator));
    FRun.Legs.push_back(leg);
    return {};
  }

  // Stops the oscillator before anything else, then returns why the move ended.
  TResult<void> Stopped(TMove& move, const TFailure& why) {
    if (TResult<void> stopped = move.Stop(); !stopped)
      return TFailure{why.Message + QStringLiteral("; ") + stopped.Failure().Message, stopped.Failure().Explanation};
    return why;
  }

  TBoardSession& FSession;
  TRunStore& FHistory;
  const TTrackRequest& FRequest;
  const TTrackHooks& FHooks;
  QElapsedTimer FClock;
  TTrackRun FRun;
  std::optional<TFailure> FJournalFailure;
};

// Returns the failure of a --ripple the move is too short for, or nothing.
std::optional<TFailure> RippleTooLong(const TTrackRequest& request, const TPIDParams& params) {
  if (!request.Ripple) return std::nullopt;
  const double answer = StepAnswerTimeMs(0, params.TicksPerServo) / 1000.0;
  const double left = (1 - kRippleAt) * MoveSeconds(request);
  if (left >= answer) return std::nullopt;
  const double needed = answer / (1 - kRippleAt);
  return TFailure{QStringLiteral("--ripple needs a move of %1 s at least; this one lasts %2 s")
                      .arg(FixedNumberText(needed, 2), FixedNumberText(MoveSeconds(request), 2)),
                  QStringLiteral("The record of 199 cycles comes back over the line in %1 s, during which the "
                                 "oscillator cannot be stopped. Give a larger --for or --distance, or a lower "
                                 "--speed.")
                      .arg(FixedNumberText(answer, 2))};
}

// Works out FF1 from the legs of the run, or why not.
void PredictFeedForward(TTrackReport& report) {
  std::vector<TAtSpeed> moves;
  for (const TTrackLeg& leg : report.Before->Legs) {
    const std::optional<TAtSpeed> at = leg.Figures.AtSpeed();
    if (!at) {
      report.FeedForwardNote = leg.Figures.Tripped ? QStringLiteral("the servo tripped")
                                                   : QStringLiteral("the error did not settle during the move");
      return;
    }
    moves.push_back(*at);
  }
  std::string why;
  report.FeedForward = SuggestFeedForward(report.Before->Params, moves, &why);
  report.FeedForwardNote = QString::fromStdString(why);
}

// Writes the suggested FF1, measures again and keeps it only when nothing is worse.
void ApplyFeedForward(TBoardSession& session, TRunStore& history, TTrackReport& report, const TTrackHooks& hooks) {
  TParamValues values = ParamValuesOf(session.Board());
  values[RowIndexOf("FF1")] = report.FeedForward->FF1;
  TWritePlan plan;
  plan.Command = QStringLiteral("track");
  plan.Port = session.PortName();
  plan.Source = QStringLiteral("FF1 for speed %1").arg(report.Request.Speed);
  plan.Steps = {{QString(), PlanWrites(session.Board(), values)}};
  if (!Confirmed(hooks, plan)) {
    report.Declined = true;
    return;
  }
  TStoreJournal journal(history, session.PortName(), report.Request.CommandLine, plan.JournalText());
  TWriteTransaction txn(session, &journal, TransactionHooks(hooks));
  if (TResult<void> written = txn.Write(values, TValueText::Shown); !written) {
    report.Failure = written.Failure();
    report.Transaction = txn.Result();
    return;
  }
  TMeasurement again(session, history, report.Request, hooks);
  TResult<TTrackRun> after = again.Run();
  if (again.JournalFailure()) report.MoveJournalFailure = again.JournalFailure();
  if (!after) {
    report.Failure = after.Failure();
    txn.PutBack(after.Failure());
  } else {
    report.After = std::move(*after);
    report.Worse = WorseFigures(*report.Before, *report.After);
    if (!report.Worse.isEmpty())
      txn.PutBack(TFailure{QStringLiteral("FF1 %1 made it worse: %2")
                               .arg(FormatNumber(report.FeedForward->FF1), report.Worse.join(QStringLiteral(", "))),
                           {}});
    else if (TResult<void> kept = txn.Keep(); !kept)
      report.Failure = kept.Failure();
    report.Kept = txn.Result().End == TTransactionEnd::Kept;
  }
  report.Transaction = txn.Result();
}

}  // namespace

bool TTrackReport::Succeeded() const {
  if (Failure || !Before || MoveJournalFailure) return false;
  if (!Request.Apply || !FeedForward) return true;
  return Kept;
}

double MoveSeconds(const TTrackRequest& request) {
  const double speed = std::abs(OscillatorSpeed(OscillatorValue(request.Speed)));
  if (speed <= 0) return 0;
  return std::min(request.ForSeconds, request.Distance / speed);
}

TTrackReport RunTrack(TBoardSession& session, TRunStore& history, const TTrackRequest& request,
                      const TTrackHooks& hooks) {
  TTrackReport report;
  report.Request = request;
  if (std::optional<TFailure> tooShort = RippleTooLong(request, session.Board())) {
    report.Failure = tooShort;
    return report;
  }
  TMeasurement before(session, history, request, hooks);
  TResult<TTrackRun> run = before.Run();
  report.MoveJournalFailure = before.JournalFailure();
  if (!run) {
    report.Failure = run.Failure();
    return report;
  }
  report.Before = std::move(*run);
  PredictFeedForward(report);
  if (hooks.Measured) hooks.Measured(report);
  if (request.Apply && report.FeedForward) ApplyFeedForward(session, history, report, hooks);
  return report;
}
