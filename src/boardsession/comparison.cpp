#include "boardsession/comparison.h"

#include "boardsession/journal.h"
#include "boardsession/steptest.h"
#include "parameters/paramtable.h"

namespace {

// The writes of the whole comparison, in order, assuming the board takes every value.
TWritePlan MakePlan(const TBoardSession& session, const std::vector<TCompareSet>& sets) {
  TWritePlan plan;
  plan.Command = QStringLiteral("compare");
  plan.Port = session.PortName();
  TPIDParams board = session.Board();
  for (const TCompareSet& set : sets) {
    plan.Steps.push_back({set.Caption, PlanWrites(board, set.Values)});
    for (const TPlannedWrite& w : plan.Steps.back().Writes) StoreAnswer(board, *w.Row, w.To);
  }
  plan.Steps.push_back({QStringLiteral("back to the board's values"), PlanWrites(board, ParamValuesOf(session.Board()))});
  return plan;
}

}  // namespace

TCompareResult CompareParameterSets(TBoardSession& session, TRunStore& history, const TCompareRequest& request,
                                    const TBoardHooks& hooks) {
  TCompareResult r;
  r.Plan = MakePlan(session, request.Sets);
  r.Transaction.End = TTransactionEnd::Untouched;
  if (!Confirmed(hooks, r.Plan)) {
    r.Declined = true;
    return r;
  }
  TStoreJournal journal(history, session.PortName(), request.CommandLine, r.Plan.JournalText());
  QString source;
  TWriteTransaction txn(session, &journal, TransactionHooks(hooks, &source));
  for (const TCompareSet& set : request.Sets) {
    source = set.Caption;
    if (hooks.Progress) hooks.Progress(QStringLiteral("%1, step %2").arg(set.Caption).arg(request.Step));
    // A value the board limits is told, and the test runs with what the board holds.
    TResult<void> ready = txn.Write(set.Values, TValueText::Shown);
    const std::vector<TValueWrite> written = txn.LastWrite();
    if (ready) ready = txn.Proceed();
    if (!ready) {
      r.Failure = Concerning(set.Caption, ready.Failure());
      break;
    }
    TResult<TStepRun> run = RunStepTest(session, session.Board(), request.Step, request.Prediv);
    if (!run) {
      r.Failure = Concerning(set.Caption, run.Failure());
      txn.PutBack(run.Failure());
      break;
    }
    run->Label = set.Caption;
    const TResult<void> stored = history.Insert(*run);
    r.Runs.push_back(std::move(*run));
    r.Writes.push_back(written);
    if (!stored) {
      r.HistoryFailure = stored.Failure();
      break;
    }
  }
  source.clear();
  // A stop after the last test still counts: the runs are there, but the output may not be.
  if (!r.Failure && !r.HistoryFailure)
    if (TResult<void> go = txn.Proceed(); !go) r.Failure = go.Failure();
  txn.PutBack();
  r.Transaction = txn.Result();
  return r;
}
