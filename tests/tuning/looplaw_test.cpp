// The loop-law check: the simulated board's outputs replayed from its errors, and a board
// whose loop integrates per second instead of per cycle told apart.
#include "tuning/looplaw.h"

#include <gtest/gtest.h>

#include "tests/tuning/boardrun.h"

namespace {

struct TLawCase {
  const char* Name;
  zirvsim::TMotorConstants Motor;
  double P, I, D;
  int Prediv;
  bool PerSecond;  // the board integrates error x period
  TLawVerdict Verdict;
};

// The law holds whatever the motor (play, noise, resonance do not change it); at prediv 0 with
// the integral per second it differs; without I the two laws are the same and match.
const TLawCase kLawCases[] = {
    {"default_board", {}, 0.2, 0.0005, 0.0015, 0, false, TLawVerdict::Matches},
    {"motor_with_play_and_noise", {2000, 0.015, 0.5, 0.02, 0, 0, 3, 1}, 0.2, 0.0005, 0.0015, 0, false,
     TLawVerdict::Matches},
    {"integral_per_second", {}, 0.2, 0.0005, 0.0015, 0, true, TLawVerdict::Differs},
    {"integral_per_second_without_i", {}, 0.2, 0, 0.0015, 0, true, TLawVerdict::Matches},
    {"high_friction_at_prediv_3", {500, 0.05, 2, 0.5}, 0.005, 0.0001, 0.0005, 3, false, TLawVerdict::Matches},
    {"integral_per_second_at_prediv_3", {500, 0.05, 2, 0.5}, 0.05, 0.0005, 0.0005, 3, true, TLawVerdict::Differs},
};

TEST(LoopLawTest, ReplaysTheBoardsOutputsAndTellsAnotherLawApart) {
  for (const TLawCase& c : kLawCases) {
    zirvsim::TBoardModel board(4, c.Motor);
    board.SetIntegralPerSecond(c.PerSecond);
    SetGains(board, c.P, c.I, c.D);
    board.RunCycles(500);
    const TLoopLawCheck check = CheckLoopLaw(RunOnBoard(board, 200, c.Prediv));
    EXPECT_EQ(check.Verdict, c.Verdict) << c.Name << ": worst " << check.WorstDeviation << " at " << check.WorstSample
                                        << " of " << check.Checked;
  }
}

// A loop at rest with no error tells no law from another.
TEST(LoopLawTest, ARecordWithoutErrorsDecidesNothing) {
  TStepRecord rest;
  rest.Setup.Loop.P = 0.2;
  rest.Setup.Loop.I = 0.0005;
  rest.Errors.assign(199, 0.0);
  rest.Outputs.assign(199, 0.0);
  EXPECT_EQ(CheckLoopLaw(rest).Verdict, TLawVerdict::Undecided);
  rest.Outputs[50] = 1;  // an output no error explains
  EXPECT_EQ(CheckLoopLaw(rest).Verdict, TLawVerdict::Differs);
}

// At prediv 1 a count may come and go in the cycle between two samples: the output is then off
// by a D kick of one count, which is no other law.
TEST(LoopLawTest, AnUnseenFlickerBetweenSamplesIsNoOtherLaw) {
  TStepRecord r;
  r.Setup.Prediv = 1;
  r.Setup.Loop.P = 0.4;
  r.Setup.Loop.D = 0.0075;  // a kick of 18.75 % per count
  r.Errors.assign(199, 3.0);
  r.Outputs.assign(199, 1.2);
  r.Outputs[100] = 1.2 - 18.75;
  EXPECT_NE(CheckLoopLaw(r).Verdict, TLawVerdict::Differs);
  r.Outputs[100] = 1.2 - 9;  // half a kick: no count explains it
  EXPECT_EQ(CheckLoopLaw(r).Verdict, TLawVerdict::Differs);
}

}  // namespace
