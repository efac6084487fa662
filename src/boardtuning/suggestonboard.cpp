#include "boardtuning/suggestonboard.h"

#include <QStringList>
#include <algorithm>
#include <tuple>

#include "boardsession/journal.h"

namespace {

// Sets the report's refusal: why nothing is suggested, and what to try.
bool Refuse(TSuggestReport& r, const QString& problem, const QString& advice) {
  r.Refusal = problem;
  r.RefusalAdvice = advice;
  return false;
}

// Fills the report's runs and the records to fit, from new tests or from the history: the
// runs of one measurement, in the order they were taken, the loop's state before each read
// from its samples (and, where those cannot tell the integral's sum, from the status read
// before a new test).
bool GatherRuns(TBoardSession* session, TRunStore& history, const TSuggestRequest& request, TSuggestReport& r,
                const TBoardHooks& hooks, TBoardRecords& records) {
  std::vector<TStepRun> runs = request.History;
  std::vector<TStepStart> status;
  if (runs.empty()) {
    TResult<TBoardRuns> before =
        MeasureBoard(*session, history, r.Present, *request.Step, request.Prediv.value_or(0), QStringLiteral("before"), hooks);
    if (!before) {
      const std::optional<TFailure> stop = hooks.Stop ? hooks.Stop() : std::nullopt;
      r.Failure = stop ? TFailure{QStringLiteral("%1 during the step test; nothing was written").arg(stop->Message), {}}
                       : before.Failure();
      return false;
    }
    r.Before = std::move(*before);
    runs = {r.Before->Forward, r.Before->Reverse, r.Before->Rest};
    status = {r.Before->ForwardStart, r.Before->ReverseStart, r.Before->RestStart};
  }
  TResult<TBoardRecords> chosen = RecordsOfRuns(runs, status);
  if (!chosen) {
    r.Failure = TFailure{chosen.Failure().Message + QStringLiteral("; nothing was written"), chosen.Failure().Explanation};
    return false;
  }
  records = std::move(*chosen);
  for (const TStepRun& run : runs)
    if (run.Step != 0) r.Runs.push_back(run);
  if (!session) r.Present = r.Runs.back().Params;
  return true;
}

// Fits the motor and chooses gains. Returns false when there is nothing to suggest (a board
// whose loop differs, a poor fit, what the model cannot handle, or no gains that meet the goal).
bool Choose(const TSuggestRequest& request, const TBoardRecords& records, TSuggestReport& r) {
  const TStepRun& first = r.Runs.front();
  TChoice c = ChooseGains(records, {r.Present, StepAmplitude(request.Step.value_or(first.Step), r.Present),
                                    request.Prediv.value_or(first.Prediv), r.Goal});
  r.Law = std::move(c.Law);
  r.Identification = std::move(c.Identification);
  r.Extras = std::move(c.Extras);
  r.Deadband = c.Deadband;
  r.CountJumpInForcePct = c.CountJumpInForcePct;
  r.Setup = c.Setup;
  r.PresentPredicted = std::move(c.PresentPredicted);
  r.Suggestion = std::move(c.Suggestion);
  if (c.Refusal.empty()) return true;
  return Refuse(r, QString::fromStdString(c.Refusal), QString::fromStdString(c.Advice));
}

// Judges the verification against the runs before and the goal; new gains exercise what the old
// ones may not have (an I where there was none), so the law is checked again on what they did.
void Judge(const TPIDParams& board, TSuggestReport& r) {
  TStepTestSetup setup = r.Setup;
  setup.Loop = LoopSettings(board);
  setup.Start = r.After->ForwardStart;
  r.AfterPredicted = PredictStepTest(r.Identification.Motor, setup, r.Goal);
  r.Failures = JudgeVerification(FiguresOf(*r.Before), FiguresOf(*r.After), r.Goal, board.Deadband);
  for (const auto& [name, run, start] : {std::tuple{"forward", &r.After->Forward, &r.After->ForwardStart},
                                         std::tuple{"reverse", &r.After->Reverse, &r.After->ReverseStart}}) {
    const TLoopLawCheck law = CheckLoopLaw(RecordOf(*run, *start));
    if (law.Verdict == TLawVerdict::Differs)
      r.Failures.push_back({name, "loop law",
                            std::string("the ") + name + " step with the new gains does not follow the loop law the model "
                            "assumes (sample " + std::to_string(law.WorstSample) + "): this board's loop is another one"});
  }
}

// Writes the suggestion, verifies it with a step each way and a rest record, and keeps it only
// when every figure is within the goal and none is worse than with the gains before it;
// otherwise, and when the verification is interrupted or fails, puts the board back.
void WriteAndVerify(TBoardSession& session, TRunStore& history, const TSuggestRequest& request, TSuggestReport& r,
                    const TBoardHooks& hooks) {
  TStoreJournal journal(history, session.PortName(), request.CommandLine, DescribeWrites(r.Writes));
  QString source = QStringLiteral("the suggestion");
  TWriteTransaction txn(session, &journal, TransactionHooks(hooks, &source));
  // A value the board stores otherwise than sent ends the write: it would be verified in the
  // suggestion's name.
  if (txn.Write(ParamValuesOf(SuggestedParams(r)), TValueText::Shown)) {
    const TPIDParams& board = session.Board();
    WaitForRest(session, board, hooks);
    const int step = int(r.Setup.Step / std::max(1, board.Multiplier));
    TResult<TBoardRuns> after =
        MeasureBoard(session, history, board, step, r.Setup.Prediv, QStringLiteral("after"), hooks);
    if (!after) {
      txn.PutBack(after.Failure());
    } else {
      r.After = std::move(*after);
      Judge(board, r);
      QStringList why;
      for (const TFigureFailure& f : r.Failures) why.append(QString::fromStdString(f.Text));
      source.clear();
      if (why.isEmpty())
        r.Kept = bool(txn.Keep());
      else
        txn.PutBack(TFailure{QStringLiteral("the suggestion is put back: %1").arg(why.join(QStringLiteral("; "))), {}});
    }
  }
  r.Transaction = txn.Result();
}

// Plans what apply writes and asks; measures the gains before where the history gave them,
// then writes and verifies.
void Apply(TBoardSession& session, TRunStore& history, const TSuggestRequest& request, TSuggestReport& r,
           const TBoardHooks& hooks) {
  TWritePlan plan;
  plan.Command = QStringLiteral("suggest");
  plan.Port = session.PortName();
  plan.Source = QStringLiteral("the suggestion");
  plan.Steps = {{QString(), PlanWrites(session.Board(), ParamValuesOf(SuggestedParams(r)))}};
  r.Writes = plan.Steps.front().Writes;
  r.HeldAlready = r.Writes.empty();
  if (r.HeldAlready) return;
  if (!Confirmed(hooks, plan)) {
    r.Declined = true;
    r.Writes.clear();
    return;
  }
  if (!r.Before) {
    const TPIDParams& board = session.Board();
    TResult<TBoardRuns> before = MeasureBoard(session, history, board, int(r.Setup.Step / std::max(1, board.Multiplier)),
                                              r.Setup.Prediv, QStringLiteral("before"), hooks);
    if (!before) {
      r.Failure = before.Failure();
      return;
    }
    r.Before = std::move(*before);
  }
  WriteAndVerify(session, history, request, r, hooks);
}

}  // namespace

bool TSuggestReport::Succeeded(bool apply) const {
  if (Failure || !Refusal.isEmpty() || Declined) return false;
  return !apply || Suggestion.Unchanged || HeldAlready || Kept;
}

TSuggestReport SuggestGains(TBoardSession* session, TRunStore& history, const TSuggestRequest& request,
                            const TSuggestHooks& hooks) {
  TSuggestReport r;
  r.Goal = request.Goal;
  r.Transaction.End = TTransactionEnd::Untouched;
  if (session) r.Present = session->Board();
  TBoardRecords records;
  if (!GatherRuns(session, history, request, r, hooks, records) || !Choose(request, records, r)) return r;
  if (hooks.Chosen) hooks.Chosen(r);
  if (request.Apply && session && !r.Suggestion.Unchanged) Apply(*session, history, request, r, hooks);
  return r;
}

TPIDParams SuggestedParams(const TSuggestReport& r) {
  TPIDParams params = WithGains(r.Present, r.Suggestion.Gains);
  params.Deadband = r.Deadband;
  return params;
}

TStepRun PredictedRun(const TStepRun& like, const TPIDParams& params, const TPrediction& prediction,
                      const QString& label) {
  TStepRun run;
  run.Time = like.Time;
  run.Port = like.Port;
  run.Label = label;
  run.Step = like.Step;
  run.Prediv = like.Prediv;
  run.Params = params;
  run.Errors = prediction.Samples.Errors;
  run.Outputs = prediction.Samples.Outputs;
  UpdateFigures(run);
  return run;
}
