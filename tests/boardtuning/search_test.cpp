// The search as a procedure on a board: a run that shows a danger is followed by the board's
// own values before anything else, and a trip of the servo ends the search.
#include "boardtuning/boardsearch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "boardtuning/suggestonboard.h"
#include "tests/tuning/boardrun.h"
#include "tuning/choice.h"
#include "tuning/records.h"

namespace {

// A board that answers every step test with a response that settles at once, except the first,
// which shows the danger it is given; it notes every call.
class TScriptedBoard : public TTrialBoard {
 public:
  explicit TScriptedBoard(TDanger first) : FFirst(first) {}

  TResult<TStepRecord> Run(const TPlannedRun& run) override {
    Calls.push_back("run " + std::to_string(run.Step));
    TStepRecord r;
    r.Setup.Loop.MaxOutput = 95;
    r.Setup.Loop.FaultError = 1000;
    r.Setup.Step = run.Step;
    const bool dangerous = Calls.size() == 1 && FFirst != TDanger::None;
    for (int k = 0; k < kStepTestSamples; ++k) {
      double error = k < 10 ? run.Step * (1 - k / 10.0) : 0;
      if (dangerous && FFirst == TDanger::Growing && k >= 3) error = std::min(200.0, 6 * std::pow(1.3, k / 3)) * (k / 3 % 2 ? -1 : 1);
      if (dangerous && FFirst == TDanger::Tripped && k >= 3) error = 1200;
      r.Errors.push_back(std::round(error));
      r.Outputs.push_back(dangerous && FFirst == TDanger::HeldAtLimit && k > 20 && k < 60 ? 95 : 0);
    }
    return r;
  }
  TResult<void> PutBack() override {
    Calls.push_back("put back");
    return {};
  }
  TResult<void> Store(const TSearchRun& run, const TSearchTrial* completed) override {
    Calls.push_back(completed ? "store, trial " + std::to_string(completed->Number) + (run.Danger != TDanger::None ? " dangerous" : "")
                              : "store");
    return {};
  }
  int Writes() const override { return 0; }
  int WritesFor(const TSearchGains&) const override { return 2; }
  double Seconds() const override { return double(Calls.size()) / 10; }

  std::vector<std::string> Calls;

 private:
  TDanger FFirst;
};

struct TDangerCase {
  const char* Name;
  TDanger First;
  std::vector<std::string> Calls;  // the first calls
  TSearchEnd End;
};

// The suggestion's small step shows the danger: the board's values go back right after it,
// before the run is stored and before any other step test; a trip also ends the search.
TEST(BoardSearchTest, DangerPutsTheBoardBackAtOnce) {
  const TDangerCase cases[] = {
      {"growing_oscillation", TDanger::Growing, {"run 50", "put back", "store, trial 1 dangerous", "run -200"}, TSearchEnd::Kept},
      {"held_at_the_limit", TDanger::HeldAtLimit, {"run 50", "put back", "store, trial 1 dangerous", "run -200"}, TSearchEnd::Kept},
      {"trip", TDanger::Tripped, {"run 50", "put back", "store, trial 1 dangerous"}, TSearchEnd::Tripped},
      {"none", TDanger::None,
       {"run 50", "store, trial 1", "run -50", "store", "run 200", "store", "run -200", "store", "run 0", "store, trial 2"},
       TSearchEnd::Kept},
  };
  for (const TDangerCase& c : cases) {
    TSearchSetup setup;
    setup.Loop.P = 0.2, setup.Loop.D = 0.0015, setup.Loop.MaxOutput = 95, setup.Loop.FaultError = 1000;
    setup.Step = 200;
    TStepFigures slow;
    slow.SteadyStateError = 40;
    slow.Iae = 20000;
    setup.Before = {slow, slow, slow};
    setup.Guess = TSearchGains{0.8, 0, 0.002, 0};
    TGainSearch search(setup);
    TScriptedBoard board(c.First);
    const TSearchOutcome out = RunGainSearch(search, board, {60, 90, 200, 1}, {});
    ASSERT_GE(board.Calls.size(), c.Calls.size()) << c.Name;
    EXPECT_EQ(std::vector<std::string>(board.Calls.begin(), board.Calls.begin() + long(c.Calls.size())), c.Calls) << c.Name;
    EXPECT_EQ(out.End, c.End) << c.Name;
    if (c.End == TSearchEnd::Tripped) {
      EXPECT_EQ(board.Calls.size(), c.Calls.size()) << c.Name << ": no step test after a trip";
    }
  }
}

// A search starts from the suggestion, except where the records show a glitch of the encoder:
// there the search holds its trials to the glitch's kick, and it starts from the model's gains
// chosen within that hold, not from the bolder suggestion cut down to it (which kept D's share
// and overshot).
TEST(BoardSearchTest, FirstGuessWithinTheGlitchHold) {
  const struct {
    const char* Motor;
    bool Glitches;
  } cases[] = {{"glitch=10", true}, {"play=3", false}};
  for (const auto& c : cases) {
    zirvsim::TBoardModel sim(1, *zirvsim::ParseMotorConstants(c.Motor));
    SetGains(sim, 0.03, 0, 0.0005);  // sluggish: the model's gains within the hold differ
    const TPIDParams present = ToRecord(sim.Params());
    const TChoice choice = ChooseGains(*RecordsOfRuns(MeasuredRuns(sim, 200, 2)), {present, 200, 2, {}});
    ASSERT_TRUE(choice.Suggestion.Found) << c.Motor;
    TSearchSetup setup;
    setup.Loop = LoopSettings(present);
    setup.Step = 200;
    setup.Prediv = 2;
    TakeRecordsInto(setup, choice.Identification, choice.Extras);
    ASSERT_EQ(setup.GlitchCounts > 0, c.Glitches) << c.Motor;
    const TGains& g = choice.Suggestion.Gains;
    const TSearchGains suggested{g.P, g.I, g.D, choice.Deadband};
    TakeFirstGuessInto(setup, suggested, choice.Identification, choice.Extras, choice.Setup);
    ASSERT_TRUE(setup.Guess) << c.Motor;
    const auto jump = [&](const TSearchGains& s) { return s.P + s.I + s.D / setup.Loop.Period; };
    const double held = GoalAgainstGlitches(setup.Goal, choice.Extras).MaxCountJumpPct / 100 * setup.Loop.MaxOutput;
    if (c.Glitches) {
      EXPECT_GT(jump(suggested), held) << c.Motor;
      EXPECT_LE(jump(*setup.Guess), held * (1 + 1e-9)) << c.Motor;
    } else {
      EXPECT_EQ(setup.Guess->P, suggested.P) << c.Motor;
      EXPECT_EQ(setup.Guess->D, suggested.D) << c.Motor;
    }
  }
}

}  // namespace
