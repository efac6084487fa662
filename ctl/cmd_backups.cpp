// zirv7ctl backups: what boards held before each EEPROM write of the companion.
#include <QJsonArray>
#include <QJsonObject>

#include "ctl/commands.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "globals/jsontext.h"
#include "runstore/runstore.h"
#include "steprun/steprun.h"

namespace {

QString StateText(const TJournalEntry& e) {
  return e.Finished ? e.Outcome : QStringLiteral("UNFINISHED");
}

QJsonObject BackupJson(const TJournalEntry& e) {
  return {{QStringLiteral("id"), e.Id},
          {QStringLiteral("time"), IsoTime(e.Time)},
          {QStringLiteral("port"), e.Port},
          {QStringLiteral("command"), e.Command},
          {QStringLiteral("planned"), e.Planned},
          {QStringLiteral("finished"), e.Finished},
          {QStringLiteral("outcome"), e.Finished ? QJsonValue(e.Outcome) : QJsonValue()},
          {QStringLiteral("params"), ParamsJson(e.Board)}};
}

void PrintBackupTable(TCtlIo& io, const std::vector<TJournalEntry>& entries) {
  std::vector<QStringList> rows = {{"ID", "TIME", "PORT", "STATE", "COMMAND", "IT WROTE"}};
  for (const TJournalEntry& e : entries)
    rows.push_back({QString::number(e.Id), e.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), e.Port,
                    StateText(e), e.Command, e.Planned});
  PrintTable(io, rows, int(rows.front().size()));
}

// Marks a backup finished at the user's word: the command that wrote it could not, and the
// board keeps what it holds.
int FinishBackupByHand(TCtlIo& io, qint64 id) {
  TRunStore store;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  const TResult<TJournalEntry> entry = store.LoadJournal(id);
  if (!entry) {
    PrintHistoryFailure(io, entry.Failure());
    return kExitFailed;
  }
  if (entry->Finished) {
    io.Err << "backup " << entry->Id << " is finished already (" << entry->Outcome << ")\n" << Qt::flush;
    return kExitOk;
  }
  const TResult<void> finished = store.FinishJournal(entry->Id, QStringLiteral("marked finished"));
  if (!finished) {
    PrintHistoryFailure(io, finished.Failure());
    return kExitFailed;
  }
  io.Err << "backup " << entry->Id << " is marked finished; the board was not written\n" << Qt::flush;
  return kExitOk;
}

}  // namespace

int RunBackups(const TCommandArgs& args, TCtlIo& io) {
  if (args.Has("finish")) return FinishBackupByHand(io, *RecordNumber(args.Value("finish")));
  // Only read: a history on a read-only disk is listed all the same.
  TRunStore store;
  if (!OpenRunHistory(io, store, TStoreAccess::ReadOnly)) return kExitFailed;
  TResult<std::vector<TJournalEntry>> listed = store.ListJournal();
  if (!listed) {
    PrintHistoryFailure(io, listed.Failure());
    return kExitFailed;
  }
  const std::vector<TJournalEntry>& entries = *listed;
  if (args.Has("json")) {
    QJsonArray array;
    for (const TJournalEntry& e : entries) array.append(BackupJson(e));
    io.Out << JsonText(array);
    return kExitOk;
  }
  if (entries.empty()) {
    io.Err << "No backup yet: one is kept before every EEPROM write of the companion.\n";
    return kExitOk;
  }
  PrintBackupTable(io, entries);
  return kExitOk;
}
