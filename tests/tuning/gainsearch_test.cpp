// The gain search's decisions without a board: what makes a run dangerous, and which step test
// comes next after what the runs so far showed.
#include "tuning/gainsearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>

namespace {

constexpr int kSamples = 199;

// A record of a step (0: a rest record) on a loop with an output limit of 95 % and the given
// fault error, its samples made by the functions of the sample's index.
TStepRecord Record(double step, double faultError, const std::function<double(int)>& error,
                   const std::function<double(int)>& output) {
  TStepRecord r;
  r.Setup.Loop.MaxOutput = 95;
  r.Setup.Loop.FaultError = faultError;
  r.Setup.Step = step;
  for (int k = 0; k < kSamples; ++k) {
    r.Errors.push_back(std::round(error(k)));
    r.Outputs.push_back(output(k));
  }
  return r;
}

double Quiet(int) { return 1; }

struct TDangerCase {
  const char* Name;
  TStepRecord Run;
  TDanger Expected;
};

TEST(GainSearchTest, TellsDangerousRunsFromRough) {
  const TDangerCase cases[] = {
      {"a_ringing_that_dies_down", Record(200, 1000, [](int k) { return 200 * std::exp(-k / 15.0) * std::cos(k / 2.0); }, Quiet),
       TDanger::None},
      {"swings_that_grow_after_the_approach",
       Record(200, 1000,
              [](int k) { return k < 5 ? 200 - 40 * k : std::min(300.0, 6 * std::pow(1.25, (k - 5) / 3)) * ((k - 5) / 3 % 2 ? -1 : 1); },
              Quiet),
       TDanger::Growing},
      {"the_rise_of_a_large_step_at_the_limit", Record(200, 1000, [](int k) { return std::max(0, 200 - 4 * k); },
                                                       [](int k) { return k < 50 ? 95 : 2; }),
       TDanger::None},
      {"the_output_held_at_the_limit_once_there", Record(200, 1000, [](int k) { return std::max(0, 200 - 40 * k); },
                                                         [](int k) { return k > 20 && k < 50 ? -95 : 2; }),
       TDanger::HeldAtLimit},
      {"a_rest_record_that_rails", Record(0, 1000, [](int k) { return k % 2; }, [](int k) { return k < 30 ? 95 : 0; }),
       TDanger::HeldAtLimit},
      {"an_error_beyond_half_the_fault_error", Record(100, 300, [](int k) { return k < 50 ? 100 + 2 * k : 10; }, Quiet),
       TDanger::FollowingError},
      {"an_error_beyond_the_fault_error", Record(100, 300, [](int k) { return k < 50 ? 100 + 5 * k : 10; }, Quiet),
       TDanger::Tripped},
      {"no_fault_error_no_following_error", Record(100, 0, [](int k) { return k < 50 ? 100 + 5 * k : 0; }, Quiet),
       TDanger::None},
      {"a_flicker_at_rest", Record(0, 1000, [](int k) { return k % 3 == 0 ? 1 : 0; }, [](int k) { return k % 3 == 0 ? 3 : 0; }),
       TDanger::None},
  };
  for (const TDangerCase& c : cases) EXPECT_EQ(DangerIn(c.Run), c.Expected) << c.Name;
}

// Figures of a step as the board measured them.
TStepFigures Step(std::optional<int> settling, double overshoot, double steady, double restPp = 1) {
  TStepFigures f;
  f.SettlingSamples = settling;
  f.OvershootPct = overshoot;
  f.SteadyStateError = steady;
  f.Iae = 4000;
  f.RestOutputPpPct = restPp;
  return f;
}

TSearchSetup SearchOn(const TStepFigures& both, double p = 0.2, double i = 0, double d = 0.0015) {
  TSearchSetup s;
  s.Loop.P = p, s.Loop.I = i, s.Loop.D = d, s.Loop.MaxOutput = 95, s.Loop.FaultError = 1000;
  s.Step = 200;
  s.Before = {both, both, both};
  return s;
}

struct TNextCase {
  const char* Name;
  TSearchSetup Setup;
  TPlannedRun Expected;
};

// The first step test a search asks for: the suggestion with a small step where there is
// one, else the move the worse step of the present gains points to, with the full step.
TEST(GainSearchTest, FirstTrialFollowsWhatTheBoardShowed) {
  TSearchSetup guessed = SearchOn(Step(std::nullopt, 0, 40));
  guessed.Guess = TSearchGains{0.8, 0, 0.004, 1};
  // 0.8 + 0.004 / 0.0004 = 10.8 % a count, beyond the 9.5 % of the rest limit.
  TSearchSetup loudGuess = guessed;
  loudGuess.Guess = TSearchGains{0.8, 0, 0.004, 0};
  TSearchSetup withPlay = loudGuess;
  withPlay.PlayCounts = 2.6;
  TSearchSetup quietGuess = guessed;
  quietGuess.Guess = TSearchGains{0.8, 0, 0.003, 0};
  TSearchSetup capped = SearchOn(Step(std::nullopt, 0, 30), 6, 0, 0.005);
  TSearchSetup flickering = SearchOn(Step(std::nullopt, 0, 30), 6, 0, 0.001);
  flickering.FlickerCounts = 1;
  flickering.DeadbandFloor = 2;
  TStepFigures shortApproach = Step(std::nullopt, 0, 3);
  shortApproach.Iae = 400;
  // A spring asks 10 % more drive at the step's end; the windup estimated from the fit, 200 x
  // 0.015 / 0.0004 / 2 = 3750, lets I be at most (0.5 + 0.2 + 10) / 3750 = 0.00285.
  TSearchSetup shortOfASpring = SearchOn(Step(std::nullopt, 0, 5), 0.2, 0.00285);
  TMotorModel spring;
  spring.Gain = 2000, spring.TimeConstant = 0.015, spring.Friction = 0.5, spring.LoadSlope = 0.05;
  shortOfASpring.Loaded = true;
  shortOfASpring.Integral = IntegralSizingFor(spring, 200, shortOfASpring.Loop.Period, 0);
  const TNextCase cases[] = {
      {"the_suggestion_first_with_a_quarter_step", guessed, {{0.8, 0, 0.004, 1}, 50, TRunPurpose::Probe, 1}},
      {"a_suggestion_whose_count_moves_it_beyond_the_rest_limit_gets_a_deadband", loudGuess,
       {{0.8, 0, 0.004, 1}, 50, TRunPurpose::Probe, 1}},
      // A motor free in 2.6 counts of play, kicked by such a count, hunts across it.
      {"and_a_deadband_of_the_play_where_the_fit_shows_two_counts", withPlay,
       {{0.8, 0, 0.004, 2}, 50, TRunPurpose::Probe, 1}},
      {"a_quiet_suggestion_as_chosen", quietGuess, {{0.8, 0, 0.003, 0}, 50, TRunPurpose::Probe, 1}},
      {"a_step_that_overshoots_gets_more_d", SearchOn(Step(60, 20, 0)), {{0.2, 0, 0.003, 0}, 200, TRunPurpose::Search, 1}},
      {"a_step_far_from_target_at_the_end_gets_more_p", SearchOn(Step(std::nullopt, 0, 40)),
       {{0.4, 0, 0.0015, 0}, 200, TRunPurpose::Search, 1}},
      // I that adds P's drive once over the cycles of a record, 0.2 / 199, where a short approach
      // winds up little; where the approach winds up 4000 count-cycles, what takes up the
      // friction that held it 3 counts short: 0.2 x 3 / 4000.
      {"friction_that_holds_it_short_gets_some_i", SearchOn(shortApproach),
       {{0.2, 0.00101, 0.0015, 0}, 200, TRunPurpose::Search, 1}},
      {"and_as_little_as_takes_up_the_friction_after_a_long_approach", SearchOn(Step(std::nullopt, 0, 3)),
       {{0.2, 0.00015, 0.0015, 0}, 200, TRunPurpose::Search, 1}},
      // Left short with I at that most: the estimate gives way to a move of I up, after a rest
      // record that takes up the kick of the rescaled sum.
      {"short_of_target_with_the_most_i_the_windup_allows_gets_more", shortOfASpring,
       {{0.2, 0.0114, 0.0015, 0}, 0, TRunPurpose::Settle, 1}},
      {"held_past_the_target_gets_less_i", SearchOn(Step(std::nullopt, 0, -3), 0.2, 0.0005),
       {{0.2, 0, 0.0015, 0}, 200, TRunPurpose::Search, 1}},
      {"an_output_that_will_not_rest_gets_a_deadband", SearchOn(Step(40, 2, 0, 30)),
       {{0.2, 0, 0.0015, 1}, 200, TRunPurpose::Search, 1}},
      // 6 + 0.005 / 0.0004 = 18.5 % a count: P may grow to the 19 % the count jump allows,
      // beyond the rest limit and so with a deadband.
      {"more_p_stops_at_the_count_jump_with_a_deadband", capped, {{6.5, 0, 0.005, 1}, 200, TRunPurpose::Search, 1}},
      // A count that flickers: the deadband the records ask for, and P only as far as one count
      // keeps the output within the rest limit: 9.5 % less D's 2.5 %.
      {"a_flickering_count_keeps_the_count_jump_quiet", flickering, {{7, 0, 0.001, 2}, 200, TRunPurpose::Search, 1}},
  };
  for (const TNextCase& c : cases) {
    TGainSearch search(c.Setup);
    const std::optional<TPlannedRun> next = search.Next();
    ASSERT_TRUE(next) << c.Name;
    EXPECT_EQ(next->Gains, c.Expected.Gains) << c.Name << ": P " << next->Gains.P << " I " << next->Gains.I << " D "
                                             << next->Gains.D << " b " << next->Gains.Deadband;
    EXPECT_EQ(next->Step, c.Expected.Step) << c.Name;
    EXPECT_EQ(next->Purpose, c.Expected.Purpose) << c.Name;
  }
}

// A record that settles at once within the goal, of the step the search asked for (its
// outputs 0, as the loop law of a loop of zero gains has them).
TStepRecord Settling(const TPlannedRun& run) {
  return Record(run.Step, 1000, [&](int k) { return k < 10 ? run.Step * (1 - k / 10.0) : 0; }, [](int) { return 0; });
}

// The suggestion that does well is verified (a step each way, a rest record) and kept; one
// whose small step grows an oscillation is never given the full step.
TEST(GainSearchTest, SuggestionVerifiedOrLeftAfterItsSmallStep) {
  TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40));
  s.Guess = TSearchGains{0.8, 0, 0.002, 0};
  TGainSearch kept(s);
  std::vector<int> steps;
  while (const std::optional<TPlannedRun> next = kept.Next()) {
    steps.push_back(next->Step);
    kept.Record(Settling(*next));
  }
  EXPECT_EQ(steps, (std::vector<int>{50, -50, 200, -200, 0}));
  EXPECT_EQ(kept.End(), TSearchEnd::Kept);
  ASSERT_TRUE(kept.Kept());
  EXPECT_EQ(*kept.Kept(), *s.Guess);

  TGainSearch left(s);
  const TPlannedRun probe = *left.Next();
  const TStepRecord growing =
      Record(probe.Step, 1000,
             [](int k) { return k < 3 ? 50 - 20 * k : std::min(200.0, 6 * std::pow(1.3, k / 3)) * (k / 3 % 2 ? -1 : 1); }, Quiet);
  EXPECT_EQ(left.Record(growing), TDanger::Growing);
  ASSERT_TRUE(left.Next());
  EXPECT_NE(left.Next()->Gains, *s.Guess);
  EXPECT_EQ(left.Next()->Purpose, TRunPurpose::Search);
  ASSERT_TRUE(left.Completed());
  EXPECT_EQ(left.Completed()->Danger, TDanger::Growing);
}

// A record of the step asked for that settles at once, its output swinging by swingPct of the
// output limit peak-to-peak once there, the count coming and going by two (a loop of P alone,
// so that its outputs follow the loop law).
TStepRecord SettlingWithTail(const TPlannedRun& run, double swingPct) {
  const double p = swingPct / 100 * 95 / 2;
  const auto error = [&](int k) { return k < 10 ? std::round(run.Step * (1 - k / 10.0)) : (k % 2 ? 2.0 : 0.0); };
  TStepRecord r = Record(run.Step, 1000, error, [&](int k) { return std::clamp(p * error(k), -95.0, 95.0); });
  r.Setup.Loop.P = p;
  return r;
}

// A record of the step asked for whose count swings about the target by two until sample 150,
// then rests within a count with the output swinging by 30 % of its limit.
TStepRecord HuntingUntilLate(const TPlannedRun& run) {
  const auto error = [&](int k) {
    return k < 10 ? std::round(run.Step * (1 - k / 10.0)) : k < 150 ? (k % 2 ? 2.0 : -2.0) : (k % 2 ? 1.0 : 0.0);
  };
  return Record(run.Step, 1000, error, [&](int k) { return 28.5 * error(k); });
}

// A record of the step asked for that comes to rest a count past its target at once, having
// begun with the given sum of the error.
TStepRecord PastTarget(const TPlannedRun& run, double sum) {
  TStepRecord r = Record(run.Step, 1000, [&](int k) { return k < 10 ? run.Step * (1 - k / 10.0) : (run.Step < 0 ? 1.0 : -1.0); },
                         [](int) { return 0; });
  r.Setup.Start.ErrorI = sum;
  return r;
}

struct TVerifyCase {
  const char* Name;
  TSearchGains Guess;
  int HuntingRun;     // the run (from 0) whose settled tail swings; -1: none
  double SwingPct;
  double FlickerCounts;  // a count that came and went in the records measured before
  std::vector<int> Steps;
  bool Kept;
  bool ProbeHuntsUntilLate = false;  // the small step swings about its target until late
  bool RestsOffTarget = false;       // the rest record finds the motor held a count off its target
  std::optional<TSearchGains> Then = std::nullopt;  // the gains the search tries next, where the case says
  // The step back comes to rest a count past its target, having begun with this sum (0: none).
  double PastWithSum = 0;
  double TailSum = 0;  // the run whose settled tail swings began with this sum
};

// The suggestion is verified where the present gains were measured (the motor first brought
// back from its small step), starting from the board's own gains at rest; gains whose one count
// beyond the deadband moves the output by more than a rest may (0.8 + 0.004 / 0.0004 = 10.8 %)
// take two steps each way, since whether such a loop hunts depends on where the motor stops: a
// second step that hunts, or a tail that moves beyond half the rest limit, keeps them off the
// board although the first step each way rested quietly; so does a count that came and went
// in the records, whatever the verification showed. Loud gains that failed where a count came
// and went are followed by their balance of P and D brought within the rest limit's count jump
// (9.5 %), at the least deadband; where the records showed it before the search, a loud guess
// is brought there before it is tried.
TEST(GainSearchTest, LoudGainsAreNotKeptOnOneQuietStepEachWay) {
  const TSearchGains quiet{0.8, 0, 0.003, 0}, loud{0.8, 0, 0.004, 1};
  const std::vector<int> three{50, -50, 200, -200, 0}, five{50, -50, 200, -200, 200, -200, 0};
  const TVerifyCase cases[] = {
      {"quiet_gains_one_step_each_way", quiet, -1, 0, 0, three, true},
      {"loud_gains_resting_quietly", loud, -1, 0, 0, five, true},
      {"loud_gains_hunting_in_the_second_step", loud, 4, 40, 0, five, false},
      // The second step's tail leaves the deadband for its edge again and again on one side: a
      // force at rest beyond friction (cogging) pushes the motor out, as a count that comes and
      // goes would move it.
      {"loud_gains_pushed_out_of_the_deadband_at_rest_tried_next_quiet", loud, 4, 40, 0, five, false, false, false,
       TSearchGains{0.7, 0, 0.0035, 0}},
      // Where the records showed a count that came and went, a loud guess is tried quiet at once:
      // tried as chosen and not kept, it left the best gains loud and no quiet move from them.
      {"where_a_count_came_and_went_a_loud_guess_tried_quiet_at_once", loud, 4, 40, 1, {}, false, false, false,
       TSearchGains{0.7, 0, 0.0035, 0}},
      // So with an I whose sum of all the errors a run gave it moves the output by well under a
      // tenth of P's count: it holds nothing that could push the motor itself.
      {"loud_gains_with_a_sum_of_nothing_pushed_out_at_rest_tried_next_quiet", {0.8, 1e-6, 0.004, 1}, 4, 40, 0, five,
       false, false, false, TSearchGains{0.7, 9e-7, 0.0035, 0}},
      // Not where the sum it began with (a sluggish loop's, wound while it rested off target)
      // moves the output by an eighth of P's count (0.1 % of drive against 0.8): that sum pushes the
      // motor itself.
      {"loud_gains_pushed_out_at_rest_by_the_sum_they_began_with", {0.8, 1e-6, 0.004, 1}, 4, 40, 0, five, false, false,
       false, TSearchGains{0.8, 1e-6, 0.004, 2}, 0, 1e5},
      {"loud_gains_near_the_rest_limit", loud, 5, 7, 0, five, false},
      {"quiet_gains_near_the_rest_limit_are_within_it", quiet, 3, 7, 0, three, true},
      // A glitch beyond the deadband comes whenever the motor rests off its middle.
      {"loud_gains_where_glitches_showed_tried_quiet_at_once", loud, -1, 0, 2, {}, false, false, false,
       TSearchGains{0.7, 0, 0.0035, 0}},
      {"quiet_gains_where_glitches_showed", quiet, -1, 0, 2, three, true},
      // Gains whose small step hunted about its target until late hunt, however quiet their
      // verification.
      {"quiet_gains_whose_small_step_hunted", quiet, -1, 0, 0, three, false, true},
      // Without a deadband, an I that finds the motor held off its target at rest winds until
      // the motor slips: a slow hunt that the short rest record did not catch.
      {"integral_without_deadband_resting_off_target", {0.8, 0.0005, 0.003, 0}, -1, 0, 0, three, false, false, true},
      // The step back came to rest a count past its target, carried there by I's windup, having
      // begun with the sum the step wound up the other way (0.0005 x 3000 = 1.5 % of drive
      // against it, more than a count's 0.8): from a loop left at rest it stops further past.
      // With the sum on its side it would stop no further.
      {"integral_past_target_with_the_last_steps_sum_against_it", {0.8, 0.0005, 0.003, 0}, -1, 0, 0, three, false, false,
       false, std::nullopt, 3000},
      {"integral_past_target_with_the_sum_on_its_side", {0.8, 0.0005, 0.003, 0}, -1, 0, 0, three, true, false, false,
       std::nullopt, -3000},
  };
  for (const TVerifyCase& c : cases) {
    TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40));
    s.Guess = c.Guess;
    s.FlickerCounts = c.FlickerCounts;
    TGainSearch search(s);
    std::vector<int> steps;
    while (const std::optional<TPlannedRun> next = search.Next()) {
      if (next->Gains != c.Guess) {  // the search goes on from the present gains
        if (c.Then) {
          EXPECT_EQ(next->Gains, *c.Then) << c.Name << ": P " << next->Gains.P << " D " << next->Gains.D;
        }
        break;
      }
      EXPECT_EQ(next->FromOwnGains, steps.size() == 2) << c.Name << ": run " << steps.size();
      const int index = int(steps.size());
      steps.push_back(next->Step);
      TStepRecord tail = SettlingWithTail(*next, c.SwingPct);
      tail.Setup.Start.ErrorI = c.TailSum;
      search.Record(index == c.HuntingRun                 ? tail
                    : index == 0 && c.ProbeHuntsUntilLate ? HuntingUntilLate(*next)
                    : next->Step == 0 && c.RestsOffTarget ? Record(0, 1000, [](int) { return 1; }, [](int) { return 0.8; })
                    : next->Step == -200 && c.PastWithSum ? PastTarget(*next, c.PastWithSum)
                                                          : Settling(*next));
    }
    EXPECT_EQ(steps, c.Steps) << c.Name;
    EXPECT_EQ(search.Kept() == std::optional(c.Guess), c.Kept) << c.Name;
  }
}

// The count may first come and go during the search: loud gains that rested quietly both ways
// before a bolder run showed the motor pushed out of its rest to the edge of a count are still
// the cheapest measured, and are verified; however quietly that verification rests, they are
// not kept. Here each gain settles the quicker the more a count moves its output, and a count
// jump beyond 17 % leaves the motor pushed out at rest.
TEST(GainSearchTest, LoudGainsMeasuredBeforeACountCameAndWentAreNotKept) {
  const TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40));
  const auto jump = [&](const TSearchGains& g) { return g.P + g.I + g.D / s.Loop.Period; };
  TGainSearch search(s);
  while (const std::optional<TPlannedRun> next = search.Next()) {
    const double step = next->Step, samples = std::max(3.0, std::round(14 - jump(next->Gains)));
    search.Record(step != 0 && jump(next->Gains) > 17
                      ? SettlingWithTail(*next, 40)
                      : Record(step, 1000, [&](int k) { return k < samples ? step * (1 - k / samples) : 0; },
                               [](int) { return 0; }));
  }
  const auto loud = [&](const TSearchTrial& t) { return jump(t.Gains) > search.Bounds().QuietCountJump; };
  const auto refused = [&](const TSearchTrial& t) {
    return loud(t) && t.Judged && t.Verdict.find("a count that comes and goes") != std::string::npos;
  };
  EXPECT_TRUE(std::any_of(search.Trials().begin(), search.Trials().end(), refused));
  ASSERT_TRUE(search.Kept());
  EXPECT_LE(jump(*search.Kept()), search.Bounds().QuietCountJump * (1 + 1e-9));
}

// A record of the step asked for that settles at once, its output buzzing by 40 % of the
// output limit once there: the motor on the edge of a count (its error 0 and, on its edge,
// now and then 1).
TStepRecord Buzzing(const TPlannedRun& run, bool edge, bool overshoot = false) {
  const auto error = [&](int k) {
    if (k < 10) return run.Step * (1 - k / 10.0);
    if (overshoot && k < 20) return -run.Step / 10.0;  // 10 % past the target
    return edge && k % 3 == 0 ? 1.0 : 0.0;
  };
  return Record(run.Step, 1000, error, [](int k) { return k < 10 ? 0 : (k % 2 ? 19 : -19); });
}

struct TBuzzCase {
  const char* Name;
  bool Loaded;  // the fit shows a load, and the buzz reads the motor on the edge of a count
  bool Edge = false;  // without a load, the buzz reads the motor on the edge of a count
  bool Overshoot = false;  // the buzzing steps went 10 % past their target first
};

// Where the motor stops decides whether it rests quietly, so one quiet rest record does not
// clear gains: bolder gains (a larger count jump, as much I, the same deadband) than some
// that buzzed at rest in the search are not kept, whatever their own verification showed.
// Under a load, gains with as much P and D (but for a hundredth) as some that left the motor
// kicking on the edge of a count are not kept, whatever their I, and so neither tried nor
// verified after it: the step tests go to gains that may be kept. Without a load, a motor
// crossing to and fro on the edge of a count keeps off the board gains bolder in count jump
// with as much P and D. A rock under a load that followed an overshoot beyond the goal (I brought
// the motor back slowly, creeping onto the edge) tells nothing of gains with more D: those are
// tried, and kept where they do well.
TEST(GainSearchTest, GainsBolderThanSomeThatBuzzedAreNotKept) {
  TMotorModel m;
  m.Gain = 2000, m.TimeConstant = 0.015, m.Friction = 0.5, m.Load = 5;
  for (const TBuzzCase& c : {TBuzzCase{"no_load", false}, TBuzzCase{"edge_of_a_count_under_a_load", true},
                             TBuzzCase{"edge_of_a_count_without_a_load", false, true},
                             TBuzzCase{"edge_of_a_count_after_an_overshoot_under_a_load", true, false, true}}) {
    TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40), 0.2, c.Loaded ? 0.0001 : 0);
    if (c.Loaded) s.Loaded = true, s.Integral = IntegralSizingFor(m, 200, s.Loop.Period, 0);
    TGainSearch search(s);
    std::optional<TSearchGains> buzzed;
    while (const std::optional<TPlannedRun> next = search.Next()) {
      // Under a load, the first gains with more I than the board's buzz: gains with less I judged
      // later escape the rule of bolder gains, but not the edge of a count.
      if (!buzzed && next->Purpose == TRunPurpose::Search && (!c.Loaded || next->Gains.I > s.Loop.I)) buzzed = next->Gains;
      search.Record(next->Gains == buzzed ? Buzzing(*next, c.Loaded || c.Edge, c.Overshoot) : Settling(*next));
    }
    ASSERT_TRUE(buzzed) << c.Name;
    if (c.Overshoot) {
      // Besides the repair with more D the buzzing trial goes on to, the search's own moves.
      int moreD = 0;
      bool after = false;
      for (const TSearchTrial& trial : search.Trials()) {
        moreD += after && trial.Gains.P >= buzzed->P * 0.99 && trial.Gains.D > buzzed->D * 1.01;
        after = after || trial.Gains == *buzzed;
      }
      EXPECT_GE(moreD, 2) << c.Name;
      continue;
    }
    const double period = s.Loop.Period;
    const auto jump = [&](const TSearchGains& g) { return g.P + g.I + g.D / period; };
    bool refused = false, after = false;
    for (const TSearchTrial& trial : search.Trials()) {
      after = after || trial.Gains == *buzzed;
      if (trial.Gains == *buzzed) continue;
      const bool bolder = trial.Gains.Deadband == buzzed->Deadband &&
                          (c.Loaded ? trial.Gains.P >= buzzed->P * 0.99 && trial.Gains.D >= buzzed->D * 0.99 &&
                                          trial.Gains.I < buzzed->I
                                    : trial.Gains.I >= buzzed->I && jump(trial.Gains) >= jump(*buzzed) &&
                                          (!c.Edge || (trial.Gains.P >= buzzed->P * 0.99 && trial.Gains.D >= buzzed->D * 0.99)));
      if (!bolder) continue;
      EXPECT_NE(search.Kept(), std::optional(trial.Gains)) << c.Name << ": " << trial.Verdict;
      EXPECT_FALSE(c.Loaded && after) << c.Name << ": tried after the kick on the edge: " << trial.Verdict;
      if (!trial.Judged) continue;
      const char* reason = c.Loaded ? "on the edge of a count" : "in an earlier run of gains no bolder";
      EXPECT_NE(trial.Verdict.find(reason), std::string::npos) << c.Name << ": " << trial.Verdict;
      refused = true;
    }
    EXPECT_TRUE(refused || c.Loaded) << c.Name << ": no bolder gains were judged";
  }
}

struct TRuledOutCase {
  const char* Name;
  std::optional<int> RunsLeft;  // the runs allowed once the best failed their verification
  TRunPurpose Then;             // what the first run after it of gains measured one way is for
};

// Where the best gains fail their verification and no move around them is left, the search
// goes on from gains that met the goal the one way they were measured (left after it for
// costing no less than the best): it measures them the other way. Where the runs left allow a
// verification but no trial, it verifies them: the verification steps both ways.
TEST(GainSearchTest, RuledOutBestGivesWayToGainsMeasuredOneWay) {
  const TRuledOutCase cases[] = {
      {"measured_the_other_way", std::nullopt, TRunPurpose::Search},
      {"verified_where_the_runs_left_allow_no_trial", 3, TRunPurpose::Judge},
  };
  for (const TRuledOutCase& c : cases) {
    TGainSearch search(SearchOn(Step(std::nullopt, 0, 40)));
    std::map<TSearchGains, int> measured;  // runs of each gains' trials before the failed verification
    bool failed = false;
    std::optional<TRunPurpose> then;
    while (const std::optional<TPlannedRun> next = search.Next()) {
      if (failed && measured[next->Gains] == 1) {
        then = next->Purpose;
        break;
      }
      if (next->Purpose == TRunPurpose::Search && !failed) ++measured[next->Gains];
      const bool rest = next->Purpose == TRunPurpose::Judge && next->Step == 0;
      search.Record(rest && !failed ? Buzzing(*next, false) : Settling(*next));
      if (rest && !failed && c.RunsLeft) search.LimitRuns(*c.RunsLeft);
      failed = failed || rest;
    }
    EXPECT_TRUE(failed) << c.Name << ": no verification";
    EXPECT_EQ(then, std::optional(c.Then)) << c.Name << ": ended " << int(search.End()) << " after "
                                           << search.Runs().size() << " runs";
  }
}

// A search that verified nothing keeps nothing, and says why rather than nothing at all: where
// none of its trials met the goal both ways, what the nearest gains missed by; where the board
// procedure stopped before a verification that no longer fitted in the time left, that; where
// the board's own loop has no I under a load and no I both takes up the sum it wound up within the
// wait and keeps the approach's windup within the deadband, that, without verifying gains that
// settled but would be refused for it. Where friction held the nearest off target and the trials
// with more P overshot (a resonance beyond the motor rings them), what those missed by too.
TEST(GainSearchTest, ASearchThatVerifiedNothingSaysWhy) {
  const struct {
    const char* Name;
    bool Guessed;  // the suggestion's small step settles, and then no run is left
    bool Wound;    // a load whose approach winds up far more than a sum taken up in time allows
    bool Rings;    // trials with more P than the board's overshoot by 150 % before they rest
    const char* Reason;
  } cases[] = {
      {"every_trial_missed", false, false, false, "steady-state error of the forward step: 3.00 counts"},
      {"its_verification_did_not_fit", true, false, false, "P 0.8 I 0 D 0.002 deadband 0 were left unverified"},
      {"no_i_takes_up_the_wound_sum", false, true, false, "no I both takes up the sum the board's own gains wound up"},
      {"more_p_overshot", false, false, true, "counts, beyond 1; with more P, P 0.4 "},
  };
  for (const auto& c : cases) {
    TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40));
    s.MaxRuns = 12;
    if (c.Guessed) s.Guess = TSearchGains{0.8, 0, 0.002, 0};
    if (c.Wound) {
      s.Loaded = true;
      s.Integral = TIntegralSizing{0, 0.5, 14000, 100, true, 5, s.Loop.Period};
    }
    TGainSearch search(s);
    while (const std::optional<TPlannedRun> next = search.Next()) {
      const double step = next->Step;
      if (c.Wound) {
        search.Record(Settling(*next));
        continue;
      }
      if (c.Guessed) {
        search.Record(Settling(*next));
        search.LimitRuns(0);  // as the procedure does where the verification's runs do not fit
        break;
      }
      const bool rings = c.Rings && next->Gains.P > 0.2 * 1.01;
      search.Record(Record(step, 1000, [&](int k) {
        if (k < 10) return step * (1 - k / 10.0);
        if (rings) return k < 30 ? -1.5 * step : 0.0;
        return step < 0 ? -3.0 : 3.0;
      }, [](int) { return 0; }));
    }
    EXPECT_FALSE(search.Kept()) << c.Name;
    EXPECT_TRUE(search.JudgeRuns().empty()) << c.Name;
    ASSERT_FALSE(search.Failures().empty()) << c.Name;
    EXPECT_NE(search.Failures().front().Text.find(c.Reason), std::string::npos) << c.Name << ": " << search.Failures().front().Text;
  }
}

// Under a load, gains that met the goal but for rocking on the edge of a count are never kept,
// but the gains next to them with less P, D or I may be: where every trial rocked so one way
// and the moves around the best are spent, the search goes on from the cheapest of them while
// runs are left, rather than ending with most of its step tests unused.
TEST(GainSearchTest, UnderALoadASearchWhoseTrialsRockedGoesOnFromThem) {
  TMotorModel m;
  m.Gain = 2000, m.TimeConstant = 0.015, m.Friction = 0.5, m.Load = 5;
  TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40), 0.2, 0.0001);
  s.Loaded = true, s.Integral = IntegralSizingFor(m, 200, s.Loop.Period, 0);
  TGainSearch search(s);
  while (const std::optional<TPlannedRun> next = search.Next())
    search.Record(next->Step > 0 ? Buzzing(*next, true) : Settling(*next));
  EXPECT_NE(search.End(), TSearchEnd::Kept);
  EXPECT_GE(int(search.Runs().size()), s.MaxRuns - 8) << "ended after " << search.Trials().size() << " trials";
}

// A search under a constant load of 5 % of drive, I sized for it, from gains bold enough to
// take it up.
TSearchSetup SearchUnderALoad() {
  TMotorModel m;
  m.Gain = 2000, m.TimeConstant = 0.015, m.Friction = 0.5, m.Load = 5;
  TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40), 0.2, 0.0001);
  s.Loaded = true, s.Integral = IntegralSizingFor(m, 200, s.Loop.Period, 0);
  s.Guess = TSearchGains{0.8, 0.0001, 0.003, 0};
  return s;
}

struct TTakeUpCase {
  const char* Name;
  int Held;       // samples the steps of the verification rest two counts off after the approach
  double Then;    // where I has pulled them in to when the record ends, counts off
  double Side;    // 1: past the target, -1: short of it
  bool Kept;
};

// Under a load, a step of the verification that rested two counts off after its approach and
// was pulled in by I only to a count, the loop still acting on it when the record ended, has
// not shown where the motor rests: the gains are not kept. A step pulled in to its target, or
// off by two for a moment only, shows it.
TEST(GainSearchTest, UnderALoadAStepStillPulledInWhenTheRecordEndsIsNotKept) {
  const TTakeUpCase cases[] = {
      {"pulled_in_from_past_the_target_to_a_count", 56, 1, 1, false},
      {"pulled_in_from_short_of_the_target_to_a_count", 56, 1, -1, false},
      {"pulled_in_to_the_target", 56, 0, 1, true},
      {"off_by_two_for_a_moment", 10, 1, 1, true},
  };
  for (const TTakeUpCase& c : cases) {
    TGainSearch search(SearchUnderALoad());
    const std::optional<TPlannedRun> probe = search.Next();
    ASSERT_TRUE(probe && probe->Purpose == TRunPurpose::Probe) << c.Name;
    while (const std::optional<TPlannedRun> next = search.Next()) {
      if (next->Purpose != TRunPurpose::Judge || next->Step == 0 || next->Gains != probe->Gains) {
        search.Record(Settling(*next));
        continue;
      }
      const double sign = next->Step > 0 ? 1 : -1;
      search.Record(Record(next->Step, 1000,
                           [&](int k) { return k < 10 ? next->Step * (1 - k / 10.0) : -c.Side * sign * (k < 10 + c.Held ? 2 : c.Then); },
                           [](int) { return 0; }));
    }
    EXPECT_EQ(search.Kept() == probe->Gains, c.Kept) << c.Name;
  }
}

struct TChatterCase {
  const char* Name;
  const char* Slip;  // the error after a rest a count off: 0 on target, 1 back across the edge
  bool Kept;
};

// Under a load, the last count of a take-up: the sum lets the motor slip onto its target, D's
// kick throws it back across the edge, and it comes again, each stay longer, until the sum holds
// it there. Stays back shorter than a slip spans are the slip's settling, and the rest after it
// is what the verification judges; a motor that stays back as long each time rocks on the edge.
TEST(GainSearchTest, UnderALoadTheLastSlipsChatterIsJudgedByTheRestAfterIt) {
  const TChatterCase cases[] = {
      {"short_stays_back_that_die_out", "0110110100100010001000", true},
      {"stays_back_as_long_as_a_slip", "0111101111011110111101", false},
  };
  for (const TChatterCase& c : cases) {
    TGainSearch search(SearchUnderALoad());
    const std::optional<TPlannedRun> probe = search.Next();
    const std::string slip = c.Slip;
    const auto e = [&](int k) { return k < 40 ? 1.0 : k < 40 + int(slip.size()) ? slip[size_t(k - 40)] - '0' : 0.0; };
    // D kicks the output by 16 % of drive at each crossing of the edge.
    const TStepRecord chatter = Record(0, 1000, e, [&](int k) { return 3 + (k > 0 ? 16 * (e(k) - e(k - 1)) : 0); });
    while (const std::optional<TPlannedRun> next = search.Next())
      search.Record(next->Purpose == TRunPurpose::Judge && next->Step == 0 && next->Gains == probe->Gains ? chatter
                                                                                                          : Settling(*next));
    EXPECT_EQ(search.Kept() == probe->Gains, c.Kept) << c.Name;
  }
}

struct TSizingCase {
  const char* Name;
  TMotorModel Motor;
  TSearchGains Gains;
  double Present;                 // the board's I
  std::optional<double> Expected;  // none: no I suits the load
  double WholeLoad = 0;            // the load a sum that holds none of it leaves to I
  double Limit = 0;                // the output's limit, where the sum grows only off it
};

// I on a machine with a load, sized from the fitted motor for a 200-count step at prediv 0 with
// a servo cycle of 1 ms: the approach winds up about 200 x 15 / 2 = 1500 counts x cycles, and
// against a constant load 200 x 5.83 = 1166, the motor at full drive covering the step in 5.83 ms.
TEST(GainSearchTest, IntegralSizedForTheFittedLoad) {
  const auto motor = [](double friction, double load, double slope) {
    TMotorModel m;
    m.Gain = 2000, m.TimeConstant = 0.015, m.Friction = friction, m.Load = load, m.LoadSlope = slope;
    return m;
  };
  TMotorModel springFromAKnee = motor(0.5, 0, 0.1);
  springFromAKnee.LoadKnee = 100;
  const TSizingCase cases[] = {
      // The board's own I holds the load and changing it would kick the motor.
      {"a_constant_load_keeps_the_boards_i", motor(0.51, 5.2, 0), {3, 0.002, 0.006, 1}, 0.0005, 0.0005},
      // (0.51 + 0.5 x 1) / 1166: more winds the approach up past the target.
      {"too_much_i_comes_down_to_what_the_windup_allows", motor(0.51, 5.2, 0), {0.5, 0.01, 0.002, 0}, 0.01, 0.00086593},
      // A spring asks 10 % more drive at the step's end: (10 - 0.5) / (1500 + 99.5 x 1).
      {"a_spring_without_i_gets_enough_to_take_up_its_change", motor(0.5, 0, 0.05), {1, 0, 0.003, 0}, 0, 0.0059394},
      // The same change from a knee halfway, which the motor runs free up to: the approach winds
      // up as against a constant load, (10 - 0.5) / (1166 + 99.5 x 1).
      {"a_spring_from_a_knee_winds_up_as_a_constant_load_does", springFromAKnee, {1, 0, 0.003, 0}, 0, 0.0075047},
      // With the output held at a limit of 50 % until P's drive falls below it, a quarter of the
      // travel: (10 - 0.5) / (1166 / 4 + 99.5 x 1).
      {"a_spring_from_a_knee_winds_up_once_p_lets_the_output_off_its_limit", springFromAKnee, {1, 0, 0.003, 0}, 0,
       0.024291, 0, 50},
      // A loop without I left a sum that holds nothing: I takes the whole load up within the
      // wait, P x 1 ms / 1 s, where the model's own I would leave P holding it for seconds.
      {"a_sum_that_holds_nothing_gets_i_for_the_whole_load", motor(0.51, 5.2, 0), {1, 0.0002, 0.003, 0}, 0, 0.001, 4.69},
      // An arm whose pull grows by 20 % over the step, more than friction and P at the edge hold.
      {"a_load_that_pulls_harder_further_on_has_none", motor(0.2, 3, -0.1), {0.5, 0.001, 0.002, 0}, 0.001, std::nullopt},
  };
  for (const TSizingCase& c : cases) {
    TIntegralSizing sizing = IntegralSizingFor(c.Motor, 200, 0.001, 0);
    sizing.WholeLoad = c.WholeLoad;
    sizing.Limit = c.Limit;
    const std::optional<double> i = SizedIntegral(sizing, c.Gains, c.Present);
    ASSERT_EQ(i.has_value(), c.Expected.has_value()) << c.Name;
    if (i) {
      EXPECT_NEAR(*i, *c.Expected, *c.Expected * 1e-4) << c.Name;
    }
  }
}

// A search on a machine with a load that changes I first lets the loop take up the kick of the
// rescaled sum in a rest record, then measures the gains; one that keeps I measures at once.
TEST(GainSearchTest, AChangeOfIUnderALoadIsMeasuredAtRest) {
  TMotorModel m;
  m.Gain = 2000, m.TimeConstant = 0.015, m.Friction = 0.5, m.Load = 5;
  const TSearchSetup kept = [&] {
    TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40), 0.2, 0.0001);
    s.Loaded = true;
    s.Integral = IntegralSizingFor(m, 200, s.Loop.Period, 0);
    return s;
  }();
  TSearchSetup changed = kept;
  changed.Loop.I = 0;
  for (const auto& [name, setup, settles] : {std::tuple{"i_kept", kept, false}, std::tuple{"i_changed", changed, true}}) {
    TGainSearch search(setup);
    const std::optional<TPlannedRun> first = search.Next();
    ASSERT_TRUE(first) << name;
    EXPECT_GT(first->Gains.I, 0) << name;
    EXPECT_EQ(first->Purpose == TRunPurpose::Settle, settles) << name;
    if (!settles) continue;
    EXPECT_EQ(first->Step, 0) << name;
    search.Record(Record(0, 1000, [](int) { return 0; }, Quiet));
    const std::optional<TPlannedRun> then = search.Next();
    ASSERT_TRUE(then) << name;
    EXPECT_EQ(then->Gains, first->Gains) << name;
    EXPECT_EQ(then->Purpose, TRunPurpose::Search) << name;
    EXPECT_EQ(then->Step, 200) << name;
    EXPECT_FALSE(search.Completed()) << name << ": the rest record is no trial";
  }
}

// Under a load, gains whose verification rocked on the edge of a count are judged again with the
// same P and D and less I where the records span more than a servo cycle a sample, and kept
// where that verification comes to rest; with a sample a cycle less I rocked as often, and the
// search goes on instead.
TEST(GainSearchTest, GainsThatRockedUnderALoadAreJudgedWithLessI) {
  TMotorModel m;
  m.Gain = 2000, m.TimeConstant = 0.015, m.Friction = 0.5, m.Load = 5;
  for (const auto& [name, prediv, judged] : {std::tuple{"a_sample_a_cycle", 0, false}, std::tuple{"prediv_2", 2, true}}) {
    TSearchSetup s = SearchOn(Step(std::nullopt, 0, 40), 0.2, 0.0005);
    s.Prediv = prediv;
    s.Loaded = true;
    s.Integral = IntegralSizingFor(m, 200, s.Loop.Period, prediv);
    TGainSearch search(s);
    std::optional<TSearchGains> rocked;
    std::optional<TPlannedRun> next;
    while ((next = search.Next()) && (!rocked || next->Gains == *rocked)) {
      if (next->Purpose == TRunPurpose::Judge) rocked = next->Gains;
      search.Record(rocked ? Buzzing(*next, true) : Settling(*next));
    }
    ASSERT_TRUE(rocked && next) << name;
    const bool lessI = next->Purpose == TRunPurpose::Judge && next->Gains.P == rocked->P && next->Gains.D == rocked->D &&
                       std::abs(next->Gains.I / rocked->I - 0.6) < 0.01;
    EXPECT_EQ(lessI, judged) << name << ": P " << next->Gains.P << " I " << next->Gains.I << " D " << next->Gains.D;
    if (!judged) continue;
    const TSearchGains less = next->Gains;
    while ((next = search.Next()) && next->Gains == less) search.Record(Settling(*next));
    EXPECT_EQ(search.Kept(), std::optional(less)) << name;
  }
}

// A bolder trial with I held past its target (the approach's windup carried it there, friction
// holds it) goes on with less I, here none; one held short of it does not.
TEST(GainSearchTest, ABolderTrialHeldPastItsTargetGoesOnWithLessI) {
  TSearchSetup s = SearchOn(Step(40, 0, 0), 0.2, 0.0005);
  s.Before.Reverse = Step(std::nullopt, 0, 40);
  const TSearchGains less{0.4, 0, 0.0015, 0};
  for (const auto& [name, off, repaired] : {std::tuple{"held_past", -3.0, true}, std::tuple{"held_short", 3.0, false}}) {
    TGainSearch search(s);
    const TPlannedRun first = *search.Next();
    ASSERT_EQ(first.Gains, (TSearchGains{0.4, 0.0005, 0.0015, 0})) << name;
    const double e = off;
    search.Record(Record(200, 1000, [&](int k) { return k < 10 ? 200 * (1 - k / 10.0) : e; }, [](int) { return 0; }));
    ASSERT_TRUE(search.Next()) << name;
    EXPECT_EQ(search.Next()->Gains == less, repaired) << name << ": P " << search.Next()->Gains.P << " I "
                                                      << search.Next()->Gains.I << " D " << search.Next()->Gains.D;
  }
}

}  // namespace
