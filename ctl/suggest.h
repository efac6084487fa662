#pragma once

// What zirv7ctl suggest finds and prints: the fitted motor, the present and the suggested
// gains with their predicted figures, and after --apply the verification.

#include <optional>
#include <vector>

#include "ctl/command.h"
#include "steprun/steprun.h"
#include "boardsession/paramswap.h"
#include "tuning/identify.h"
#include "tuning/suggest.h"

struct TSuggestReport {
  TTuningGoal Goal;
  TIdentification Identification;
  std::vector<TStepRun> Runs;  // the runs the motor was fitted to; the last is "before"
  TPIDParams Present;          // the parameters the suggestion starts from
  TStepTestSetup Setup;        // the test the gains are chosen for, with the present gains
  TPrediction PresentPredicted;
  TSuggestion Suggestion;
  // After --apply:
  std::vector<TPlannedWrite> Writes;
  std::optional<TStepRun> After;  // the verification run
  TPrediction AfterPredicted;     // predicted from the start the verification had
  bool Kept = false;              // the suggestion stayed on the board
};

// Returns a run as the fit reads it, with the loop's state before it.
TStepRecord RecordOf(const TStepRun& run, const TStepStart& start);

// Returns a run made of a prediction, for pictures: like's step and prediv, the given
// parameters and label.
TStepRun PredictedRun(const TStepRun& like, const TPIDParams& params, const TPrediction& prediction,
                      const QString& label);

// Prints the fitted motor and how well it replays the runs (nothing when no fit was made).
void PrintFit(TCtlIo& io, const TSuggestReport& report);

// Prints the present and suggested gains and the figures measured and predicted for them.
void PrintSuggestion(TCtlIo& io, const TSuggestReport& report);

// Prints the verification: the figures predicted for the suggestion against those measured.
void PrintVerification(TCtlIo& io, const TSuggestReport& report);

// Prints everything as one JSON object.
void PrintSuggestJson(TCtlIo& io, const TSuggestReport& report);

// Returns the measured figures' verdict on the goal: settles, overshoot within the target.
bool MeetsGoal(const TStepFigures& figures, const TTuningGoal& goal);
