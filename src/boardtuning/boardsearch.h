#pragma once

// The search for gains on the board (tuning/gainsearch.h) as a procedure: each step test it
// asks for is run on a board, a run that shows a danger is followed at once by the board's own
// values, before anything else, and every run and trial is stored; all within a budget of step
// tests, seconds and EEPROM writes.

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "boardsession/procedure.h"
#include "boardsession/session.h"
#include "boardsession/transaction.h"
#include "globals/result.h"
#include "runstore/runstore.h"
#include "steprun/steprun.h"
#include "tuning/gainsearch.h"

// The board a search runs on: the serial board through the one write transaction, or a
// simulated one in the same process.
class TTrialBoard {
 public:
  virtual ~TTrialBoard() = default;
  // Puts the run's gains on the board (the values that change), lets the loop come to rest and
  // runs the step test; returns its record.
  virtual TResult<TStepRecord> Run(const TPlannedRun& run) = 0;
  // Puts the board's own values back at once, the search going on.
  virtual TResult<void> PutBack() = 0;
  // Keeps the run last made, and the trial it completed when it did.
  virtual TResult<void> Store(const TSearchRun& run, const TSearchTrial* completed) = 0;
  // Returns the EEPROM writes made so far, and those that putting gains on the board would make.
  virtual int Writes() const = 0;
  virtual int WritesFor(const TSearchGains& gains) const = 0;
  // Returns the seconds since the search began.
  virtual double Seconds() const = 0;
};

// What one search may spend.
struct TSearchBudget {
  int Runs = 0;             // step tests
  double Seconds = 0;
  int Writes = 0;           // EEPROM writes, the board's own values put back included
  double RunSeconds = 0;    // one step test with its writes and wait, until one is measured
};

// The step tests and seconds a whole tuning may take, the measurement before included.
inline constexpr int kTuningRuns = 60;
inline constexpr double kTuningSeconds = 90;

// Returns the expected seconds of one step test of a search on a board that runs in real
// time: its 404 lines at 57600 baud, its servo cycles, a status read, a few writes and the
// wait for rest before it.
double SearchRunSeconds(const TPIDParams& params, int prediv);

// Returns the budget of a search that follows runsUsed step tests that took secondsUsed: the
// rest of kTuningRuns and kTuningSeconds, and two EEPROM writes a step test (and five more to
// put the board back).
TSearchBudget SearchBudget(const TPIDParams& params, int prediv, int runsUsed, double secondsUsed);

// How a search on a board went.
struct TSearchOutcome {
  TSearchEnd End = TSearchEnd::Running;
  std::optional<TFailure> Failure;  // a run or a put-back that failed, or a stop
  int Writes = 0;
  double Seconds = 0;
};

// Runs the search on board within budget, telling progress a line for each run ("trial 3 of
// at most 40, P 0.4 I 0 D 0.002 b 0, step 200: settles in 31 samples, overshoot 2.1 %") and for
// each trial completed, with the best so far. Stops at the first run that fails.
TSearchOutcome RunGainSearch(TGainSearch& search, TTrialBoard& board, const TSearchBudget& budget,
                             const std::function<void(const QString&)>& progress);

// Returns "P 0.4 I 0 D 0.002 b 1".
QString SearchGainsCaption(const TSearchGains& gains);

// Returns the board's parameters with the gains of a search.
TPIDParams WithSearchGains(TPIDParams params, const TSearchGains& gains);

// The serial board through a write transaction: each run's gains written (only the values that
// change), a short wait for rest, the step test; runs and trials stored in history, the
// trials tied to the transaction's journal entry.
class TSessionTrialBoard : public TTrialBoard {
 public:
  // base: the board's parameters the gains are put into (FF1 as the search keeps it); step and
  // prediv: the search's step test; source: what the transaction says it writes, set here to
  // each trial's name ("the suggestion" for guess, "trial 3").
  TSessionTrialBoard(TBoardSession& session, TRunStore& history, TWriteTransaction& txn, TPIDParams base, int step,
                     int prediv, const TBoardHooks& hooks, QString* source, std::optional<TSearchGains> guess);

  TResult<TStepRecord> Run(const TPlannedRun& run) override;
  TResult<void> PutBack() override;
  TResult<void> Store(const TSearchRun& run, const TSearchTrial* completed) override;
  int Writes() const override;
  int WritesFor(const TSearchGains& gains) const override;
  double Seconds() const override { return double(FClock.nsecsElapsed()) / 1e9; }

  // Returns the runs stored, index-parallel to the search's runs.
  const std::vector<TStepRun>& StoredRuns() const { return FStored; }

 private:
  TBoardSession& FSession;
  TRunStore& FHistory;
  TWriteTransaction& FTxn;
  TPIDParams FBase;
  int FStep;
  int FPrediv;
  const TBoardHooks& FHooks;
  QString* FSource;
  std::optional<TSearchGains> FGuess;
  QElapsedTimer FClock;
  TStepRun FLast;
  std::vector<TStepRun> FStored;
};
