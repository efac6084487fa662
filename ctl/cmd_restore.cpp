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

// Reads the backup's number: "3" or "#3".
bool ReadBackupId(TCtlIo& io, const QString& text, qint64& id) {
  bool ok = false;
  id = (text.startsWith(u'#') ? text.mid(1) : text).toLongLong(&ok);
  if (ok && id > 0) return true;
  PrintError(io, kName, QStringLiteral("'%1' is not a backup number (see 'zirv7ctl backups')").arg(text));
  return false;
}

}  // namespace

int RunRestore(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Writes the values of a backup (see 'zirv7ctl backups') back to the board, as 'write'\n"
      "writes a file: only the values that differ, one set command each in the order of the\n"
      "\"Parameters\" page, every answer checked, the differences shown and the question asked\n"
      "first unless --yes. The board's values before the restore are kept as a backup of their\n"
      "own. An unfinished backup is marked finished once its values are back."));
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
  if (!ReadBackupId(io, positional.first(), id)) return kExitUsage;

  TInterruptGuard guard;
  TRunStore store;
  // A history it can only read (a read-only disk) still holds the backup's values.
  if (!OpenRunHistory(io, store, TStoreAccess::WriteWherePossible)) return kExitFailed;
  TResult<TJournalEntry> loaded = store.LoadJournal(id);
  if (!loaded) {
    PrintHistoryFailure(io, loaded.Failure());
    return kExitFailed;
  }
  const TJournalEntry& entry = *loaded;
  if (entry.Port != port)
    io.Err << "backup " << id << " was kept on " << entry.Port << "; it goes to the board on " << port << "\n"
           << Qt::flush;
  TWriteRequest request = WriteRequestOf(parser, kName, args, QStringLiteral("backup %1").arg(id));
  if (!request.DryRun && !store.Writable())
    PrintHistoryFailure(io, {QStringLiteral("the run history can only be read: this restore is not kept "
                                            "as a backup of its own, and backup %1 stays as it is").arg(id), {}});
  if (!request.DryRun && store.Writable()) request.Journal = &store;
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const int status = WriteParameterSet(io, session, ParamValuesOf(entry.Board), request);
  // The values the backup kept are on the board: an earlier command that never finished is
  // settled now.
  if (status == kExitOk && request.Journal && !entry.Finished)
    if (const TResult<void> finished = store.FinishJournal(id, QStringLiteral("restored")); !finished)
      PrintHistoryFailure(io, finished.Failure());
  return status;
}
