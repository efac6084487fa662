#include "boardsession/journal.h"

#include <QRegularExpression>

#include "devices/comtargets.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

// The program whose running copy may hold a device while its journal entry is unfinished.
const QString kCompanion = QStringLiteral("zirv7ctl");

// Marks the entry a holder of the device made, when the holder is the companion: the newest
// entry written since it started. The start read from the process table is never later than
// the true one, as the boot time it counts from is whole seconds; a command that holds the
// device writes one entry at a time, and no other command can write it meanwhile.
void MarkRunning(const THolder& holder, std::vector<TEarlierWrite>& earlier) {
  if (holder.Program != kCompanion) return;
  const std::optional<QDateTime> started = ProcessStartTime(holder.Pid);
  if (!started) return;
  for (auto w = earlier.rbegin(); w != earlier.rend(); ++w)
    if (*started <= w->Entry.Time) {
      w->RunningIn.append(holder);
      return;
    }
}

// Returns the values an entry's planned writes ("P 0.2 -> 0.3, ...", for compare
// "a.pset: P 0.2 -> 0.3; back: P 0.3 -> 0.2") put on row, as written.
QStringList PlannedTexts(const QString& planned, const TParamRow& row) {
  const QRegularExpression write(
      QStringLiteral("(?:^|[ :,;])%1 \\S+ -> ([^,; ]+)").arg(QRegularExpression::escape(QLatin1String(row.FileKey))));
  QStringList texts;
  for (const QRegularExpressionMatch& m : write.globalMatch(planned)) texts.append(m.captured(1));
  return texts;
}

bool HeldIsPlanned(const TParamRow& row, const QString& text, const TPIDParams& board) {
  double planned = 0;
  if (!TryReadNumber(text, planned)) return false;
  const double held = RecordValue(board, row);
  return !ValueDiffers(row, planned, board) || LimitedByBoard(row, planned, held);
}

}  // namespace

TStoreJournal::TStoreJournal(TRunStore& store, QString port, QString commandLine, QString planned, TJournalKind kind)
    : FStore(store),
      FPort(std::move(port)),
      FCommandLine(std::move(commandLine)),
      FPlanned(std::move(planned)),
      FKind(kind) {}

TResult<qint64> TStoreJournal::Begin(const TPIDParams& originals) {
  TJournalEntry entry;
  entry.Kind = FKind;
  entry.Port = FPort;
  entry.Device = StableDeviceName(FPort);
  entry.Command = FCommandLine;
  entry.Board = originals;
  entry.Planned = FPlanned;
  const TResult<void> begun = FStore.BeginJournal(entry);
  if (begun) return entry.Id;
  const QString cure = QStringLiteral(" Make room on its disk or let the program that holds it finish, then run "
                                      "the command again.");
  if (FKind == TJournalKind::Move)
    return TFailure{QStringLiteral("the move could not be kept in the journal before starting the test oscillator "
                                   "(%1)")
                        .arg(begun.Failure().Message),
                    QStringLiteral("Every command that moves the axis first keeps the move in the run history, so "
                                   "that the next command can stop the oscillator if this one never ends.") +
                        cure};
  return TFailure{QStringLiteral("the board's values could not be kept in the journal before writing (%1)")
                      .arg(begun.Failure().Message),
                  QStringLiteral("Every command that writes the board first keeps its values in the run "
                                 "history, so that they can be put back if the command never ends.") +
                      cure};
}

TResult<void> TStoreJournal::Finish(qint64 id, const QString& outcome) { return FStore.FinishJournal(id, outcome); }

TResult<std::vector<TEarlierWrite>> EarlierWrites(const QString& port) {
  auto unseen = [](const TFailure& f) {
    return TFailure{QStringLiteral("%1; earlier commands that did not finish cannot be seen").arg(f.Message), f.Explanation};
  };
  const TResult<QString> path = TRunStore::DefaultPath();
  if (!path) return unseen(path.Failure());
  TRunStore store;
  if (const TResult<void> opened = store.Open(*path, TStoreAccess::ReadOnly); !opened) return unseen(opened.Failure());
  const TResult<std::vector<TJournalEntry>> entries = store.UnfinishedJournal(StableDeviceName(port), port);
  if (!entries) return unseen(entries.Failure());
  std::vector<TEarlierWrite> earlier;
  for (const TJournalEntry& e : *entries) earlier.push_back({e, {}});
  if (earlier.empty()) return earlier;
  for (const THolder& h : TargetHolders(ResolvePort(port))) MarkRunning(h, earlier);
  return earlier;
}

std::vector<const TParamRow*> RowsNotFromEntry(const TJournalEntry& entry, const TPIDParams& board) {
  std::vector<const TParamRow*> rows;
  for (const TParamRow& row : ParamTable()) {
    if (!ValueDiffers(row, RecordValue(entry.Board, row), board)) continue;
    const QStringList planned = PlannedTexts(entry.Planned, row);
    if (std::none_of(planned.begin(), planned.end(),
                     [&](const QString& text) { return HeldIsPlanned(row, text, board); }))
      rows.push_back(&row);
  }
  return rows;
}
