#include "boardtuning/boardsearch.h"

#include <algorithm>
#include <cmath>

#include "boardtuning/boardruns.h"
#include "globals/numtext.h"

namespace {

// The longest a search waits for the loop to come to rest before a run: gains that do not
// rest cost the budget, and the run shows them as they are.
constexpr int kSearchRestWaitMs = 600;
// A verification's first step starts once the gains it judges have brought the motor to rest
// from where the board's own left it: under a load a sluggish loop leaves the motor far off,
// and a step begun while the new gains still pull it back judges that pull, not their step.
constexpr int kOwnGainsRestWaitMs = 2000;

// EEPROM writes kept for putting the board's values back at the end, and those a step test is
// expected to need.
constexpr int kPutBackWrites = 5;
constexpr int kWritesPerRun = 2;

// Bytes of a step test's answer (404 lines of about fifteen) and of the line's rate.
constexpr double kStepAnswerBytes = 404 * 15;
constexpr double kLineBytesPerSecond = 5760;
// A status read, the writes that change and the shortest wait for rest before a run.
constexpr double kRunOverheadSeconds = 0.2;

QString Ms(double ms) { return FixedNumberText(ms, ms < 10 ? 2 : 1) + QStringLiteral(" ms"); }

// "settles in 12.4 ms, overshoot 2.1 %", or what the run shows instead.
QString RunText(const TSearchRun& run) {
  if (run.Danger != TDanger::None) return QString::fromStdString(DangerText(run.Danger));
  const TStepFigures& f = run.Figures;
  const double periodMs = SamplePeriod(run.Record.Setup) * 1000;
  if (run.Plan.Step == 0)
    return QStringLiteral("output %1 % p-p at rest").arg(FixedNumberText(f.RestOutputPpPct.value_or(0), 1));
  QString text = f.SettlingSamples ? QStringLiteral("settles in %1").arg(Ms(*f.SettlingSamples * periodMs))
                                   : QStringLiteral("does not settle");
  text += QStringLiteral(", overshoot %1 %, error %2").arg(FixedNumberText(f.OvershootPct, 1),
                                                            FixedNumberText(f.SteadyStateError, 1));
  if (f.RestOutputPpPct) text += QStringLiteral(", output %1 % p-p").arg(FixedNumberText(*f.RestOutputPpPct, 1));
  return text;
}

QString PurposeText(TRunPurpose purpose) {
  switch (purpose) {
    case TRunPurpose::Probe: return QStringLiteral(", small step");
    case TRunPurpose::Judge: return QStringLiteral(", verification");
    case TRunPurpose::Settle: return QStringLiteral(", after a change of I");
    case TRunPurpose::Search: break;
  }
  return QString();
}

}  // namespace

QString SearchGainsCaption(const TSearchGains& g) {
  return QStringLiteral("P %1 I %2 D %3 b %4").arg(FormatNumber(g.P), FormatNumber(g.I), FormatNumber(g.D), FormatNumber(g.Deadband));
}

TPIDParams WithSearchGains(TPIDParams params, const TSearchGains& g) {
  params.P = g.P;
  params.I = g.I;
  params.D = g.D;
  params.Deadband = g.Deadband;
  return params;
}

double SearchRunSeconds(const TPIDParams& params, int prediv) {
  const double cycle = std::max(1, params.TicksPerServo) * 100e-6;
  return kStepAnswerBytes / kLineBytesPerSecond + kStepTestSamples * (prediv + 1) * cycle + kRunOverheadSeconds;
}

TSearchBudget SearchBudget(const TPIDParams& params, int prediv, int runsUsed, double secondsUsed) {
  TSearchBudget budget;
  budget.Runs = std::max(0, kTuningRuns - runsUsed);
  budget.Seconds = std::max(0.0, kTuningSeconds - secondsUsed);
  budget.Writes = kWritesPerRun * budget.Runs + kPutBackWrites;
  budget.RunSeconds = SearchRunSeconds(params, prediv);
  return budget;
}

TSearchOutcome RunGainSearch(TGainSearch& search, TTrialBoard& board, const TSearchBudget& budget,
                             const std::function<void(const QString&)>& progress) {
  TSearchOutcome out;
  const auto tell = [&](const QString& line) {
    if (progress) progress(line);
  };
  double longestFromOwn = 0;  // s
  for (int runs = 0;; ++runs) {
    // What is left of the budget: step tests, the time at the pace of the runs so far, and
    // EEPROM writes at a few a run, the put-back kept aside.
    const double perRun = runs > 0 ? board.Seconds() / runs : budget.RunSeconds;
    const int byTime = int(std::floor((budget.Seconds - board.Seconds()) / perRun));
    const int byWrites = (budget.Writes - kPutBackWrites - board.Writes()) / kWritesPerRun;
    search.LimitRuns(std::min({budget.Runs - runs, byTime, byWrites}));
    const std::optional<TPlannedRun> next = search.Next();
    if (!next) break;
    // A verification's first run, from the board's own gains, waits for rest twice, longer than
    // the pace: the verification starts only where its runs fit in the time left, that one as
    // long as the longest such so far.
    const bool over = next->FromOwnGains && board.Seconds() + std::max(perRun, longestFromOwn) +
                                                    (search.JudgeRunsLeft() - 1) * perRun >
                                                budget.Seconds;
    if (over || board.Writes() + board.WritesFor(next->Gains) + kPutBackWrites > budget.Writes) {
      search.LimitRuns(0);
      break;
    }
    const double started = board.Seconds();
    const TResult<TStepRecord> record = board.Run(*next);
    if (next->FromOwnGains) longestFromOwn = std::max(longestFromOwn, board.Seconds() - started);
    if (!record) {
      out.Failure = record.Failure();
      break;
    }
    const TDanger danger = search.Record(*record);
    if (danger != TDanger::None) {
      if (TResult<void> back = board.PutBack(); !back) {
        out.Failure = back.Failure();
        break;
      }
    }
    const TSearchRun& run = search.Runs().back();
    tell(QStringLiteral("trial %1 of at most %2 (%3), step %4%5: %6")
             .arg(next->Trial)
             .arg(search.MostTrials())
             .arg(SearchGainsCaption(next->Gains))
             .arg(next->Step)
             .arg(PurposeText(next->Purpose), RunText(run)));
    if (TResult<void> stored = board.Store(run, search.Completed()); !stored) {
      out.Failure = stored.Failure();
      break;
    }
    if (const TSearchTrial* done = search.Completed())
      tell(QStringLiteral("trial %1: %2; best so far %3").arg(done->Number).arg(QString::fromStdString(done->Verdict),
                                                                                SearchGainsCaption(search.Best())));
  }
  out.End = search.End();
  out.Writes = board.Writes();
  out.Seconds = board.Seconds();
  return out;
}

TSessionTrialBoard::TSessionTrialBoard(TBoardSession& session, TRunStore& history, TWriteTransaction& txn, TPIDParams base,
                                       int step, int prediv, const TBoardHooks& hooks, QString* source,
                                       std::optional<TSearchGains> guess)
    : FSession(session), FHistory(history), FTxn(txn), FBase(base), FStep(step), FPrediv(prediv), FHooks(hooks),
      FSource(source), FGuess(guess) {
  FClock.start();
}

TResult<TStepRecord> TSessionTrialBoard::Run(const TPlannedRun& run) {
  if (TResult<void> go = FTxn.Proceed(); !go) return go.Failure();
  if (run.FromOwnGains) {
    if (TResult<void> back = FTxn.Undo(); !back) return back.Failure();
    TBoardHooks quiet = FHooks;
    quiet.Progress = nullptr;
    WaitForRest(FSession, FSession.Board(), quiet, kSearchRestWaitMs);
  }
  if (FSource)
    *FSource = FGuess && run.Gains == *FGuess ? QStringLiteral("the suggestion") : QStringLiteral("trial %1").arg(run.Trial);
  if (TResult<void> written = FTxn.Write(ParamValuesOf(WithSearchGains(FBase, run.Gains)), TValueText::Shown); !written)
    return written.Failure();
  // The search says what each run is; the runs themselves go quietly.
  TBoardHooks quiet = FHooks;
  quiet.Progress = nullptr;
  const TPIDParams board = FSession.Board();
  WaitForRest(FSession, board, quiet, run.FromOwnGains ? kOwnGainsRestWaitMs : kSearchRestWaitMs);
  TStepStart start;
  const QString label = QStringLiteral("trial %1%2%3")
                            .arg(run.Trial)
                            .arg(PurposeText(run.Purpose), run.Step == 0 ? QStringLiteral(", at rest") : QString());
  TResult<TStepRun> measured = UnstoredRun(FSession, board, run.Step, run.Step == 0 ? 0 : FPrediv, label, start, quiet);
  if (!measured) return measured.Failure();
  FLast = std::move(*measured);
  return RecordOf(FLast, start);
}

TResult<void> TSessionTrialBoard::PutBack() { return FTxn.Undo(); }

TResult<void> TSessionTrialBoard::Store(const TSearchRun&, const TSearchTrial* completed) {
  if (TResult<void> stored = StoreRun(FHistory, FLast); !stored) return stored;
  FStored.push_back(FLast);
  if (!completed) return {};
  TTrial trial;
  trial.JournalId = FTxn.Result().JournalId;
  trial.Number = completed->Number;
  trial.Gains = WithSearchGains(FBase, completed->Gains);
  for (int index : completed->Runs) {
    const TStepRun& stored = FStored.at(size_t(index));
    qint64& slot = stored.Step == 0 ? trial.RestRun : (stored.Step > 0) == (FStep > 0) ? trial.ForwardRun : trial.ReverseRun;
    slot = stored.Id;
  }
  trial.Verdict = QString::fromStdString(completed->Verdict);
  trial.Cost = completed->Cost;
  trial.Dangerous = completed->Danger != TDanger::None;
  if (TResult<void> added = FHistory.AddTrial(trial); !added)
    return TFailure{QStringLiteral("the run history: %1").arg(added.Failure().Message), added.Failure().Explanation};
  return {};
}

int TSessionTrialBoard::Writes() const { return int(FTxn.Result().Values.size()); }

int TSessionTrialBoard::WritesFor(const TSearchGains& gains) const {
  return int(PlanWrites(FSession.Board(), ParamValuesOf(WithSearchGains(FBase, gains))).size());
}
