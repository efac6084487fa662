// Gains chosen on a motor model: the goal met on the model and on the simulated board, the
// present gains kept when nothing beats them, and advice when nothing settles in the run.
#include <gtest/gtest.h>

#include "tests/tuning/boardrun.h"
#include "tuning/suggest.h"

namespace {

struct TSuggestCase {
  const char* Name;
  zirvsim::TMotorConstants Motor;
  int Step;
  int Prediv;
  double TargetOvershootPct;
};

void PrintTo(const TSuggestCase& c, std::ostream* out) { *out << c.Name; }

TMotorModel ModelOf(const zirvsim::TMotorConstants& m) {
  return {m.CountsPerSecondPerPercent, m.TimeConstant, m.FrictionPercent};
}

TStepTestSetup SetupFor(const TSuggestCase& c, const TPIDParams& params) {
  TStepTestSetup setup;
  setup.Loop = LoopSettings(params);
  setup.Step = c.Step;
  setup.Prediv = c.Prediv;
  return setup;
}

TStepFigures FiguresOf(const TStepRecord& r) {
  return ComputeStepFigures(r.Errors, r.Outputs, r.Setup.Step, r.Setup.Loop.MaxOutput);
}

const TSuggestCase kGoalCases[] = {
    {"default_motor", {2000, 0.015, 0.5, 0.02}, 200, 0, 5},
    {"no_overshoot_wanted", {2000, 0.015, 0.5, 0.02}, 200, 0, 0},
    {"fast_motor_large_step", {6000, 0.005, 0.3, 0.02}, 600, 0, 5},
    {"slow_motor_every_other_cycle", {600, 0.05, 1.0, 0.02}, -200, 1, 5},
    {"overshoot_allowed", {2000, 0.015, 0.5, 0.02}, 300, 0, 20},
};

class SuggestGoalTest : public testing::TestWithParam<TSuggestCase> {};

// The suggestion meets the goal on every mismatched model, and the simulated board (the same
// motor, with its disturbance) confirms it.
TEST_P(SuggestGoalTest, MeetsTheGoalOnTheModelAndOnTheBoard) {
  const TSuggestCase& c = GetParam();
  zirvsim::TBoardModel board(2, c.Motor);
  TTuningGoal goal;
  goal.TargetOvershootPct = c.TargetOvershootPct;
  const TSuggestion s = SuggestGains(ModelOf(c.Motor), SetupFor(c, ToRecord(board.Params())), goal);
  ASSERT_TRUE(s.Found) << s.Problem;
  EXPECT_FALSE(s.Unchanged);
  EXPECT_LE(s.Predicted.Figures.OvershootPct, c.TargetOvershootPct);
  EXPECT_LE(s.Predicted.WorstOvershootPct, c.TargetOvershootPct);
  ASSERT_TRUE(s.Predicted.WorstSettlingSamples.has_value());
  EXPECT_LE(*s.Predicted.Figures.SettlingSamples, *s.Predicted.WorstSettlingSamples);
  EXPECT_EQ(s.Gains.FF0, 0);

  SetGains(board, s.Gains.P, s.Gains.I, s.Gains.D);
  zirvsim::TBoardParams params = board.Params();
  params.FeedForward1 = s.Gains.FF1;
  board.SetParams(params);
  const TStepFigures measured = FiguresOf(RunOnBoard(board, c.Step, c.Prediv));
  ASSERT_TRUE(measured.SettlingSamples.has_value());
  EXPECT_NEAR(*measured.SettlingSamples, *s.Predicted.Figures.SettlingSamples, 2);
  EXPECT_LE(measured.OvershootPct, c.TargetOvershootPct + 1);
}

INSTANTIATE_TEST_SUITE_P(Tuning, SuggestGoalTest, testing::ValuesIn(kGoalCases),
                         [](const testing::TestParamInfo<TSuggestCase>& info) { return std::string(info.param.Name); });

// Suggested again for its own gains, the suggestion keeps them.
TEST(SuggestTest, KeepsPresentGainsWhenNothingSettlesSooner) {
  const TSuggestCase c = kGoalCases[0];
  TPIDParams params = ToRecord(zirvsim::TBoardParams{});
  const TSuggestion first = SuggestGains(ModelOf(c.Motor), SetupFor(c, params), {});
  ASSERT_TRUE(first.Found);
  params.P = first.Gains.P, params.I = first.Gains.I, params.D = first.Gains.D, params.FF1 = first.Gains.FF1;
  const TSuggestion again = SuggestGains(ModelOf(c.Motor), SetupFor(c, params), {});
  EXPECT_TRUE(again.Found);
  EXPECT_TRUE(again.Unchanged);
  EXPECT_EQ(again.Gains, first.Gains);
}

// A step the motor cannot even travel within the run: no gains can settle in it, and the
// advice names a prediv with which some do.
TEST(SuggestTest, AdvisesAPredivThatCoversTheSettling) {
  const TSuggestCase c{"", {600, 0.05, 1.0, 0}, 5000, 0, 5};
  TPIDParams params = ToRecord(zirvsim::TBoardParams{});
  params.FaultError = 0;  // no following-error trip
  const TSuggestion none = SuggestGains(ModelOf(c.Motor), SetupFor(c, params), {});
  ASSERT_FALSE(none.Found);
  EXPECT_EQ(none.Problem.rfind("no gains settle within the run", 0), 0u) << none.Problem;
  const std::string prefix = "try a prediv that covers the settling: --prediv ";
  ASSERT_EQ(none.Advice.rfind(prefix, 0), 0u) << none.Advice;
  TSuggestCase longer = c;
  longer.Prediv = std::stoi(none.Advice.substr(prefix.size()));
  EXPECT_TRUE(SuggestGains(ModelOf(c.Motor), SetupFor(longer, params), {}).Found);
}

// A step beyond the following-error limit switches the servo off at once: no gains help.
TEST(SuggestTest, NamesTheFaultErrorWhenTheStepExceedsIt) {
  const TSuggestCase c{"", {}, 1500, 0, 5};
  const TSuggestion none = SuggestGains(ModelOf(c.Motor), SetupFor(c, ToRecord(zirvsim::TBoardParams{})), {});
  EXPECT_FALSE(none.Found);
  EXPECT_EQ(none.Problem.rfind("the step is larger than \"Fault Error (f):\" (1000)", 0), 0u) << none.Problem;
}

}  // namespace
