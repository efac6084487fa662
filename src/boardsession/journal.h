#pragma once

// The journal of the run history as the board's transactions keep it, and what it tells a
// command about to write a board: earlier writes on the same device that never finished.

#include <QList>
#include <QString>
#include <vector>

#include "boardsession/transaction.h"
#include "devices/holders.h"
#include "globals/result.h"
#include "runstore/runstore.h"

// The journal of an open run history, for the transaction of one command.
class TStoreJournal : public TBoardJournal {
 public:
  // store must stay open while the transaction writes. port is the port as the command was
  // given it; commandLine and planned are kept with the originals ("write --port COM3 a.pset",
  // "P 0.2 -> 0.3"); kind says what the entries keep the values for.
  TStoreJournal(TRunStore& store, QString port, QString commandLine, QString planned,
                TJournalKind kind = TJournalKind::Write);

  TResult<qint64> Begin(const TPIDParams& originals) override;
  TResult<void> Finish(qint64 id, const QString& outcome) override;

 private:
  TRunStore& FStore;
  QString FPort;
  QString FCommandLine;
  QString FPlanned;
  TJournalKind FKind;
};

// An earlier command's journal entry on the device a command is about to open that is not
// marked finished.
struct TEarlierWrite {
  TJournalEntry Entry;
  // The command that made the entry, when it holds the device still: it is running and puts
  // the board back itself, rather than one that never finished.
  QList<THolder> RunningIn;
};

// Returns the unfinished journal entries of the device the port leads to, however the earlier
// commands named it ("COM3", its by-id name, /dev/ttyUSB0; entries kept before the journal knew
// devices by the port's name alone), oldest first, each with the command that still runs it.
// Fails when the history cannot be read: then earlier writes that never finished cannot be seen.
TResult<std::vector<TEarlierWrite>> EarlierWrites(const QString& port);

// Returns the rows where board holds a value that entry neither found on the board nor was
// about to write (its planned writes): a board with such values may not be the one the entry's
// command wrote, but another on the same adapter. A value the board limited to its known limit
// counts as written.
std::vector<const TParamRow*> RowsNotFromEntry(const TJournalEntry& entry, const TPIDParams& board);

