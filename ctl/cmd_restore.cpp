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
  TJournalEntry entry;
  QString error;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  if (!store.LoadJournal(id, entry, error)) {
    PrintError(io, TRunStore::DefaultPath(), error);
    return kExitFailed;
  }
  if (entry.Port != port)
    io.Err << "backup " << id << " was kept on " << entry.Port << "; it goes to the board on " << port << "\n"
           << Qt::flush;
  TWriteRequest request = WriteRequestOf(parser, kName, args, QStringLiteral("backup %1").arg(id));
  if (!request.DryRun) request.Journal = &store;
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const int status = WriteParameterSet(io, session, ParamValuesOf(entry.Board), request);
  // The values the backup kept are on the board: an earlier command that never finished is
  // settled now.
  if (status == kExitOk && !request.DryRun && !entry.Finished &&
      !store.FinishJournal(id, QStringLiteral("restored"), error))
    PrintError(io, TRunStore::DefaultPath(), error);
  return status;
}
