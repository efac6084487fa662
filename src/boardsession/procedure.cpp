#include "boardsession/procedure.h"

size_t TWritePlan::Total() const {
  size_t total = MoreWrites;
  for (const TPlanStep& step : Steps) total += step.Writes.size();
  return total;
}

QString TWritePlan::JournalText() const {
  if (Steps.size() == 1 && Steps.front().Caption.isEmpty()) return DescribeWrites(Steps.front().Writes, Text);
  QStringList parts;
  for (const TPlanStep& step : Steps)
    parts.append(QStringLiteral("%1: %2").arg(step.Caption, step.Writes.empty() ? QStringLiteral("nothing")
                                                                                 : DescribeWrites(step.Writes, Text)));
  return parts.join(QStringLiteral("; "));
}

TFailure Concerning(const QString& source, const TFailure& failure) {
  return {QStringLiteral("%1: %2").arg(source, failure.Message), failure.Explanation};
}

TTransactionHooks TransactionHooks(const TBoardHooks& hooks, const QString* source) {
  TTransactionHooks t;
  t.Stop = hooks.Stop;
  t.Progress = hooks.Progress;
  if (hooks.Stopping)
    t.Stopping = [stopping = hooks.Stopping, source](const TFailure& why, bool goesBack) {
      stopping(!source || source->isEmpty() ? why : Concerning(*source, why), goesBack);
    };
  return t;
}

bool Confirmed(const TBoardHooks& hooks, const TWritePlan& plan) {
  return plan.Total() == 0 || !hooks.Confirm || hooks.Confirm(plan);
}
