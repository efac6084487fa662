#pragma once

#include <optional>
#include <string>
#include <vector>

#include "stepfigures/stepfigures.h"
#include "tuning/suggest.h"

// What a user feels of a loop, measured on the board: a step forward, the step back, and a rest
// record (a step of 0), each with its figures.
struct TBoardFigures {
  TStepFigures Forward;
  TStepFigures Reverse;
  std::optional<TStepFigures> Rest;
};

// Returns the rest figure of the loop: the largest output peak-to-peak of the rest record and
// the steps' settled tails (those that have one); empty when none has.
std::optional<double> RestOutputPpPct(const TBoardFigures& figures);

// One figure that keeps new gains from staying on the board: which, of which run, before and
// after, and why ("beyond the goal", "worse than before").
struct TFigureFailure {
  std::string Run;     // "forward", "reverse", "rest"
  std::string Figure;  // "settling", "overshoot", "steady-state error", "IAE", "rest peak-to-peak"
  std::string Text;    // the whole sentence
};

// Returns the figures of after that are worse than the same of before: a later settling (by
// more than a sample, or none where before settled), a larger IAE (by more than 5 % and a
// count; not where before's run never settled and after's did: a swinging loop's IAE is
// where in its swing the step began), or a larger overshoot, steady-state error or rest figure
// where the goal is missed.
std::vector<TFigureFailure> WorseFigures(const TBoardFigures& before, const TBoardFigures& after,
                                         const TTuningGoal& goal, double deadband);

// Judges a verification: new gains stay only when every figure of the forward and reverse
// steps (settling, overshoot within the target and the corner allowance, steady-state error of
// at most one count or the deadband) and the rest (output peak-to-peak within kRestLimitPct)
// is within the goal, and none is worse than the same figure with the old gains: a later
// settling (by more than a sample), a larger IAE (by more than 5 % and a count, where before's
// run settled or after's did not), or a larger overshoot, steady-state error or rest figure
// where the goal is missed. Returns the failures,
// none when the gains may stay.
std::vector<TFigureFailure> JudgeVerification(const TBoardFigures& before, const TBoardFigures& after,
                                              const TTuningGoal& goal, double deadband);

// Returns the figures of a step, the step back and a rest record (where there is one) that are
// beyond the goal, as JudgeVerification finds them, with nothing to compare them with: what
// gains missed that were never verified. None where every figure is within the goal.
std::vector<TFigureFailure> FiguresBeyondGoal(const TBoardFigures& figures, const TTuningGoal& goal, double deadband);

// Judges a verification of several steps each way, taken in turn: each pair (the k-th step
// and the k-th step back, with the one rest record) as JudgeVerification does, and, where
// restMarginPct is given, every rest figure within it as well: a loop whose one count beyond the
// deadband moves the output by more than a rest may hunts across the deadband or not depending
// on where the motor stops, so a record that showed the output moving at all at rest tells
// that another may show it hunting. Returns each failure once (the first pair's text), none
// when the gains may stay.
std::vector<TFigureFailure> JudgeVerifications(const TBoardFigures& before, const std::vector<TBoardFigures>& afters,
                                               const TTuningGoal& goal, double deadband,
                                               std::optional<double> restMarginPct = std::nullopt);
