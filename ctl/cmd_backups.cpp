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

const QString kName = QStringLiteral("backups");

QString StateText(const TJournalEntry& e) {
  return e.Finished ? e.Outcome : QStringLiteral("UNFINISHED");
}

QJsonObject JsonOf(const TJournalEntry& e) {
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
int FinishBackupByHand(TCtlIo& io, const QString& text) {
  qint64 id = 0;
  if (!ReadBackupId(io, kName, text, id)) return kExitUsage;
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

int RunBackups(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Lists the backups in the run history: before its first EEPROM write, every command of\n"
      "the companion that writes a board (write, restore, compare, suggest --apply) keeps what\n"
      "the board held, with the port, the time, the command line and what it was about to\n"
      "write. The state says how the command ended: \"kept\" (the change was meant to stay),\n"
      "\"put back\", or UNFINISHED when it never could say (killed, unplugged, power lost): the\n"
      "board may then still hold what it was writing. 'zirv7ctl restore --port NAME ID' writes\n"
      "a backup's values back. --json adds each backup's fourteen values.\n"
      "\n"
      "A command whose values are on the board but whose backup could not be marked\n"
      "finished (the history locked or full) says so and names --finish ID, which marks the\n"
      "backup finished without writing the board: its values stay as they are."));
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print the backups as a JSON array.")});
  parser.addOption({QStringLiteral("finish"),
                    QStringLiteral("Mark backup ID finished, leaving the board as it is."), QStringLiteral("ID")});
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QString(), args, io, exitCode)) return exitCode;
  if (!TakesNoArguments(parser, kName, io)) return kExitUsage;
  if (parser.isSet(QStringLiteral("finish"))) return FinishBackupByHand(io, parser.value(QStringLiteral("finish")));
  // Only read: a history on a read-only disk is listed all the same.
  TRunStore store;
  if (!OpenRunHistory(io, store, TStoreAccess::ReadOnly)) return kExitFailed;
  TResult<std::vector<TJournalEntry>> listed = store.ListJournal();
  if (!listed) {
    PrintHistoryFailure(io, listed.Failure());
    return kExitFailed;
  }
  const std::vector<TJournalEntry>& entries = *listed;
  if (parser.isSet(QStringLiteral("json"))) {
    QJsonArray array;
    for (const TJournalEntry& e : entries) array.append(JsonOf(e));
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
