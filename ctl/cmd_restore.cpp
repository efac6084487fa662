// zirv7ctl restore: a backup's values back on the board, through the same checked write.
#include "boardsession/interrupt.h"
#include "ctl/boardcmd.h"
#include "ctl/boardwrite.h"
#include "ctl/commands.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "runstore/runstore.h"

int RunRestore(const TCommandArgs& args, TCtlIo& io) {
  const QString port = args.Value("port");
  const qint64 id = *RecordNumber(args.Positional().at(0));

  TInterruptGuard guard;
  // A history that can only be read still holds the backup: the restore then says that it
  // cannot keep the board's present values, and asks.
  TRunStore store;
  if (!OpenRunHistory(io, store, TStoreAccess::WriteWherePossible)) return kExitFailed;
  const TResult<TJournalEntry> entry = store.LoadJournal(id);
  if (!entry) {
    PrintHistoryFailure(io, entry.Failure());
    return kExitFailed;
  }
  const TWriteSetRequest request = WriteRequestOf(args, QStringLiteral("backup %1").arg(id));
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TRestoreResult result = RestoreBackup(session, store.Writable() ? &store : nullptr, *entry, request,
                                              BoardHooks(io, port, args.Has("yes")));
  int status = PrintWriteSet(io, result.Write, request.DryRun);
  if (result.BackupFailure) {
    PrintHistoryFailure(io, {QStringLiteral("backup %1 stays marked unfinished (%2), although its values are on the "
                                            "board now; `zirv7ctl backups --finish %1` marks it finished once the "
                                            "history can be written")
                                 .arg(id)
                                 .arg(result.BackupFailure->Message),
                             result.BackupFailure->Explanation});
    status = kExitFailed;
  }
  return status;
}
