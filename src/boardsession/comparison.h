#pragma once

// Parameter sets tried one after another on the board, one step test each, in one transaction
// that always ends with the board's own values back.

#include <QString>
#include <optional>
#include <vector>

#include "boardsession/procedure.h"
#include "runstore/runstore.h"
#include "steprun/steprun.h"

// One parameter set to try: its caption ("a.pset") and the values it puts on the board.
struct TCompareSet {
  QString Caption;
  TParamValues Values{};
};

struct TCompareRequest {
  QString CommandLine;  // the command line as the journal keeps it
  int Step = 0;
  int Prediv = 0;
  std::vector<TCompareSet> Sets;
};

struct TCompareResult {
  TWritePlan Plan;
  bool Declined = false;  // the question was answered no: nothing was written
  // One run per set that ran, labelled with its caption, with the values the board held.
  std::vector<TStepRun> Runs;
  // What each run's set sent (beside Runs): a value the board limited shows here.
  std::vector<std::vector<TValueWrite>> Writes;
  // Why not every set ran ("b.pset: the step test's answer broke off ..."); nothing when all did.
  std::optional<TFailure> Failure;
  // Why a run is missing from the history (it is in Runs all the same).
  std::optional<TFailure> HistoryFailure;
  TTransactionResult Transaction;
};

// For each set in turn: writes the rows that differ from what the board holds, runs one step
// test with what the board then holds and stores the run in history; then puts the board's own
// values back. Makes the plan of every write first and asks through hooks.Confirm (nothing to
// write asks nothing). Stops at the first set whose write or test fails, whose run the history
// refuses, or when hooks.Stop says stop; the board's values go back in every case.
TCompareResult CompareParameterSets(TBoardSession& session, TRunStore& history, const TCompareRequest& request,
                                    const TBoardHooks& hooks);
