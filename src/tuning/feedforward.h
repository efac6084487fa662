#pragma once

// FF1, the feed-forward of the command's speed, worked out from moves at constant speed by the
// board's loop law. At a constant speed the motor needs the same drive whatever the gains; the
// loop law splits the output the board gave into FF1 x speed, FF0 x command and the feedback
// share P x error + I x integral (+ D x the error's change, nothing at a steady error). A
// larger FF1 takes part of the feedback share off the error terms, and the following error
// shrinks in proportion: with P alone it is exactly the feedback share over P.

#include <optional>
#include <string>
#include <vector>

#include "globals/records.h"

// What one move at constant speed showed, over its samples after the error settled.
struct TAtSpeed {
  double Speed = 0;    // counts per second, measured from the command
  double Error = 0;    // mean following error, counts
  double Output = 0;   // mean output, % of full drive
  double Command = 0;  // mean command, counts (what FF0 multiplies)
};

// FF1 suggested for the moves, and the following error predicted with it.
struct TFeedForward {
  double FF1 = 0;              // the value to write, as the window's field shows it
  std::vector<double> Errors;  // the mean following error predicted for each move
};

// The following error below which FF1 is not suggested: the encoder counts whole counts, and a
// mean within a count is as close as the loop can follow.
inline constexpr double kFollowingErrorFloor = 1.0;

// Returns the feedback share of a move's output by the loop law: output - FF1 x speed - FF0 x
// command.
double FeedbackShare(const TPIDParams& params, const TAtSpeed& move);

// Returns the following error the move would show with FF1 set to ff1 instead of params.FF1.
double PredictedFollowingError(const TPIDParams& params, const TAtSpeed& move, double ff1);

// Returns the FF1 that carries the feedback share of the moves (least squares over their
// speeds, to three significant digits) with the errors it predicts, or nothing, with why in
// *why, when no FF1 would shrink the following error: it lies within kFollowingErrorFloor
// already, the moves did not move, or the share does not grow with the speed.
std::optional<TFeedForward> SuggestFeedForward(const TPIDParams& params, const std::vector<TAtSpeed>& moves,
                                               std::string* why = nullptr);
