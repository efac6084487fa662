// The verification's judgement of every figure, and what the records show beyond the model.
#include "tuning/verdict.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/tuning/boardrun.h"
#include "tuning/extras.h"
#include "tuning/records.h"

namespace {

TStepFigures Good() {
  TStepFigures f;
  f.SettlingSamples = 20;
  f.OvershootPct = 2;
  f.SteadyStateError = 0.5;
  f.Iae = 3000;
  f.RestOutputPpPct = 2;
  return f;
}

TBoardFigures Board(TStepFigures forward, TStepFigures reverse, std::optional<double> restPp) {
  TStepFigures rest;
  rest.RestOutputPpPct = restPp;
  return {forward, reverse, rest};
}

struct TJudgeCase {
  const char* Name;
  TBoardFigures After;
  const char* FailingFigure;  // nullptr: the gains stay
};

// Before: settles at 30, IAE 4000, quiet at rest. Each case spoils one figure of the new gains.
TEST(VerdictTest, EveryFigureCanPutTheBoardBack) {
  TStepFigures before = Good();
  before.SettlingSamples = 30;
  before.Iae = 4000;
  const TBoardFigures old = Board(before, before, 3);
  const auto with = [](auto change) {
    TStepFigures f = Good();
    change(f);
    return f;
  };
  const TJudgeCase cases[] = {
      {"all_within_and_better", Board(Good(), Good(), 4), nullptr},
      {"only_the_rest_figure_fails", Board(Good(), Good(), 36), "rest peak-to-peak"},
      {"the_rest_of_a_tail_fails", Board(with([](TStepFigures& f) { f.RestOutputPpPct = 20; }), Good(), 4),
       "rest peak-to-peak"},
      {"reverse_never_settles", Board(Good(), with([](TStepFigures& f) { f.SettlingSamples.reset(); }), 4), "settling"},
      {"settles_later", Board(with([](TStepFigures& f) { f.SettlingSamples = 32; }), Good(), 4), "settling"},
      {"overshoot_beyond_the_corner_allowance", Board(with([](TStepFigures& f) { f.OvershootPct = 8.5; }), Good(), 4),
       "overshoot"},
      {"friction_holds_it_off_target", Board(Good(), with([](TStepFigures& f) { f.SteadyStateError = -4; }), 4),
       "steady-state error"},
      {"iae_worse", Board(with([](TStepFigures& f) { f.Iae = 43263; }), Good(), 4), "IAE"},
  };
  for (const TJudgeCase& c : cases) {
    const std::vector<TFigureFailure> failures = JudgeVerification(old, c.After, {}, 0);
    if (!c.FailingFigure) {
      EXPECT_TRUE(failures.empty()) << c.Name << ": " << failures.front().Text;
      continue;
    }
    ASSERT_EQ(failures.size(), 1u) << c.Name;
    EXPECT_EQ(failures[0].Figure, c.FailingFigure) << c.Name;
  }
  // A deadband of 4 counts allows the steady-state error it makes.
  EXPECT_TRUE(JudgeVerification(old, cases[6].After, {}, 4).empty());
}

// Worse is judged against before alone: a figure beyond the goal that was as far beyond it
// before is not worse; one that got worse is.
TEST(VerdictTest, WorseFiguresCompareWithBefore) {
  TStepFigures before = Good();
  before.SteadyStateError = -4;
  before.SettlingSamples.reset();
  TStepFigures after = Good();
  after.SteadyStateError = 3;
  after.SettlingSamples.reset();
  EXPECT_TRUE(WorseFigures(Board(before, before, 30), Board(after, after, 25), {}, 0).empty());
  EXPECT_FALSE(JudgeVerification(Board(before, before, 30), Board(after, after, 25), {}, 0).empty());
  after.SteadyStateError = 5;
  const std::vector<TFigureFailure> worse = WorseFigures(Board(before, before, 30), Board(after, Good(), 31), {}, 0);
  ASSERT_EQ(worse.size(), 2u);
  EXPECT_EQ(worse[0].Figure, "steady-state error");
  EXPECT_EQ(worse[1].Figure, "rest peak-to-peak");
  // A loop that never settles has an IAE of where its swing began: new gains that settle are
  // not held to a lucky one, gains that do not settle still are.
  before.Iae = 2396;
  after = Good();
  after.Iae = 2999;
  EXPECT_TRUE(WorseFigures(Board(before, before, 0), Board(after, after, 0), {}, 0).empty());
  after.SettlingSamples.reset();
  EXPECT_EQ(WorseFigures(Board(before, before, 0), Board(after, Good(), 0), {}, 0).at(0).Figure, "IAE");
}

// A fit of the given motor, its runs started at rest.
TIdentification FitOf(const TMotorModel& motor) {
  TIdentification fit;
  fit.Motor = motor;
  return fit;
}

// The phase at sample k (2.5 kHz) of a swing at hz for its first six periods, then at slowHz
// where that is not 0.
double Phase(double hz, double slowHz, size_t k) {
  const double t = double(k) * 4e-4, fast = 6 / hz;
  return 2 * M_PI * (slowHz == 0 || t < fast ? hz * t : 6 + slowHz * (t - fast));
}

// The simulator's encoder noise shows as a flicker of the count at rest; a motor without it
// shows no ringing; a residual that swings beyond the model is ringing, with its frequency.
TEST(ExtrasTest, FlickerAndRingingFromTheRecords) {
  for (const char* motorText : {"encnoise=1", "noise=0.02"}) {
    zirvsim::TBoardModel board(1, *zirvsim::ParseMotorConstants(motorText));
    board.RunCycles(500);
    const TStepRecord step = RunOnBoard(board, 200, 0);
    board.RunCycles(500);
    const TStepRecord rest = RunOnBoard(board, 0, 0);
    const TPlantExtras x = EstimateExtras({step}, rest, FitOf({2000, 0.015, 0.5}));
    const bool noisy = std::string(motorText) == "encnoise=1";
    EXPECT_EQ(x.FlickerEvents > 10, noisy) << motorText << " " << x.FlickerEvents;
    EXPECT_EQ(DeadbandAgainstFlicker(x) > 0, noisy) << motorText;
    EXPECT_EQ(x.RingingHz, 0) << motorText;
  }
  // Records whose error swings about what the model gives (sampled at 2.5 kHz): +-3 counts at
  // 100 Hz; a resonance at 400 Hz that dies down within two periods, its fifth turn lost in the
  // count (a sensor on the load: one run shows a turn more than the next, and each must see
  // it); a mismatch as slow as the motor, swinging as much, is no ringing. A loop that rings at
  // rest (a belt's resonance, +-20 counts at 200 Hz) passes its crests in a sample: no glitch.
  // A resonance at 250 Hz for its first six periods, then a swing of 40 Hz, rings at the
  // frequency of most of its turns, not at that of all its turns over their span.
  const struct {
    double Hz, Counts, DecaySamples, Expected, SlowHz = 0;
  } rings[] = {{100, 3, 1e9, 100}, {400, 4, 8, 400}, {30, 3, 1e9, 0}, {200, 20, 1e9, 200}, {250, 4, 1e9, 250, 40}};
  zirvsim::TBoardModel board(1, {2000, 0.015, 0.5, 0});
  TStepRecord ringing = RunOnBoard(board, 200, 0);
  const TStepSamples model = SimulateStepTest({2000, 0.015, 0.5}, ringing.Setup);
  for (const auto& ring : rings) {
    for (size_t k = 0; k < ringing.Errors.size(); ++k)
      ringing.Errors[k] = model.Errors[k] + std::round(ring.Counts * std::exp(-double(k) / ring.DecaySamples) *
                                                       std::cos(Phase(ring.Hz, ring.SlowHz, k)));
    TStepRecord rest = ringing;
    rest.Setup.Step = 0;
    for (size_t k = 0; k < rest.Errors.size(); ++k)
      rest.Errors[k] = std::round(ring.Counts * std::cos(Phase(ring.Hz, 0, k)));
    const TPlantExtras x = EstimateExtras({ringing}, rest, FitOf({2000, 0.015, 0.5}));
    EXPECT_NEAR(x.RingingHz, ring.Expected, ring.Expected / 8) << ring.Hz << " Hz";
    EXPECT_EQ(ExtrasRefusal(x).empty(), ring.Expected == 0) << ring.Hz << " Hz";
    EXPECT_EQ(GlitchCounts(x), 0) << ring.Hz << " Hz";
  }
}

// From a loop that swings (P 0.6, D 0.0003), a motor with cogging departs from the model as the
// loop carries it across the cogs and back: the residual turns as the loop swings, which is no
// ringing but a force along the travel; a resonance rings faster than the loop swings.
TEST(ExtrasTest, CoggingRidingTheLoopsSwingIsNoRinging) {
  const struct {
    const char* Motor;
    bool Rings, ForceAlongTravel;
  } cases[] = {
      {"cogging=1.252,cogs=41", false, true},
      {"cogging=1.443,cogs=28", false, true},
      {"resonance=175,damping=0.09907,ratio=0.3726", true, false},
  };
  for (const auto& c : cases) {
    zirvsim::TBoardModel board(1, *zirvsim::ParseMotorConstants(c.Motor));
    SetGains(board, 0.6, 0, 0.0003);
    const TResult<TBoardRecords> records = RecordsOfRuns(MeasuredRuns(board, 200, 0));
    ASSERT_TRUE(records) << c.Motor;
    const TPlantExtras x = EstimateExtras(records->Steps, records->Rest, IdentifyMotor(records->Steps));
    EXPECT_EQ(x.RingingHz > 0, c.Rings) << c.Motor << " " << x.RingingHz;
    EXPECT_EQ(x.ForceAlongTravel, c.ForceAlongTravel) << c.Motor;
  }
}

// A count that came and went by one now and then (a motor on the edge of a count: one run shows
// it, the next not) asks for no deadband, so that repeated runs on one board choose alike; nor
// does a glitch of more (the motor rests at the deadband's edge, where a glitch kicks harder);
// a count that flickers as often as noise asks for its size. A count of one that came and went
// under a drive (0.2 %) below the friction (1 %) was moved by a force at rest (cogging); one a
// loop that pushed harder than friction moved, or on a machine with a load, was not. Only noise
// holds the model's count jump to the rest limit: a count moved now and then, or a glitch, may
// or may not fall within a run's records, and the same board would get P three times apart, or
// gains in one run and none in the next.
TEST(ExtrasTest, DeadbandOnlyAgainstAFlickerEveryRunWouldShow) {
  const struct {
    const char* Name;
    int Counts, Events;
    double Drive, Load;
    double Deadband;
    bool Moved;
    double CountJumpPct;
  } cases[] = {
      {"none", 0, 0, 0.2, 0, 0, false, 20},
      {"one_count_twice", 1, 2, 0.2, 0, 0, true, 20},
      {"one_count_twice_the_loop_pushing", 1, 2, 2, 0, 0, false, 20},
      {"one_count_twice_under_a_load", 1, 2, 0.2, 1.5, 0, false, 20},
      {"one_count_as_often_as_noise", 1, kNoisyFlickers, 0.2, 0, 1, false, kRestLimitPct},
      {"a_glitch_of_two_counts_once", 2, 1, 0.2, 0, 0, false, 20},
      {"two_counts_as_often_as_noise", 2, kNoisyFlickers, 0.2, 0, 2, false, kRestLimitPct},
  };
  for (const auto& c : cases) {
    TPlantExtras x;
    x.FlickerCounts = c.Counts;
    x.FlickerEvents = c.Events;
    x.FlickerDrive = c.Drive;
    TMotorModel motor{2000, 0.015, 1};
    motor.Load = c.Load;
    x.MovedAtRest = CountMovedAtRest(x, motor, 200);
    EXPECT_EQ(DeadbandAgainstFlicker(x), c.Deadband) << c.Name;
    EXPECT_EQ(x.MovedAtRest, c.Moved) << c.Name;
    EXPECT_DOUBLE_EQ(GoalAgainstFlicker({}, x).MaxCountJumpPct, c.CountJumpPct) << c.Name;
  }
}

// Play between motor and encoder shows in the step and the step back, fitted as suggest fits
// them; a motor without play, noisy count or not, shows none. Where play shows, the choice lets
// the last count be.
TEST(ExtrasTest, PlayFromTheStepRecords) {
  const struct {
    const char* Motor;
    bool Play;
    double P, I, D;
  } cases[] = {{"play=3", true, 0.2, 0.0005, 0.0015}, {"play=4", true, 0.2, 0.0005, 0.0015},
               {"noise=0.02", false, 0.2, 0.0005, 0.0015},
               {"encnoise=1", false, 0.2, 0.0005, 0.0015}};
  for (const auto& c : cases)
    for (uint64_t seed = 1; seed <= 4; ++seed) {
      zirvsim::TBoardModel board(seed, *zirvsim::ParseMotorConstants(c.Motor));
      SetGains(board, c.P, c.I, c.D);
      board.RunCycles(500);
      const TStepRecord forward = RunOnBoard(board, 200, 0);
      board.RunCycles(500);
      const TStepRecord back = RunOnBoard(board, -200, 0);
      const TIdentification id = IdentifyMotor({forward, back});
      ASSERT_TRUE(id.Usable) << c.Motor;
      const TPlantExtras x = EstimateExtras({forward, back}, std::nullopt, id);
      EXPECT_EQ(x.PlayCounts > 0, c.Play) << c.Motor << " P " << c.P << " seed " << seed << ": " << x.PlayCounts;
      EXPECT_EQ(DeadbandAgainstPlay(x), c.Play ? 1 : 0) << c.Motor;
    }
}

}  // namespace
