#include "tuning/feedforward.h"

#include <algorithm>
#include <cmath>

namespace {

// A prediction must shrink the largest following error by at least this fraction to be worth
// an EEPROM write.
constexpr double kWorthwhile = 0.2;

double RoundSignificant(double value, int digits) {
  if (value == 0 || !std::isfinite(value)) return value;
  const double scale = std::pow(10.0, digits - 1 - int(std::floor(std::log10(std::abs(value)))));
  return std::round(value * scale) / scale;
}

double LargestError(const std::vector<double>& errors) {
  double largest = 0;
  for (double e : errors) largest = std::max(largest, std::abs(e));
  return largest;
}

}  // namespace

double FeedbackShare(const TPIDParams& params, const TAtSpeed& move) {
  return move.Output - params.FF1 * move.Speed - params.FF0 * move.Command;
}

double PredictedFollowingError(const TPIDParams& params, const TAtSpeed& move, double ff1) {
  const double share = FeedbackShare(params, move);
  if (share == 0) return move.Error;
  const double left = share - (ff1 - params.FF1) * move.Speed;
  return move.Error * left / share;
}

std::optional<TFeedForward> SuggestFeedForward(const TPIDParams& params, const std::vector<TAtSpeed>& moves,
                                               std::string* why) {
  auto refuse = [&](const char* reason) -> std::optional<TFeedForward> {
    if (why) *why = reason;
    return std::nullopt;
  };
  std::vector<double> before;
  double shareBySpeed = 0, speedSquared = 0;
  for (const TAtSpeed& m : moves) {
    before.push_back(m.Error);
    shareBySpeed += FeedbackShare(params, m) * m.Speed;
    speedSquared += m.Speed * m.Speed;
  }
  if (speedSquared == 0) return refuse("the axis did not move");
  if (LargestError(before) < kFollowingErrorFloor)
    return refuse("the following error lies within a count already");
  const double ff1 = RoundSignificant(params.FF1 + shareBySpeed / speedSquared, 3);
  if (ff1 == params.FF1) return refuse("FF1 carries the output at this speed already");
  TFeedForward result{ff1, {}};
  for (const TAtSpeed& m : moves) result.Errors.push_back(PredictedFollowingError(params, m, ff1));
  if (LargestError(result.Errors) > (1 - kWorthwhile) * LargestError(before))
    return refuse("a larger FF1 would not shrink the following error: the feedback share does not grow with the "
                  "speed");
  return result;
}
