#pragma once

#include <optional>
#include <string>

#include "stepfigures/stepfigures.h"
#include "tuning/loopmodel.h"
#include "tuning/motormodel.h"

// What the gains are chosen for: the shortest 2 % settling of the step test with overshoot at
// most TargetOvershootPct, also when gain and time constant of the motor are off by Mismatch
// (0.2: +/-20 %) either way.
struct TTuningGoal {
  double TargetOvershootPct = 5;
  double Mismatch = 0.2;
};

// The gains the suggestion chooses.
struct TGains {
  double P = 0;
  double I = 0;
  double D = 0;
  double FF0 = 0;
  double FF1 = 0;

  bool operator==(const TGains&) const = default;
};

// Returns the gains a loop runs with.
TGains GainsOf(const TLoopSettings& loop);

// Returns the loop, or the board's parameters, with the given gains, the rest kept.
TLoopSettings WithGains(TLoopSettings loop, const TGains& gains);
TPIDParams WithGains(TPIDParams params, const TGains& gains);

// What the model predicts for a step test with some gains: the figures on the motor as
// fitted, and the worst settling and overshoot over the mismatched motors (gain and time
// constant each off by the goal's mismatch, both ways).
struct TPrediction {
  TStepSamples Samples;  // the test on the fitted motor
  TStepFigures Figures;
  std::optional<int> WorstSettlingSamples;  // empty when one of them never settles
  double WorstOvershootPct = 0;
};

// Predicts the step test of setup (its gains, step, prediv and start) on the motor.
TPrediction PredictStepTest(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal);

// The chosen gains with the prediction for them, or why there are none.
struct TSuggestion {
  bool Found = false;
  bool Unchanged = false;  // the present gains are kept: nothing found settles sooner
  TGains Gains;
  TPrediction Predicted;
  std::string Problem;  // when nothing meets the goal
  std::string Advice;
};

// Chooses P, I, D and FF1 (FF0, the feed-forward of the absolute command position, only ever
// adds a constant drive to a step and is set to 0) for the step test of setup on the motor:
// the shortest settling on the fitted motor among the gains that keep the overshoot within the
// target and settle within the run on every mismatched motor; ties go to the shorter worst
// settling. The output is limited by the loop's "Max Output (m):" as on the board. Gains are
// rounded to three significant digits. The present gains (those of setup) are kept when they
// meet the goal on the fitted motor and nothing found settles sooner there: a fit is least
// sure of a motor that a well-tuned loop barely lets move, and must not talk it out of them.
TSuggestion SuggestGains(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal);
