// The loop model against the simulated board: the same motor and gains must give the same
// step test, sample by sample, within the count or two that the board's disturbance and its
// own integration steps may add.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/tuning/boardrun.h"
#include "tuning/loopmodel.h"

namespace {

struct TReplayCase {
  const char* Name;
  zirvsim::TMotorConstants Motor;
  zirvsim::TBoardParams Params;
  int Step;
  int Prediv;
};

zirvsim::TBoardParams With(double p, double i, double d, double deadband = 0, double maxOutput = 95,
                           double ff1 = 0, int ticks = 4) {
  zirvsim::TBoardParams params;
  params.P = p;
  params.I = i;
  params.D = d;
  params.Deadband = deadband;
  params.MaxOutput = maxOutput;
  params.FeedForward1 = ff1;
  params.TicksPerServo = ticks;
  return params;
}

const zirvsim::TMotorConstants kDefault, kFast{6000, 0.005, 0.3}, kSlow{600, 0.05, 1.0};

const TReplayCase kReplayCases[] = {
    {"default_board", kDefault, zirvsim::TBoardParams{}, 200, 0},
    {"negative_step", kDefault, zirvsim::TBoardParams{}, -150, 0},
    {"prediv_samples_every_third_cycle", kSlow, With(0.2, 0.0002, 0.004), 200, 2},
    {"fast_motor_oscillating", kFast, With(0.6, 0, 0.0001), 200, 0},
    {"saturated_with_integral_held", kDefault, With(2, 0.002, 0.001, 0, 30), 400, 0},
    {"deadband_reports_zero", kDefault, With(0.1, 0, 0.001, 5), 100, 0},
    {"velocity_feed_forward_kick", kDefault, With(0.1, 0, 0.0005, 0, 95, 0.0002), 200, 0},
    {"longer_servo_period", kSlow, With(0.1, 0.0005, 0.003, 0, 95, 0, 10), 300, 1},
    {"no_noise_no_friction", {2000, 0.015, 0, 0}, zirvsim::TBoardParams{}, 200, 0},
};

void PrintTo(const TReplayCase& c, std::ostream* out) { *out << c.Name; }

// How far apart two reported errors put the motor: an error inside the deadband is reported
// as 0 and only says that the motor is within the band.
double PositionGap(double a, double b, double deadband) {
  if (deadband > 0 && (a == 0) != (b == 0)) return std::max(0.0, std::abs(a + b) - deadband);
  return std::abs(a - b);
}

class LoopReplayTest : public testing::TestWithParam<TReplayCase> {};

TEST_P(LoopReplayTest, ReplaysTheBoardWithinTwoCounts) {
  const TReplayCase& c = GetParam();
  zirvsim::TBoardModel board(3, c.Motor);
  board.SetParams(c.Params);
  board.RunFor(0.05);  // let the loop settle on its start
  const TStepRecord run = RunOnBoard(board, c.Step, c.Prediv);
  ASSERT_EQ(run.Errors.size(), 199u);
  const TStepSamples model = SimulateStepTest({c.Motor.CountsPerSecondPerPercent, c.Motor.TimeConstant,
                                               c.Motor.FrictionPercent}, run.Setup);
  double worst = 0;
  for (size_t k = 0; k < run.Errors.size(); ++k)
    worst = std::max(worst, PositionGap(model.Errors[k], run.Errors[k], c.Params.Deadband));
  EXPECT_LE(worst, 2) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(Tuning, LoopReplayTest, testing::ValuesIn(kReplayCases),
                         [](const testing::TestParamInfo<TReplayCase>& info) { return std::string(info.param.Name); });

}  // namespace
