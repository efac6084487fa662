// zirv7ctl restore: a backup's values back on the board, through the same checked write.
#include "boardsession/interrupt.h"
#include "ctl/boardcmd.h"
#include "ctl/boardwrite.h"
#include "ctl/commands.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "runstore/runstore.h"

namespace {

const QString kName = QStringLiteral("restore");

}  // namespace

int RunRestore(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Writes the values of a backup (see 'zirv7ctl backups') back to the board, as 'write'\n"
      "writes a file: only the values that differ, one set command each in the order of the\n"
      "\"Parameters\" page, every answer checked, the differences shown and the question asked\n"
      "first unless --yes. Values go back with every digit the board gave them. The board's\n"
      "values before the restore are kept as a backup of their own; from a history that can\n"
      "only be read, the restore says that it cannot keep them, and asks. An unfinished backup\n"
      "is marked finished once its values are back. When the board holds values the backup's\n"
      "command never wrote, it may be another board on the same adapter: the restore says so,\n"
      "and then only a person's answer writes (--yes does not)."));
  AddPortOption(parser);
  AddWriteOptions(parser);
  parser.addPositionalArgument(QStringLiteral("BACKUP"), QStringLiteral("The backup's number."));
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("--port NAME BACKUP"), args, io, exitCode)) return exitCode;
  const QString port = parser.value(QStringLiteral("port"));
  const QStringList positional = parser.positionalArguments();
  qint64 id = 0;
  if (port.isEmpty() || positional.size() != 1) {
    PrintError(io, kName, QStringLiteral("expects --port NAME BACKUP; see 'zirv7ctl restore --help'"));
    return kExitUsage;
  }
  if (!ReadBackupId(io, kName, positional.first(), id)) return kExitUsage;

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
  const TWriteSetRequest request = WriteRequestOf(parser, kName, args, QStringLiteral("backup %1").arg(id));
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TRestoreResult result = RestoreBackup(session, store.Writable() ? &store : nullptr, *entry, request,
                                              BoardHooks(io, port, parser.isSet(QStringLiteral("yes"))));
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
