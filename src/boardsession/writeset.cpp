#include "boardsession/writeset.h"

#include <algorithm>

#include "boardsession/journal.h"
#include "devices/comtargets.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

// Returns "D 0.004, FF1 0.7": the board's values of the rows.
QString HeldText(const std::vector<const TParamRow*>& rows, const TPIDParams& board) {
  QStringList parts;
  for (const TParamRow* row : rows)
    parts.append(QStringLiteral("%1 %2").arg(QLatin1String(row->FileKey), ExactNumberText(RecordValue(board, *row))));
  return parts.join(QStringLiteral(", "));
}

}  // namespace

bool TWriteSetResult::Complete() const {
  const bool asSent = std::all_of(Values.begin(), Values.end(), [](const TValueWrite& v) { return v.Echo == TEcho::AsSent; });
  return !Declined && !Failure && asSent && (Transaction.End == TTransactionEnd::Kept || Plan.Total() == 0);
}

TWriteSetResult WriteParameterSet(TBoardSession& session, const TWriteSetRequest& request, const TBoardHooks& hooks) {
  TWriteSetResult r;
  r.Plan = {request.Command, session.PortName(), request.Source, request.Text,
            {{QString(), PlanWrites(session.Board(), request.Target)}}, request.Warnings, request.YesAnswers, 0, {}};
  r.Transaction.End = TTransactionEnd::Untouched;
  r.Transaction.Originals = r.Transaction.Board = session.Board();
  if (r.Plan.Total() == 0 || request.DryRun) return r;
  if (!Confirmed(hooks, r.Plan)) {
    r.Declined = true;
    return r;
  }
  std::optional<TStoreJournal> journal;
  if (request.Journal) journal.emplace(*request.Journal, session.PortName(), request.CommandLine, r.Plan.JournalText());
  TWriteTransaction txn(session, journal ? &*journal : nullptr, TransactionHooks(hooks, &request.Source));
  TResult<void> written = txn.Write(request.Target, request.Text);
  if (written) written = txn.Keep();
  r.Values = txn.LastWrite();
  r.Transaction = txn.Result();
  if (!written) r.Failure = Concerning(request.Source, written.Failure());
  return r;
}

TRestoreResult RestoreBackup(TBoardSession& session, TRunStore* journal, const TJournalEntry& entry,
                             const TWriteSetRequest& request, const TBoardHooks& hooks) {
  const QString backup = QStringLiteral("backup %1").arg(entry.Id);
  const QString port = session.PortName();
  TWriteSetRequest write = request;
  write.Target = ParamValuesOf(entry.Board);
  write.Text = TValueText::Exact;
  write.Journal = request.DryRun ? nullptr : journal;
  if (StableDeviceName(entry.Port) != StableDeviceName(port))
    write.Warnings.append(QStringLiteral("%1 was kept on %2; it goes to the board on %3").arg(backup, entry.Port, port));
  if (!entry.Finished) {
    const std::vector<const TParamRow*> strange = RowsNotFromEntry(entry, session.Board());
    if (!strange.empty()) {
      write.Warnings.append(QStringLiteral("the board on %1 holds %2, which %3 neither found on its board nor "
                                           "was writing: this may be another board on the same adapter, whose "
                                           "own values the restore would overwrite")
                                .arg(port, HeldText(strange, session.Board()), backup));
      write.YesAnswers = false;
    }
  }
  if (!journal && !request.DryRun)
    write.Warnings.append(QStringLiteral("the run history can only be read: this restore cannot keep the board's "
                                         "present values as a backup of its own"));
  TRestoreResult r{WriteParameterSet(session, write, hooks), std::nullopt};
  if (request.DryRun || entry.Finished || !r.Write.Complete()) return r;
  const TResult<void> finished = journal ? journal->FinishJournal(entry.Id, QStringLiteral("restored"))
                                         : TResult<void>(TFailure{QStringLiteral("the history can only be read"), {}});
  if (!finished) r.BackupFailure = finished.Failure();
  return r;
}
