// The machines people have, measured on the simulated board as suggest measures them (a step,
// the step back at once, a rest record): what the fit finds of each, what the records show, and
// the choice made from them, the same from the history as live and the same on boards that
// differ only in their disturbances.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "tests/tuning/boardrun.h"
#include "tuning/choice.h"
#include "tuning/gainsearch.h"
#include "tuning/records.h"

namespace {

// A range a fitted constant must lie in; both NAN: not checked.
struct TRange {
  double Min = NAN, Max = NAN;
};

void ExpectIn(double value, const TRange& range, const char* what, const std::string& name) {
  if (std::isnan(range.Min)) return;
  EXPECT_GE(value, range.Min) << name << ": " << what;
  EXPECT_LE(value, range.Max) << name << ": " << what;
}

struct TMachineCase {
  const char* Name;
  const char* Motor;  // --motor text
  int Prediv;
  TRange Gain, Lag, Load, Slope, Play, Friction;
  TRange DeadCycles;  // delay and lag together, in servo cycles: they take up each other in part
};

void PrintTo(const TMachineCase& c, std::ostream* out) { *out << c.Name; }

TBoardRecords Records(const char* motor, int prediv, uint64_t seed = 1, double p = 0.2, double i = 0.0005, double d = 0.0015) {
  zirvsim::TBoardModel board(seed, *zirvsim::ParseMotorConstants(motor));
  SetGains(board, p, i, d);
  return *RecordsOfRuns(MeasuredRuns(board, 200, prediv));
}

// The default motor's gain is 2000 counts/s per % of drive; a fit within a tenth of it. What a
// machine has not, the fit finds not, or no more than a fit a hair off would: a load of a fifth
// of a percent, a slope of a tenth of a percent per 100 counts.
constexpr TRange kGain{1800, 2200};
constexpr TRange kNoLoad{-0.2, 0.2};
constexpr TRange kNoSlope{-0.001, 0.001};
constexpr TRange kNoPlay{-1e-9, 1e-9};

const TMachineCase kMachines[] = {
    // Lag and delay take up each other in part, and where they make the motion turn a count of
    // play may read.
    {"lag_and_delay", "lag=0.002,delay=1", 0, kGain, {0.0015, 0.0025}, kNoLoad, kNoSlope, {0, 1}, {}, {5, 7}},
    {"delay_of_two_cycles", "delay=2", 0, kGain, {}, kNoLoad, kNoSlope, kNoPlay, {}, {1.5, 2.5}},
    {"lag_every_third_cycle", "lag=0.002,delay=1", 2, {}, {0.001, 0.003}, {}, {}, kNoPlay, {}, {}},
    {"constant_load", "load=5", 0, kGain, {}, {4.5, 5.5}, {-0.002, 0.002}, kNoPlay, {0.3, 0.7}, {}},
    {"constant_load_every_third_cycle", "load=5", 2, kGain, {}, {4.5, 5.5}, {-0.003, 0.003}, kNoPlay, {0.2, 0.8}, {}},
    // Level at position 0, the arm's pull falls as it turns (8 % x the cosine of up to 18
    // degrees over the step): found falling with position. Its weight, friction and the gain
    // trade with each other in a step and a step back taken at once.
    {"gravity_arm", "gravity=8", 0, {}, {}, {6, 11}, {-0.03, 0}, kNoPlay, {}, {}},
    {"play_of_three_counts", "play=3", 0, kGain, {}, kNoLoad, kNoSlope, {1.5, 4}, {}, {}},
    // An encoder of a tenth of the counts: the gain a tenth, and its coarse counts no play.
    {"coarse_encoder", "cpr=400", 0, {180, 220}, {}, kNoLoad, kNoSlope, kNoPlay, {}, {}},
    {"glitches_no_play", "glitch=20", 0, kGain, {}, kNoLoad, kNoSlope, kNoPlay, {}, {}},
    // Friction of 2 % every third cycle; the dead zone friction leaves where the motion turns
    // may read as a count of play.
    {"friction_every_third_cycle", "friction=2", 2, kGain, {}, kNoLoad, kNoSlope, {0, 2}, {1.7, 2.3}, {}},
};

class MachinesTest : public testing::TestWithParam<TMachineCase> {};

// Each machine the model holds is fitted with what it has, and nothing it has not.
TEST_P(MachinesTest, FitFindsWhatTheMachineHas) {
  const TMachineCase& c = GetParam();
  const TIdentification id = IdentifyMotor(Records(c.Motor, c.Prediv).Steps);
  ASSERT_TRUE(id.Usable) << id.Problem;
  ExpectIn(id.Motor.Gain, c.Gain, "gain", c.Name);
  ExpectIn(id.Motor.Lag, c.Lag, "lag", c.Name);
  ExpectIn(id.Motor.Load, c.Load, "load", c.Name);
  ExpectIn(id.Motor.LoadSlope, c.Slope, "load slope", c.Name);
  ExpectIn(id.Motor.Play, c.Play, "play", c.Name);
  ExpectIn(id.Motor.Friction, c.Friction, "friction", c.Name);
  ExpectIn(id.Motor.DelayCycles + id.Motor.Lag / 4e-4, c.DeadCycles, "delay and lag", c.Name);
}

INSTANTIATE_TEST_SUITE_P(Tuning, MachinesTest, testing::ValuesIn(kMachines),
                         [](const testing::TestParamInfo<TMachineCase>& info) { return std::string(info.param.Name); });

struct TFlickerCase {
  const char* Name;
  const char* Motor;
  bool Play;
  double MinDeadband, MaxDeadband;  // the deadband the choice writes
  double CountJumpPct;              // the count jump it keeps to
};

// Play, an encoder's glitches, its noise and a coarse encoder tell themselves apart: only play
// is play, a glitch asks for no deadband and leaves the model's count jump alone (a run's
// records show one or not by chance) while the search holds its trials to what keeps a glitch's
// kick at the deadband's edge within the rest limit, noise sets both to its own.
TEST(MachinesTest, PlayGlitchesNoiseAndCoarseCountsToldApart) {
  // A deadband is a count at least wherever one count moves the output by more than a rest may,
  // the flicker's size where it flickers, and at most a count more than what the records show.
  const TFlickerCase cases[] = {
      {"play", "play=3", true, 1, 2, 20},
      {"glitches_now_and_then", "glitch=10", false, 0, 1, 20},
      {"noise", "encnoise=1", false, 1, 2, 10},
      {"coarse", "cpr=400", false, 0, 2, 20},
  };
  for (const TFlickerCase& c : cases) {
    const TChoice choice = ChooseGains(Records(c.Motor, 0), {ToRecord(zirvsim::TBoardParams{}), 200, 0, {}});
    EXPECT_EQ(choice.Extras.PlayCounts > 0, c.Play) << c.Name;
    EXPECT_EQ(choice.CountJumpInForcePct, c.CountJumpPct) << c.Name;
    // The search on the board keeps to the same count jump. From bold gains whose step ends far
    // from target, its first trial moves P up as far as the count jump lets it: beyond the rest
    // limit only where the count is neither noisy nor glitching (a glitch holds every trial to
    // its kick). Its deadband may reach a count beyond the flicker or play.
    TSearchSetup setup;
    setup.Loop = LoopSettings(ToRecord(zirvsim::TBoardParams{}));
    setup.Step = 200;
    TakeRecordsInto(setup, choice.Identification, choice.Extras);
    // A glitch seen once keeps loud gains off the board; play and a coarse count do not.
    if (std::string(c.Name) == "glitches_now_and_then") {
      EXPECT_GE(setup.GlitchCounts, 2) << c.Name;
    }
    if (c.Play || std::string(c.Name) == "coarse") {
      EXPECT_EQ(setup.GlitchCounts, 0) << c.Name;
    }
    if (setup.DeadbandFloor > 0) {
      EXPECT_EQ(SearchBounds(setup).DeadbandMax, setup.DeadbandFloor + 1) << c.Name;
    }
    TStepFigures far;
    far.SteadyStateError = 40;
    setup.Before = {far, far, far};
    setup.Loop.P = 6, setup.Loop.I = 0, setup.Loop.D = 0.005;
    const std::optional<TPlannedRun> first = TGainSearch(setup).Next();
    ASSERT_TRUE(first) << c.Name;
    const double jump = first->Gains.P + first->Gains.I + first->Gains.D / setup.Loop.Period;
    EXPECT_EQ(jump <= SearchBounds(setup).QuietCountJump * (1 + 1e-9), c.CountJumpPct <= kRestLimitPct || setup.GlitchCounts > 0)
        << c.Name << ": " << jump;
    if (!choice.Suggestion.Found) continue;  // a coarse encoder's friction may leave none, and says so
    EXPECT_GE(choice.Deadband, c.MinDeadband) << c.Name;
    EXPECT_LE(choice.Deadband, c.MaxDeadband) << c.Name;
  }
}

// The same machine on boards that differ only in their disturbance gives the same choice: P and
// D within 30 % of each other, and one deadband.
TEST(MachinesTest, SameMachineSameChoice) {
  const struct {
    const char* Motor;
    uint64_t FirstSeed = 1;
  } cases[] = {
      {"noise=0.02"},
      {"play=3"},
      {"delay=1"},
      // A worn drive's play and glitches blur its delay of a cycle: on these boards a fit with
      // none and a lag of a cycle came out best, and P a third lower.
      {"delay=1,play=1.185,glitch=7.091", 7},
  };
  for (const auto& [motor, firstSeed] : cases) {
    std::vector<double> ps, ds;
    std::set<double> deadbands;
    for (uint64_t seed = firstSeed; seed < firstSeed + 4; ++seed) {
      const TChoice c = ChooseGains(Records(motor, 0, seed), {ToRecord(zirvsim::TBoardParams{}), 200, 0, {}});
      ASSERT_TRUE(c.Suggestion.Found) << motor << ": " << c.Refusal;
      ps.push_back(c.Suggestion.Gains.P);
      ds.push_back(c.Suggestion.Gains.D);
      deadbands.insert(c.Deadband);
    }
    EXPECT_LE(*std::max_element(ps.begin(), ps.end()), 1.3 * *std::min_element(ps.begin(), ps.end())) << motor;
    EXPECT_LE(*std::max_element(ds.begin(), ds.end()), 1.3 * *std::min_element(ds.begin(), ds.end())) << motor;
    EXPECT_EQ(deadbands.size(), 1u) << motor;
  }
}

// Gains chosen on a board whose own loop without I left the motor off target, its sum wound up
// all the while: written and left to rest as suggest does, and after a step and the step back,
// the motor rests within a count or the deadband of target, and on it where the gains have an
// integral and no deadband (a count off, the integral winds until the motor slips).
TEST(MachinesTest, ChoiceFromAWoundSumRestsOnTarget) {
  const struct {
    const char* Name;
    const char* Motor;
    double P, I, D;
  } cases[] = {
      // Sixteen counts off: a second after the write the new I still pushed with half the sum.
      {"delay_from_a_sluggish_loop_without_i", "delay=2", 0.03, 0, 0.0005},
  };
  for (const auto& c : cases) {
    zirvsim::TBoardModel board(1, *zirvsim::ParseMotorConstants(c.Motor));
    SetGains(board, c.P, c.I, c.D);
    const TPIDParams present = ToRecord(board.Params());
    const TChoice choice = ChooseGains(*RecordsOfRuns(MeasuredRuns(board, 200, 0)), {present, 200, 0, {}});
    ASSERT_TRUE(choice.Suggestion.Found) << c.Name << ": " << choice.Refusal;
    const TGains& g = choice.Suggestion.Gains;
    zirvsim::TBoardParams params = board.Params();
    params.P = g.P, params.I = g.I, params.D = g.D, params.FeedForward1 = g.FF1, params.Deadband = choice.Deadband;
    board.SetParams(params);
    board.RunFor(1.0);
    RunOnBoard(board, 200, 0);
    board.RunFor(0.01);
    RunOnBoard(board, -200, 0);
    board.RunFor(0.3);
    const TStepRecord rest = RunOnBoard(board, 0, 0);
    const double off = g.I > 0 && choice.Deadband < 1 ? 0 : std::max(1.0, choice.Deadband);
    EXPECT_LE(std::abs(rest.Errors.back()), off) << c.Name << ": P " << g.P << " I " << g.I << " b " << choice.Deadband;
  }
}

// A noisy count holds one count to the rest limit; where nothing within the hold pulls the
// motor onto target against its friction and gains within the count jump asked for would, the
// refusal names the hold and its figure, not the friction.
TEST(MachinesTest, RefusalNamesTheHoldOnTheCountJumpWhereItBinds) {
  const struct {
    const char* Motor;
    const char* Cause;
    const char* Figure;
  } cases[] = {
      {"encnoise=1,friction=2.5,gain=800,tau=0.03", "the count flickers as noise does", ", 10 % of"},
  };
  for (const auto& c : cases) {
    const TChoice choice = ChooseGains(Records(c.Motor, 0), {ToRecord(zirvsim::TBoardParams{}), 200, 0, {}});
    ASSERT_FALSE(choice.Suggestion.Found) << c.Motor;
    EXPECT_EQ(choice.Refusal.rfind(c.Cause, 0), 0u) << choice.Refusal;
    EXPECT_NE(choice.Refusal.find(std::string(c.Figure) + " \"Max Output (m):\": no gains within that"), std::string::npos)
        << choice.Refusal;
  }
}

struct TStartCase {
  const char* Name;
  double P, I, D, FF0, Deadband;
  const char* Motor = "load=2";
  int Prediv = 0;
  double Within = 0.001;  // % of drive: the integral's drive read against the status's
};

// A run's own samples tell the loop's state before it as the status read just before the
// step does: the error, and the integral's drive. Every cycle sampled, exactly; otherwise the
// cycles between the samples are not seen, and a noisy encoder's count in one of them kicks
// the sample's output by D (3.75 % of drive here): the integral's drive is read within half
// the friction.
TEST(RecordsTest, StartReadFromTheSamplesIsTheStatus) {
  const TStartCase cases[] = {
      {"default_gains", 0.2, 0.0005, 0.0015, 0, 0},
      {"large_integral", 0.3, 0.004, 0.002, 0, 0},
      {"feed_forward_of_position", 0.2, 0.0005, 0.0015, 0.0002, 0},
      {"deadband", 0.4, 0.001, 0.002, 0, 1},
      {"noisy_encoder_every_third_cycle", 0.2, 0.0005, 0.0015, 0, 0, "encnoise=1,friction=0.6", 2, 0.25},
  };
  for (const TStartCase& c : cases) {
    zirvsim::TBoardModel board(3, *zirvsim::ParseMotorConstants(c.Motor));
    zirvsim::TBoardParams params = board.Params();
    params.P = c.P, params.I = c.I, params.D = c.D, params.FeedForward0 = c.FF0, params.Deadband = c.Deadband;
    board.SetParams(params);
    board.RunFor(1.0);
    board.Answer("r0c150ok1");  // away from position 0, where the feed-forward adds nothing
    board.RunFor(1.0);
    const TStepRecord status = RunOnBoard(board, 100, c.Prediv);
    TStepRun run;
    run.Step = 100, run.Prediv = c.Prediv, run.Params = ToRecord(board.Params()), run.Errors = status.Errors, run.Outputs = status.Outputs;
    const TStepStart read = StartOfRun(run);
    if (c.Prediv == 0) {
      EXPECT_EQ(read.Error, status.Setup.Start.Error) << c.Name;
    }
    EXPECT_NEAR(RestDrive(status.Setup.Loop, read), RestDrive(status.Setup.Loop, status.Setup.Start), c.Within) << c.Name;
  }
}

struct TRefusedRuns {
  const char* Name;
  const char* Says;
};

// Runs of different boards or loop settings, or without a step, give no records, and say why.
TEST(RecordsTest, RefusesRunsOfDifferentBoardsOrGains) {
  zirvsim::TBoardModel board(1, {});
  const std::vector<TStepRun> runs = MeasuredRuns(board, 200, 0);
  std::vector<TStepRun> otherBoard = runs, otherGains = runs, restOnly = {runs[2]};
  otherBoard[1].Port = QStringLiteral("COM2");
  otherGains[1].Params.P = 0.3;
  const std::pair<std::vector<TStepRun>, TRefusedRuns> cases[] = {
      {otherBoard, {"other_board", "were made on different boards (COM1, COM2)"}},
      {otherGains, {"other_gains", "the runs were made with different loop settings"}},
      {restOnly, {"rest_record_only", "there is no step test among the runs"}},
  };
  for (const auto& [given, c] : cases) {
    const TResult<TBoardRecords> records = RecordsOfRuns(given);
    ASSERT_FALSE(records) << c.Name;
    EXPECT_TRUE(records.Failure().Message.contains(QLatin1String(c.Says))) << c.Name << ": " << records.Failure().Message.toStdString();
  }
  ASSERT_TRUE(RecordsOfRuns(runs));
  EXPECT_EQ(RecordsOfRuns(runs)->Steps.size(), 2u);
}

// The kept gains measured on the machine as a technician would afterwards: a step, the step
// back and a rest record, each a second after the one before.
TBoardFigures Afterwards(zirvsim::TBoardModel board, const TSearchGains& g, int prediv) {
  board.RunFor(1.0);  // at rest with the gains it had, holding its load
  zirvsim::TBoardParams params = board.Params();
  params.P = g.P, params.I = g.I, params.D = g.D, params.Deadband = g.Deadband;
  board.SetParams(params);
  TBoardFigures f;
  for (int step : {200, -200, 0}) {
    board.RunFor(1.0);
    const TStepRecord r = RunOnBoard(board, step, step == 0 ? 0 : prediv);
    const TStepFigures figures = ComputeStepFigures(r.Errors, r.Outputs, r.Setup.Step, r.Setup.Loop.MaxOutput);
    if (step > 0) f.Forward = figures;
    else if (step < 0) f.Reverse = figures;
    else f.Rest = figures;
  }
  return f;
}

// The search as the board procedure runs it after the model's choice, its runs on the simulated
// board (the loop given time to rest between them).
TGainSearch SearchedOnBoard(zirvsim::TBoardModel& board, const std::vector<TStepRun>& runs, const TChoice& choice,
                            int prediv) {
  TSearchSetup setup;
  setup.Loop = LoopSettings(ToRecord(board.Params()));
  setup.Step = 200;
  setup.Prediv = prediv;
  setup.Before = {runs[0].Figures, runs[1].Figures, runs[2].Figures};
  TakeRecordsInto(setup, choice.Identification, choice.Extras);
  if (choice.Refusal.empty())
    setup.Guess = TSearchGains{choice.Suggestion.Gains.P, choice.Suggestion.Gains.I, choice.Suggestion.Gains.D, choice.Deadband};
  TakeModelGuessInto(setup, choice.Identification, choice.Extras, choice.Setup, choice.Deadband);
  TGainSearch search(setup);
  const zirvsim::TBoardParams own = board.Params();
  while (const std::optional<TPlannedRun> next = search.Next()) {
    // As the board procedure does: the board's own values back and the loop at rest with them
    // first, so that new gains meet the integral's sum as they will once they stay.
    if (next->FromOwnGains) {
      board.SetParams(own);
      board.RunFor(0.3);
    }
    zirvsim::TBoardParams params = board.Params();
    params.P = next->Gains.P, params.I = next->Gains.I, params.D = next->Gains.D, params.Deadband = next->Gains.Deadband;
    board.SetParams(params);
    board.RunFor(0.3);
    search.Record(RunOnBoard(board, next->Step, next->Step == 0 ? 0 : prediv));
  }
  return search;
}

struct TLoadSearchCase {
  const char* Name;
  const char* Motor;
  int Prediv;
  bool Keeps;  // gains are found; otherwise either, with a reason where none are
  bool WithoutI = false;  // from P 0.6 and D 0.0003 without I: the board's sum holds nothing
  bool Sluggish = false;  // from P 0.03 and D 0.0005 without I
};

// suggest --apply on machines with a load, from the default gains (or gains without I), as the
// board procedure runs the search (its runs on the simulated board, the loop given time to rest
// between them): the model's choice finds nothing within its friction margin, and the search starts from the
// gains the model settles fastest without it. Gains kept meet the goal when measured again;
// where none are kept, the search says why.
TEST(MachinesTest, SearchOnALoadMeetsTheGoalOrSaysWhy) {
  const TLoadSearchCase cases[] = {
      // At prediv 0 a step's tail may show I taking up the last count or two of the approach, each
      // slip onto a count nearer the target kicking the output through D: settling, not a hunt.
      {"constant_load", "load=5", 0, true},
      // A lighter load may also show gains no bolder than those verified creeping a count past the
      // target and back at rest: kept only where they meet the goal, else a reason.
      {"constant_load_lighter", "load=3", 0, false},
      // Where the integral holds a load against friction, the motor may stick and slip a count at
      // rest now and then, each slip kicking the output through D: kept only where no run showed
      // it, else a reason.
      {"constant_load_every_third_cycle", "load=5", 2, false},
      {"constant_load_pulling_up", "load=-4", 0, false},
      {"gravity_arm", "gravity=8,angle=100", 0, false},
      // A lighter arm, where the search may try gains as loud as a prompt drive allows: kept only
      // where they meet the goal measured again, else a reason.
      {"lighter_gravity_arm", "gravity=3.6,angle=94", 0, false},
      {"spring_to_a_wall", "spring=0.05,wall=60", 0, false},
      {"spring_to_a_wall_every_third_cycle", "spring=0.05,wall=60", 2, false},
      {"stiffer_spring_to_a_nearer_wall_every_third_cycle", "spring=0.1,wall=70", 2, false},
      // Gains with too slow an I rest on whatever sum the board's own loop without I wound up:
      // right by chance in the verification, off target after a restart.
      {"constant_load_from_gains_without_i_every_third_cycle", "load=3.185", 2, false, true},
      // A stiff spring whose step back, where the spring lets go, rests a count past its target
      // with the model's I, and rocks there in most rests.
      {"stiff_spring_to_a_nearer_wall_from_a_sluggish_loop", "spring=0.09788,wall=70.3", 0, false, false, true},
  };
  for (const TLoadSearchCase& c : cases) {
    zirvsim::TBoardModel board(1, *zirvsim::ParseMotorConstants(c.Motor));
    if (c.WithoutI || c.Sluggish) {
      zirvsim::TBoardParams start = board.Params();
      start.P = c.Sluggish ? 0.03 : 0.6, start.I = 0, start.D = c.Sluggish ? 0.0005 : 0.0003;
      board.SetParams(start);
    }
    std::vector<TStepRun> runs = MeasuredRuns(board, 200, c.Prediv);
    for (TStepRun& run : runs) UpdateFigures(run);
    const TChoice choice = ChooseGains(*RecordsOfRuns(runs), {ToRecord(board.Params()), 200, c.Prediv, {}});
    const TGainSearch search = SearchedOnBoard(board, runs, choice, c.Prediv);
    if (c.Keeps) {
      EXPECT_TRUE(search.Kept()) << c.Name << ": " << (search.Failures().empty() ? "" : search.Failures().front().Text);
    }
    if (!search.Kept()) {
      EXPECT_FALSE(search.Failures().empty() && choice.Refusal.empty()) << c.Name << ": no reason";
      continue;
    }
    const TBoardFigures after = Afterwards(zirvsim::TBoardModel(1, *zirvsim::ParseMotorConstants(c.Motor)), *search.Kept(), c.Prediv);
    const double band = search.Kept()->Deadband;
    SCOPED_TRACE(testing::Message() << "kept P " << search.Kept()->P << " I " << search.Kept()->I << " D " << search.Kept()->D << " b " << band);
    EXPECT_TRUE(StepWithinGoal(after.Forward, {}, band)) << c.Name << ": forward";
    EXPECT_TRUE(StepWithinGoal(after.Reverse, {}, band)) << c.Name << ": reverse";
    ASSERT_TRUE(after.Rest) << c.Name;
    EXPECT_LE(after.Rest->RestOutputPpPct.value_or(0), kRestLimitPct) << c.Name << ": rest";
  }
}

// Under a load, a sluggish loop stops far short of its target and its steps show the fit little
// of the motor: it finds a delay of a cycle the drive has not, and with it the swing across both
// edges of the deadband holds D to half of what rests quietly. The search fits the motor again on
// its first verification's bolder steps and, the drive prompt, tries D beyond that half.
TEST(MachinesTest, ASluggishLoopUnderALoadIsFittedAgainOnBolderSteps) {
  zirvsim::TBoardModel board(1, *zirvsim::ParseMotorConstants("load=3.185"));
  SetGains(board, 0.03, 0, 0.0005);
  std::vector<TStepRun> runs = MeasuredRuns(board, 200, 2);
  for (TStepRun& run : runs) UpdateFigures(run);
  const TChoice choice = ChooseGains(*RecordsOfRuns(runs), {ToRecord(board.Params()), 200, 2, {}});
  ASSERT_TRUE(choice.Identification.Usable);
  ASSERT_GE(choice.Identification.Motor.DelayCycles, 1) << "the fit of the sluggish steps finds the drive prompt";
  const TGainSearch search = SearchedOnBoard(board, runs, choice, 2);
  const double period = LoopSettings(ToRecord(board.Params())).Period;
  const double half = search.Bounds().QuietCountJump / 2;
  EXPECT_TRUE(std::any_of(search.Trials().begin(), search.Trials().end(), [&](const TSearchTrial& t) {
    return t.Gains.P + t.Gains.I + t.Gains.D / period > half * 1.01;
  }));
}

}  // namespace
