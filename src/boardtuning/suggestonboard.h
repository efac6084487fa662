#pragma once

// zirv7ctl suggest as a procedure: the board measured with its present gains (or stored runs),
// the loop law checked, the motor fitted, gains chosen, and with apply the suggestion written,
// verified with new runs, and kept only when it does at least as well, all in one transaction
// of the board session.

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "boardsession/procedure.h"
#include "boardtuning/boardruns.h"
#include "boardtuning/boardsearch.h"
#include "runstore/runstore.h"
#include "tuning/extras.h"
#include "tuning/identify.h"
#include "tuning/looplaw.h"
#include "tuning/suggest.h"
#include "tuning/verdict.h"

// What suggest is asked to do.
struct TSuggestRequest {
  std::optional<int> Step;    // the step to measure with; none: that of the stored runs
  std::optional<int> Prediv;  // none: 0, or that of the stored runs
  TTuningGoal Goal;
  bool Apply = false;         // write the suggestion and verify it
  std::vector<TStepRun> History;  // stored runs to fit instead of new tests
  QString CommandLine;        // the command line as the journal keeps it
};

// The search on the board, when apply ran one: its trials and runs, how it ended, and what it
// kept to.
struct TBoardSearchReport {
  std::vector<TSearchTrial> Trials;
  std::vector<TStepRun> Runs;       // stored, index-parallel to the runs the trials name
  TSearchEnd End = TSearchEnd::Running;
  std::optional<TPIDParams> Kept;   // the parameters that stay on the board
  TSearchBounds Bounds;
  TSearchBudget Budget;
  int Writes = 0;                   // EEPROM writes made, the put-backs included
  double Seconds = 0;
};

// Everything suggest found and did, from which everything it says is printed.
struct TSuggestReport {
  TTuningGoal Goal;
  TIdentification Identification;
  std::vector<TStepRun> Runs;  // the step runs the motor was fitted to, in the order taken
  std::optional<TBoardRuns> Before;  // measured with the present gains on the board
  TPIDParams Present;          // the parameters the suggestion starts from
  TStepTestSetup Setup;        // the test the gains are chosen for, with the present gains
  std::vector<TLoopLawCheck> Law;  // the loop law checked on each fitted run
  TPlantExtras Extras;         // what the records show beyond the model
  double Deadband = 0;         // the deadband the suggestion is chosen with and writes
  double CountJumpInForcePct = 0;  // the count jump the choice kept to (less than asked where the count flickers)
  TPrediction PresentPredicted;
  TSuggestion Suggestion;
  // Why nothing is suggested, when nothing is, and what to try.
  QString Refusal;
  QString RefusalAdvice;
  // Why the procedure failed otherwise: a run that failed, an interruption before any write.
  std::optional<TFailure> Failure;
  // What apply writes, or would write: the suggestion, and the search's budget and bounds.
  TWritePlan Plan;
  // After apply:
  std::vector<TPlannedWrite> Writes;  // what the suggestion writes
  bool HeldAlready = false;           // the board holds the suggestion already: nothing to write
  bool Declined = false;              // the question was answered no: nothing was written
  std::optional<TBoardRuns> After;    // the verification
  TPrediction AfterPredicted;         // predicted from the start the verification had
  std::vector<TFigureFailure> Failures;  // the figures that put the board back
  bool Kept = false;                  // gains stayed on the board: the suggestion's or the search's
  std::optional<TBoardSearchReport> Search;  // the trials on the board, when apply made any
  TTransactionResult Transaction;     // the write of the suggestion, from its plan to its end

  // Returns whether suggest did what it was asked: a suggestion, and with apply one that stays.
  bool Succeeded(bool apply) const;
};

// What suggest asks of the program that runs it.
struct TSuggestHooks : TBoardHooks {
  // Told once the suggestion is chosen, before anything is written: what the user judges the
  // suggestion by (the fit, the suggestion beside the present gains, the predictions) is to be
  // shown now, before the question.
  std::function<void(const TSuggestReport& report)> Chosen;
};

// Runs suggest on the board of session (open, its values read), or, without one, on the
// stored runs of request.History alone. New runs are stored in history. Writes only with
// request.Apply, after hooks.Confirm, and never while the servo is disabled. The suggestion is
// tried first (a small step, then a step each way and a rest record); where the model cannot be
// trusted or the suggestion fails its verification, gains are searched on the board (see
// tuning/gainsearch.h) in the same transaction, each trial stored with the journal entry. Gains
// stay only when every figure of their verification is within the goal and none is worse than
// before; otherwise, on a trip of the servo, and on any failure or stop, the board gets its
// values back.
TSuggestReport SuggestGains(TBoardSession* session, TRunStore& history, const TSuggestRequest& request,
                            const TSuggestHooks& hooks);

// Returns the board's parameters with the suggestion: its gains and its deadband.
TPIDParams SuggestedParams(const TSuggestReport& report);

// Takes into the setup the gains a search starts from: the suggestion (the model's gains, with
// the deadband the trial uses) where there is one, else the model's guess (TakeModelGuessInto).
// Where the records show a glitch, the search holds its trials to its kick, and the suggestion,
// chosen without that hold, cut down to it keeps D's share and overshoots: the search starts
// from the model's gains within the hold (GoalAgainstGlitches), those that pull against the
// friction where some do, else its guess, or from the board's own gains where none is found.
void TakeFirstGuessInto(TSearchSetup& setup, const std::optional<TSearchGains>& suggested,
                        const TIdentification& identification, const TPlantExtras& extras, const TStepTestSetup& test);

// Returns a run made of a prediction, for pictures: like's step and prediv, the given
// parameters and label.
TStepRun PredictedRun(const TStepRun& like, const TPIDParams& params, const TPrediction& prediction,
                      const QString& label);
