#pragma once

#include <optional>
#include <string>

#include "stepfigures/stepfigures.h"
#include "tuning/loopmodel.h"
#include "tuning/motormodel.h"

// What the gains are chosen for: the shortest 2 % settling of the step test with overshoot at
// most TargetOvershootPct on the motor as fitted; with gain and time constant off by Mismatch
// (0.2: +/-20 %) either way the test must still settle, with overshoot at most
// TargetOvershootPct + CornerAllowancePct; and one count of error moves the output by at most
// MaxCountJumpPct of the output limit.
//
// Why an allowance at the mismatched motors: they are the edges of what the fit may be off by,
// not the motor expected. A board is judged the same way: its measured overshoot may pass the
// target by a few points, as no model matches a board exactly. Holding every edge to the full
// target instead buys margin the board is not asked for with settling time: on a fast motor it
// took 11 samples to settle where gains whose edges overshoot 7 % settle in 8.
//
// Why a cap on the count jump: the encoder reports whole counts, so a motor at rest on the edge
// of a count sees its error flicker by one, and every flicker swings the drive by P + I + D per
// servo period. A loop fast on paper with a large D turns that into a buzz and into heat in a
// motor standing still; the losses go with the square of the swing, so 65 % of the limit per
// count heats a flickering motor about ten times as much as 20 %. A fifth of the limit per
// count also leaves the loop a linear range of five counts or more, so friction and play, which
// the model does not hold, end in a small dither rather than a limit cycle between the output
// limits.
struct TTuningGoal {
  double TargetOvershootPct = 5;
  double Mismatch = 0.2;
  double CornerAllowancePct = 3;  // points of overshoot beyond the target at the mismatched motors
  double MaxCountJumpPct = 20;
  // Whether the gains must bring the motor within the steady-state goal (a count, or the
  // deadband) by the end of the step and of the step back, also against FrictionMarginPct more
  // friction than fitted; the choice falls back to a count more of deadband when none do.
  bool PullAgainstFriction = true;
  double FrictionMarginPct = 0.5;
};

// The most the output may move at rest, peak-to-peak, in % of "Max Output (m):": in a rest
// record, and in the settled tail of a step.
inline constexpr double kRestLimitPct = 10;

// Returns the most overshoot the goal allows the mismatched motors, in %.
double CornerOvershootLimitPct(const TTuningGoal& goal);

// The gains the suggestion chooses.
struct TGains {
  double P = 0;
  double I = 0;
  double D = 0;
  double FF0 = 0;
  double FF1 = 0;

  bool operator==(const TGains&) const = default;
};

// Returns whether the integral of the gains takes up a sum within the wait for rest after a
// write: its time constant, P x servo period / I, within a second.
bool SettlesWithinWait(const TGains& gains, double period);

// Returns the least I with which P takes up a sum within the wait for rest after a write.
double LeastIntegralWithinWait(double p, double period);

// Returns the gains as the window's fields show them (the parameter table's decimals), rounded
// to the nearest or, with towardsZero, towards 0: the values the companion may write, so that
// a Read in the window finds every field equal to the board's value.
TGains FieldGains(const TGains& gains, bool towardsZero = false);

// Returns the gains a loop runs with.
TGains GainsOf(const TLoopSettings& loop);

// Returns how far one more count of error moves the loop's output in the cycle it appears, as
// the board computes it (P + I + D / servo period), in % of the output limit; 0 when the limit
// is 0 and nothing moves.
double CountJumpPct(const TLoopSettings& loop);

// Returns the loop, or the board's parameters, with the given gains, the rest kept.
TLoopSettings WithGains(TLoopSettings loop, const TGains& gains);
TPIDParams WithGains(TPIDParams params, const TGains& gains);

// What the model predicts for a step test with some gains: the figures on the motor as
// fitted, and the worst settling and overshoot over the mismatched motors (gain and time
// constant each off by the goal's mismatch, both ways), run twice as long as the test: a motor
// a fifth slower may settle just after the test's end.
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
  double Deadband = 0;  // the deadband the gains are chosen and predicted with
  TPrediction Predicted;
  std::string Problem;  // when nothing meets the goal
  std::string Advice;
  std::string Note;     // a weakness of the gains found, for the report
};

// Chooses P, I, D and FF1 (FF0, the feed-forward of the absolute command position, only ever
// adds a constant drive to a step and is set to 0) for the step test of setup on the motor:
// the shortest settling on the fitted motor among the gains within the goal's count jump that
// keep the overshoot within the target there, and within the target and the corner allowance
// on every mismatched motor, settling on all of them (the mismatched ones within twice the
// run); ties go to the shorter worst settling, then, without a load or a deadband, to gains
// without I (an integral there may wind at rest, friction holding the motor a count off). On
// the fitted motor the step back, from where the step leaves loop and motor, must do as well,
// and neither may end with the output swinging beyond the rest limit in its settled tail (a
// count that comes and goes across the deadband kicks the output by D). Settling is judged a
// count inside the 2 % band (when the band spans two counts or more): the model cannot tell on
// which side of a count's edge the real motor comes to rest, and a response resting on the
// band's edge would settle or not by that count. The output is limited by the loop's "Max
// Output (m):" as on the board. Gains are rounded to three significant digits. The present
// gains (those of setup) are kept when they
// are within the count jump, meet the goal on the fitted motor and nothing found settles sooner
// there: a fit is least sure of a motor that a well-tuned loop barely lets move, and must not
// talk it out of them. Gains must bring the motor within the steady-state goal by the end of
// both runs, also with half a percent more friction than fitted; where none that meet the goal
// do, those that do with a count more of deadband come with it (when the settling band holds
// it), and otherwise there is no suggestion. Where a spring from a knee on lets go of the motor
// at the step back's end, that step must not come to rest past its target either: nothing holds
// back what is left of the sum that held the spring. Each test starts from where the board will be
// once the gains are written: the integral's sum the board keeps, settled to hold what held the
// motor where the new integral does that within the wait for rest (and, without a load, where
// the kept sum under the new I pushes no further than friction from what held the motor).
TSuggestion SuggestGains(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal);
