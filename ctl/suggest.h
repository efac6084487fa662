#pragma once

// What zirv7ctl suggest finds and prints: the fitted motor, the present and the suggested
// gains with their predicted figures, and after --apply the verification.

#include <optional>
#include <vector>

#include "ctl/command.h"
#include "steprun/steprun.h"
#include "boardsession/paramswap.h"
#include "tuning/choice.h"
#include "tuning/extras.h"
#include "tuning/identify.h"
#include "tuning/looplaw.h"
#include "tuning/records.h"
#include "tuning/suggest.h"
#include "tuning/verdict.h"

// The board measured with one set of gains: a step forward, the step back, the loop at rest.
struct TBoardRuns {
  TStepRun Forward;
  TStepRun Reverse;
  TStepRun Rest;
  TStepStart ForwardStart;
  TStepStart ReverseStart;
  TStepStart RestStart;
};

// Returns the figures a verification judges of the runs.
TBoardFigures FiguresOf(const TBoardRuns& runs);

struct TSuggestReport {
  TTuningGoal Goal;
  TIdentification Identification;
  std::vector<TStepRun> Runs;  // the runs the motor was fitted to, in the order taken
  std::optional<TBoardRuns> Before;  // measured with the present gains on the board
  TPIDParams Present;          // the parameters the suggestion starts from
  TStepTestSetup Setup;        // the test the gains are chosen for, with the present gains
  std::vector<TLoopLawCheck> Law;  // the loop law checked on each fitted run
  TPlantExtras Extras;         // what the records show beyond the model
  double Deadband = 0;         // the deadband the suggestion is chosen with and writes
  double CountJumpInForcePct = 0;  // the count jump the choice kept to (less than asked where the count flickers)
  TPrediction PresentPredicted;
  TSuggestion Suggestion;
  QString Refusal;             // why nothing is suggested, when nothing is
  // After --apply:
  std::vector<TPlannedWrite> Writes;
  std::optional<TBoardRuns> After;  // the verification
  TPrediction AfterPredicted;     // predicted from the start the verification had
  std::vector<TFigureFailure> Failures;  // the figures that put the board back
  bool Kept = false;              // the suggestion stayed on the board
};

// Returns the board's parameters with the suggestion: its gains and its deadband.
TPIDParams SuggestedParams(const TSuggestReport& report);

// Returns a run made of a prediction, for pictures: like's step and prediv, the given
// parameters and label.
TStepRun PredictedRun(const TStepRun& like, const TPIDParams& params, const TPrediction& prediction,
                      const QString& label);

// Prints the fitted motor and how well it replays the runs (nothing when no fit was made),
// the loop-law check and what the records show beyond the model.
void PrintFit(TCtlIo& io, const TSuggestReport& report);

// Prints the present and suggested gains and the figures measured and predicted for them.
void PrintSuggestion(TCtlIo& io, const TSuggestReport& report);

// Prints the verification: the figures predicted for the suggestion against those measured.
void PrintVerification(TCtlIo& io, const TSuggestReport& report);

// Prints everything as one JSON object.
void PrintSuggestJson(TCtlIo& io, const TSuggestReport& report);

