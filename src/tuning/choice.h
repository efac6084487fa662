#pragma once

// The gains suggest chooses from a board's records, whether they were just measured or taken
// from the history: the loop law checked, the motor fitted, what the records show beyond it
// read, and gains chosen for the step test on the fitted motor with the deadband and count jump
// those findings ask for.

#include <optional>
#include <string>
#include <vector>

#include "tuning/extras.h"
#include "tuning/identify.h"
#include "tuning/looplaw.h"
#include "tuning/suggest.h"

// The records of a board measured with one set of gains, in the order they were taken: the
// step tests the motor is fitted to, each with the loop's state before it, and a rest record
// (every cycle, the command left alone), when there is one.
struct TBoardRecords {
  std::vector<TStepRecord> Steps;
  std::optional<TStepRecord> Rest;
};

// The test the gains are chosen for.
struct TChoiceRequest {
  TPIDParams Present;  // the board's parameters, the gains the choice starts from
  double Step = 0;     // counts the command moves (the step times the step multiplier)
  int Prediv = 0;
  TTuningGoal Goal;
};

// What the choice found, or why it found nothing.
struct TChoice {
  std::vector<TLoopLawCheck> Law;  // the loop law checked on each step record
  TIdentification Identification;  // no motor when the law refused first
  TPlantExtras Extras;
  double Deadband = 0;             // the deadband the suggestion is chosen with and writes
  double CountJumpInForcePct = 0;  // the count jump the choice kept to
  TStepTestSetup Setup;            // the test the gains are chosen for, with the present gains
  TPrediction PresentPredicted;
  TSuggestion Suggestion;
  std::string Refusal;             // why nothing is suggested; empty when something is
  std::string Advice;              // what to try then
};

// Returns the loop's state after the records: where the next test starts once the suggestion
// is written. After a rest record, its start with the errors it summed into the integral and
// its last error; else the first step's start.
TStepStart StateAfter(const TBoardRecords& records);

// Chooses gains from the records: refuses a board whose outputs do not follow the loop law, a
// poor fit and ringing the model cannot produce; else fits the motor, reads the extras, sets
// the deadband against a noisy count (its flicker) or play (a count), holds the count jump to
// the rest limit against a noisy count, and chooses gains for the request's test started from
// StateAfter; where a hold on the count jump (against noise or glitches) is what leaves no
// gains, the refusal names it. The same records give the same choice.
TChoice ChooseGains(const TBoardRecords& records, const TChoiceRequest& request);
