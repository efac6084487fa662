#pragma once

// A parameter set written to the board as the window's "Write to ZIRV EE-Prom" writes it, for
// write and restore: only the rows that differ, with the same set commands in table order,
// every answer checked, in one transaction that keeps the values or puts the board back.

#include <QString>
#include <optional>
#include <vector>

#include "boardsession/procedure.h"
#include "runstore/runstore.h"

struct TWriteSetRequest {
  QString Command;      // "write", "restore": names the command in the plan
  QString CommandLine;  // the command line as the journal keeps it
  QString Source;       // where the values come from: "good.pset", "backup 3"
  TParamValues Target{};
  TValueText Text = TValueText::Shown;  // Exact for values the board gave
  bool DryRun = false;  // make the plan and write nothing
  // The history whose journal keeps the board's values before the first write; it must be open
  // for writing. None: nothing is journaled (a dry run, a history that can only be read).
  TRunStore* Journal = nullptr;
  QStringList Warnings;   // shown with the plan
  bool YesAnswers = true; // whether --yes may answer the question
};

struct TWriteSetResult {
  TWritePlan Plan;
  bool Declined = false;  // the question was answered no: nothing was written
  // Why the board does not hold the set ("good.pset: interrupted"); nothing when it does, or
  // when it holds a value the board limited.
  std::optional<TFailure> Failure;
  std::vector<TValueWrite> Values;  // the values sent, in table order
  TTransactionResult Transaction;

  // Returns whether the board holds the whole set as sent: written and kept with every answer
  // as sent, or held already.
  bool Complete() const;
};

// Writes the rows of request.Target that differ from the board of session (open, its values
// read): makes the plan (which ends a dry run), asks through hooks.Confirm, journals the board's
// values before the first write, writes, verifies and keeps. A value the board limits is kept
// as the board's; anything else that goes wrong puts the board back (TWriteTransaction).
TWriteSetResult WriteParameterSet(TBoardSession& session, const TWriteSetRequest& request, const TBoardHooks& hooks);

struct TRestoreResult {
  TWriteSetResult Write;
  // Why the backup stays marked unfinished although its values are on the board now.
  std::optional<TFailure> BackupFailure;
};

// Puts the values of a backup (entry) back on the board of session, every digit as the board
// gave them, as WriteParameterSet writes a set. journal is the history the backup came from,
// open for writing, or none when it can only be read: the restore then cannot keep the board's
// present values, and says so before it asks. An unfinished backup whose command left values
// on the board that it never wrote may belong to another board on the same adapter: that is
// said too, and the question then needs a person's answer. Once its values are on the board an
// unfinished backup is marked "restored".
TRestoreResult RestoreBackup(TBoardSession& session, TRunStore* journal, const TJournalEntry& entry,
                             const TWriteSetRequest& request, const TBoardHooks& hooks);
