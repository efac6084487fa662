// The figures of a step response against synthetic responses whose answers are known.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "stepfigures/stepfigures.h"

namespace {

constexpr int kSamples = 199;
constexpr double kSkip = std::numeric_limits<double>::quiet_NaN();  // not checked
constexpr double kNull = std::numeric_limits<double>::infinity();   // must be empty

// A synthetic position response y(k) for a step of +1; the case scales and mirrors it.
using TShape = std::function<double(int k)>;

double FirstOrder(int k, double tau) { return 1 - std::exp(-k / tau); }

// The unit step response of a second-order system with damping zeta and natural frequency wn
// (radians per sample).
double SecondOrder(int k, double zeta, double wn) {
  const double wd = wn * std::sqrt(1 - zeta * zeta);
  return 1 - std::exp(-zeta * wn * k) / std::sqrt(1 - zeta * zeta) * std::sin(wd * k + std::acos(zeta));
}

double TextbookOvershoot(double zeta) {
  return 100 * std::exp(-zeta * std::numbers::pi / std::sqrt(1 - zeta * zeta));
}

struct TFigureCase {
  const char* Name;
  TShape Shape;
  double Step;
  double OutputPeak;  // outputs ramp from 0 to this (signed) and back
  double MaxOutput;
  double Rise;        // samples; kNull, kSkip
  double Overshoot;   // %
  double PeakSample;  // kSkip
  double Settling;    // kNull, kSkip
  double SteadyState;  // kSkip
  double Iae;         // kSkip
  bool Saturated;
  double Tolerance;   // of Rise and Overshoot
};

const double kLn9 = std::log(9.0);

const TFigureCase kCases[] = {
    // exp(-k/20) <= 2 % from k = 20 ln 50 = 78.2 on: 79 is the first sample inside.
    {"first_order_rise_is_ln9_tau", [](int k) { return FirstOrder(k, 20); }, 100, 50, 95,
     20 * kLn9, 0, kSamples - 1, 79, kSkip, kSkip, false, 0.05},
    {"first_order_slow_rise_is_ln9_tau", [](int k) { return FirstOrder(k, 40); }, 250, 50, 95,
     40 * kLn9, 0, kSamples - 1, 157, kSkip, kSkip, false, 0.05},
    {"negative_step_is_mirrored", [](int k) { return FirstOrder(k, 20); }, -100, -50, 95,
     20 * kLn9, 0, kSamples - 1, 79, kSkip, kSkip, false, 0.05},
    {"second_order_zeta_0.2_overshoot", [](int k) { return SecondOrder(k, 0.2, 0.1); }, 100, 50,
     95, kSkip, TextbookOvershoot(0.2), std::round(std::numbers::pi / (0.1 * std::sqrt(1 - 0.04))),
     kSkip, kSkip, kSkip, false, 0.05},
    {"second_order_zeta_0.5_overshoot", [](int k) { return SecondOrder(k, 0.5, 0.1); }, 100, 50,
     95, kSkip, TextbookOvershoot(0.5), kSkip, kSkip, kSkip, kSkip, false, 0.05},
    {"negative_second_order_overshoot", [](int k) { return SecondOrder(k, 0.5, 0.1); }, -100,
     -50, 95, kSkip, TextbookOvershoot(0.5), kSkip, kSkip, kSkip, kSkip, false, 0.05},
    {"undamped_never_settles", [](int k) { return 1 - std::cos(0.2 * k); }, 100, 50, 95, kSkip,
     100, kSkip, kNull, kSkip, kSkip, false, 0.5},
    // The motor never moves: the error stays at the step throughout.
    {"flat_response", [](int) { return 0.0; }, 100, 0, 95, kNull, 0, 0, kNull, 100,
     100.0 * kSamples, false, 0},
    {"stuck_short_of_the_band", [](int k) { return 0.97 * FirstOrder(k, 5); }, 100, 50, 95,
     kSkip, 0, kSkip, kNull, 3, kSkip, false, 0},
    // 98.5 (1 - exp(-k/5)) reaches 98 from k = 5 ln 197 = 26.4 on.
    {"within_the_band_settles", [](int k) { return 0.985 * FirstOrder(k, 5); }, 100, 50, 95,
     kSkip, 0, kSkip, 27, 1.5, kSkip, false, 0},
    {"output_at_the_limit_saturates", [](int k) { return FirstOrder(k, 20); }, 100, 95, 95,
     kSkip, 0, kSkip, kSkip, kSkip, kSkip, true, 0},
    {"negative_output_at_the_limit_saturates", [](int k) { return FirstOrder(k, 20); }, -100,
     -95, 95, kSkip, 0, kSkip, kSkip, kSkip, kSkip, true, 0},
    {"output_below_the_limit", [](int k) { return FirstOrder(k, 20); }, 100, 94.9, 95, kSkip, 0,
     kSkip, kSkip, kSkip, kSkip, false, 0},
};

class StepFiguresTest : public testing::TestWithParam<TFigureCase> {};

TEST_P(StepFiguresTest, KnownAnswers) {
  const TFigureCase& c = GetParam();
  std::vector<double> errors, outputs;
  for (int k = 0; k < kSamples; ++k) {
    errors.push_back(c.Step - c.Step * c.Shape(k));
    outputs.push_back(c.OutputPeak * std::sin(std::numbers::pi * k / (kSamples - 1)));
  }
  const TStepFigures f = ComputeStepFigures(errors, outputs, c.Step, c.MaxOutput);

  if (c.Rise == kNull) {
    EXPECT_FALSE(f.RiseSamples.has_value());
  } else if (!std::isnan(c.Rise)) {
    ASSERT_TRUE(f.RiseSamples.has_value());
    EXPECT_NEAR(*f.RiseSamples, c.Rise, c.Rise * c.Tolerance / 100 + 1e-9);
  }
  EXPECT_NEAR(f.OvershootPct, c.Overshoot, c.Tolerance + 1e-9);
  if (!std::isnan(c.PeakSample)) {
    EXPECT_EQ(f.PeakSample, int(c.PeakSample));
  }
  if (c.Settling == kNull) {
    EXPECT_FALSE(f.SettlingSamples.has_value());
  } else if (!std::isnan(c.Settling)) {
    EXPECT_EQ(f.SettlingSamples.value_or(-1), int(c.Settling));
  }
  if (!std::isnan(c.SteadyState)) {
    EXPECT_NEAR(f.SteadyStateError, c.SteadyState, 0.05);
  }
  if (!std::isnan(c.Iae)) {
    EXPECT_NEAR(f.Iae, c.Iae, 1e-6);
  }
  EXPECT_NEAR(f.PeakOutput, std::fabs(c.OutputPeak), 0.01);
  EXPECT_EQ(f.Saturated, c.Saturated);
}

INSTANTIATE_TEST_SUITE_P(Figures, StepFiguresTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TFigureCase>& info) {
                           std::string name = info.param.Name;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

// The mean error over the last 10 % keeps the error's sign in the step's direction: a response
// that stops short has a positive figure for either direction.
TEST(StepFigures, SteadyStateErrorIsMirroredWithTheStep) {
  std::vector<double> forward(kSamples, 4.0), reverse(kSamples, -4.0);
  EXPECT_DOUBLE_EQ(ComputeStepFigures(forward, {}, 100, 95).SteadyStateError, 4.0);
  EXPECT_DOUBLE_EQ(ComputeStepFigures(reverse, {}, -100, 95).SteadyStateError, 4.0);
}

// Only the last 10 % count (20 of 199 samples, rounded up).
TEST(StepFigures, SteadyStateErrorTakesTheLastTenthOnly) {
  std::vector<double> errors(kSamples, 50.0);
  for (int k = kSamples - 20; k < kSamples; ++k) errors[k] = 1.0;
  EXPECT_DOUBLE_EQ(ComputeStepFigures(errors, {}, 100, 95).SteadyStateError, 1.0);
}

TEST(StepFigures, EmptyRunGivesDefaults) {
  const TStepFigures none = ComputeStepFigures({}, {}, 100, 95);
  EXPECT_FALSE(none.RiseSamples.has_value());
  EXPECT_FALSE(none.Saturated);
  EXPECT_FALSE(none.RestOutputPpPct.has_value());
}

// A record with a step of 0 is the loop at rest: no response figures, and the whole record is
// the tail its rest figures are taken from.
TEST(StepFigures, ZeroStepIsARestRecord) {
  std::vector<double> errors(kSamples, 0.0), outputs(kSamples, 0.0);
  errors[3] = 1, errors[7] = -1;       // one count each way: 2 counts peak-to-peak
  outputs[3] = 19, outputs[7] = -19;   // 38 % of 95 % is 40 % of the limit
  const TStepFigures f = ComputeStepFigures(errors, outputs, 0, 95);
  EXPECT_FALSE(f.RiseSamples.has_value());
  EXPECT_FALSE(f.SettlingSamples.has_value());
  EXPECT_EQ(f.OvershootPct, 0);
  EXPECT_DOUBLE_EQ(f.Iae, 2);
  EXPECT_DOUBLE_EQ(f.PeakOutput, 19);
  EXPECT_DOUBLE_EQ(*f.RestOutputPpPct, 40);
  EXPECT_DOUBLE_EQ(*f.RestErrorPp, 2);
}

struct TRestCase {
  const char* Name;
  int SettleAt;        // the response jumps onto the target here
  int FlickerFrom;     // from here on the error flickers 0/1 and the output +-Swing
  double Swing;
  double MaxOutput;
  double OutputPpPct;  // kNull: no tail to judge by
  double ErrorPp;
};

// The rest figures come from the settled tail only: the last quarter (50 of 199 samples) when
// the run settled before it, from settling on when later, nothing when that leaves fewer than
// 20 samples or the run never settles. A flicker before the tail does not count.
TEST(StepFigures, RestFiguresTakeTheSettledTail) {
  const TRestCase cases[] = {
      {"quiet_tail", 20, kSamples, 0, 95, 0, 0},
      {"flicker_in_the_tail_in_pct_of_the_limit", 20, 160, 9.5, 95, 20, 1},
      {"flicker_only_before_the_tail", 20, 100, 9.5, 95, 0, 0},
      {"late_settling_tail_from_settling_on", 170, 170, 5, 100, 10, 1},
      {"too_late_to_judge", 185, 185, 5, 100, kNull, kNull},
      {"limit_unknown_counts_as_100", 20, 160, 10, 0, 20, 1},
  };
  for (const TRestCase& c : cases) {
    std::vector<double> errors(kSamples), outputs(kSamples);
    for (int k = 0; k < kSamples; ++k) {
      const bool flicker = k >= c.FlickerFrom && k < (c.FlickerFrom == 100 ? 140 : kSamples);
      errors[k] = k < c.SettleAt ? 100 : (flicker && k % 2 ? 1 : 0);
      outputs[k] = k < c.SettleAt ? 50 : (flicker ? (k % 2 ? c.Swing : -c.Swing) : 0);
    }
    const std::optional<double> limit = c.MaxOutput > 0 ? std::optional(c.MaxOutput) : std::nullopt;
    const TStepFigures f = ComputeStepFigures(errors, outputs, 100, limit);
    if (c.OutputPpPct == kNull) {
      EXPECT_FALSE(f.RestOutputPpPct.has_value()) << c.Name;
      EXPECT_FALSE(f.RestErrorPp.has_value()) << c.Name;
      continue;
    }
    ASSERT_TRUE(f.RestOutputPpPct.has_value()) << c.Name;
    EXPECT_NEAR(*f.RestOutputPpPct, c.OutputPpPct, 1e-9) << c.Name;
    EXPECT_DOUBLE_EQ(*f.RestErrorPp, c.ErrorPp) << c.Name;
  }
}

TEST(StepFigures, TimesAreSamplesTimesThePeriod) {
  TStepFigures f;
  f.RiseSamples = 10.5;
  f.PeakSample = 30;
  const TStepTimes t = StepTimes(f, 0.4);
  EXPECT_DOUBLE_EQ(*t.RiseMs, 4.2);
  EXPECT_DOUBLE_EQ(t.PeakMs, 12.0);
  EXPECT_FALSE(t.SettlingMs.has_value());
}

}  // namespace
