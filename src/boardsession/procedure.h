#pragma once

// What the board procedures of the companion (write a set, restore a backup, compare sets,
// suggest gains) share: the plan they show before they ask, and what they ask of the program
// that runs them.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "boardsession/paramswap.h"
#include "boardsession/transaction.h"

// One part of a plan: the writes of one parameter set.
struct TPlanStep {
  QString Caption;  // "a.pset", "back to the board's values"; "" in a plan of one set
  std::vector<TPlannedWrite> Writes;
};

// What a procedure will write to the board's EEPROM, shown before it asks.
struct TWritePlan {
  QString Command;  // "write", "compare"
  QString Port;
  QString Source;   // where the values come from ("good.pset", "backup 3"); "" when the steps say
  TValueText Text = TValueText::Shown;
  std::vector<TPlanStep> Steps;
  // What the user must weigh before answering: a write that cannot be journaled, a board that
  // may not be the one the values were meant for.
  QStringList Warnings;
  // Whether the answer may be given in advance (--yes); not where only a person can judge.
  bool YesAnswers = true;
  // EEPROM writes the procedure may make beyond the steps' (the trials of a search), and what
  // it will do that the writes do not say (its budget, its bounds).
  size_t MoreWrites = 0;
  QStringList Details;

  // Returns how many EEPROM writes the plan makes, at most.
  size_t Total() const;
  // Returns the plan on one line, as the journal keeps it: "P 0.2 -> 0.3, D 0.0015 -> 0.002",
  // with several steps "a.pset: P 0.2 -> 0.3; back: P 0.3 -> 0.2".
  QString JournalText() const;
};

// What a board procedure asks of the program that runs it; each may be left empty.
struct TBoardHooks {
  // Told of each step as it begins ("a.pset, step 100").
  std::function<void(const QString& line)> Progress;
  // Returns why the procedure must stop now (an interruption, output nobody can read), or
  // nothing; asked between steps until the values are kept (TTransactionHooks::Stop).
  std::function<std::optional<TFailure>()> Stop;
  // Told why a transaction stops, before the board is put back (TTransactionHooks::Stopping).
  std::function<void(const TFailure& why, bool goesBack)> Stopping;
  // Shown the plan, with everything else it is about shown before; returns whether to write.
  // Empty: write without asking.
  std::function<bool(const TWritePlan& plan)> Confirm;
};

// Returns the failure as one of source: "a.pset: <message>", with its explanation.
TFailure Concerning(const QString& source, const TFailure& failure);

// Returns the transaction's hooks of a procedure's: a stop's reason told as a failure of the
// source being written ("a.pset: interrupted"), when *source is not empty.
TTransactionHooks TransactionHooks(const TBoardHooks& hooks, const QString* source = nullptr);

// Returns whether the procedure may write: the plan confirmed, or no question to ask.
bool Confirmed(const TBoardHooks& hooks, const TWritePlan& plan);
