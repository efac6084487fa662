#include "sim/plant.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/board.h"

using namespace zirvsim;

namespace {

// The step response of the servo loop on the motor, as the board's step test runs it.
struct TStepResult {
  int64_t MaxFeedback = INT64_MIN;
  double FinalError = 0;
};

TStepResult RunStep(double p, double i, double d, int64_t step = 100, int cycles = 400) {
  TServoGains gains;
  gains.P = p;
  gains.I = i;
  gains.D = d;
  gains.MaxOutput = 95;
  TMotorPlant motor(1);
  TServoLoop loop;
  TStepResult result;
  for (int n = 0; n < cycles; ++n) {
    motor.Step(loop.Cycle(gains, step, motor.EncoderCounts(), 0.0004), 0.0004);
    result.MaxFeedback = std::max(result.MaxFeedback, loop.State().Feedback);
  }
  result.FinalError = loop.State().Error;
  return result;
}

const TBoardParams kDefaults;

TEST(StepResponseTest, DefaultGainsReachTheCommandedStep) {
  const TStepResult r = RunStep(kDefaults.P, kDefaults.I, kDefaults.D);
  EXPECT_GE(r.MaxFeedback, 100);
  EXPECT_LE(std::abs(r.FinalError), 5);
}

TEST(StepResponseTest, HigherProportionalGainOvershootsMore) {
  const TStepResult normal = RunStep(kDefaults.P, kDefaults.I, kDefaults.D);
  const TStepResult high = RunStep(kDefaults.P * 5, kDefaults.I, kDefaults.D);
  EXPECT_GT(high.MaxFeedback - 100, 2 * (normal.MaxFeedback - 100));
}

TEST(StepResponseTest, DerivativeGainDampsTheOvershoot) {
  const TStepResult damped = RunStep(kDefaults.P, kDefaults.I, kDefaults.D);
  const TStepResult undamped = RunStep(kDefaults.P, kDefaults.I, 0);
  EXPECT_GT(undamped.MaxFeedback, damped.MaxFeedback + 20);
}

TEST(MotorPlantTest, StictionHoldsAgainstADriveBelowFriction) {
  TMotorPlant motor(1, {2000, 0.015, 0.5, 0});
  for (int n = 0; n < 1000; ++n) motor.Step(0.4, 0.0004);
  EXPECT_EQ(motor.Position(), 0);
  for (int n = 0; n < 1000; ++n) motor.Step(0.6, 0.0004);
  EXPECT_GT(motor.Position(), 0);
}

TEST(MotorPlantTest, FullDriveApproachesNoLoadSpeedLessFriction) {
  TMotorPlant motor(1, {2000, 0.015, 0.5, 0});
  for (int n = 0; n < 2500; ++n) motor.Step(100, 0.0004);  // 1 s = many time constants
  EXPECT_NEAR(motor.Velocity(), 2000 * 99.5, 50);
}

TEST(MotorPlantTest, FrictionStopsACoastingMotorWithoutReversing) {
  TMotorPlant motor(1, {2000, 0.015, 0.5, 0});
  for (int n = 0; n < 250; ++n) motor.Step(50, 0.0004);
  for (int n = 0; n < 2500; ++n) motor.Step(0, 0.0004);
  EXPECT_EQ(motor.Velocity(), 0);
}

TEST(ServoLoopTest, OutputIsHeldAtTheLimitAndReportedAsLimiting) {
  TServoGains gains;
  gains.P = 10;
  gains.MaxOutput = 40;
  TServoLoop loop;
  EXPECT_EQ(loop.Cycle(gains, -100, 0, 0.0004), -40);
  EXPECT_EQ(loop.State().LimitState, 1);
  EXPECT_EQ(loop.State().ErrorI, 0);  // no wind-up while limited
}

TEST(ServoLoopTest, DeadbandHidesSmallErrors) {
  TServoGains gains;
  gains.P = 1;
  gains.Deadband = 3;
  TServoLoop loop;
  EXPECT_EQ(loop.Cycle(gains, 3, 0, 0.0004), 0);
  EXPECT_EQ(loop.Cycle(gains, 4, 0, 0.0004), 4);
}

TEST(ServoLoopTest, FeedForwardFollowsCommandVelocity) {
  TServoGains gains;
  gains.FeedForward1 = 0.001;
  TServoLoop loop;
  loop.Cycle(gains, 0, 0, 0.001);
  EXPECT_DOUBLE_EQ(loop.Cycle(gains, 10, 10, 0.001), 10.0);  // 10,000 counts/s x 0.001
}

}  // namespace
