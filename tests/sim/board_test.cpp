// The board's firmware without the wire: what it stores and answers, and the physics of the
// servo loop on the motor.
#include "sim/board.h"

#include <gtest/gtest.h>

#include "sim/numbers.h"

using namespace zirvsim;

namespace {

using TLines = std::vector<std::string>;

// What the board stores is what it answers, in plain decimal that the tool reads back: no
// exponent, no trailing zeros, the shortest text of the double; clamped as a real board does.
TEST(BoardModelTest, SetAnswersTheStoredValue) {
  const std::pair<const char*, const char*> cases[] = {
      {"p 0.0125", "(p) 0.0125"}, {"0 1E-5", "(0) 0.00001"}, {"d +3.5", "(d) 3.5"},
      {"f 1E20", "(f) 100000000000000000000"}, {"p 0.30000000000000004", "(p) 0.30000000000000004"},
      {"i -0", "(i) 0"}, {"1 -2940000", "(1) -2940000"}, {"m  95 ", "(m) 95"},
      {"m 150", "(m) 100"}, {"m -5", "(m) 0"}, {"a 2000", "(a) 1023"}, {"a -1", "(a) 0"},
      {"c 0", "(c) 1"}, {"c 9", "(c) 4"}, {"g 2", "(g) 1"}, {"t 0", "(t) 1"}, {"b -3", "(b) 0"},
      {"x 2.5", "(x) 2"}, {"x 3.5", "(x) 4"},  // integers round ties to even
      {"h 1E12", "(h) 65535"},                 // beyond 32 bits
      {"f", "(f) 1000"},                       // the letter alone asks
  };
  for (const auto& [command, answer] : cases)
    EXPECT_EQ(TBoardModel().Answer(command), TLines{answer}) << command;
  for (const char* bad : {"p 1.2.3", "q 1", "p1", "o x", "p 1 2", "p abc", "p nan", "p inf",
                          "p 1e400", "p 0x10", "p --1", "r0c100ok", "rc100ok1", "r-1c100ok1",
                          "r10000c1ok1", "r0c100ok1x"})
    EXPECT_EQ(TBoardModel().Answer(bad), TLines{"?"}) << bad;
}

// How long the board idled depends on the wall clock; the step test must not.
TEST(BoardModelTest, StepFromRestDependsOnTheSeedOnly) {
  TBoardModel board(7), idled(7), other(8);
  idled.RunFor(0.03);
  const TLines first = board.Answer("r0c100ok1");
  EXPECT_EQ(first, idled.Answer("r0c100ok1"));
  EXPECT_NE(first, other.Answer("r0c100ok1"));  // the seed does drive the disturbance
}

// The overshoot of a 100-count step test with the given gains, and its last error.
std::pair<double, double> Step(double p, double d) {
  TBoardModel board;
  board.Answer("p " + FormatPlain(p));
  board.Answer("d " + FormatPlain(d));
  double overshoot = -1e9, error = 0;
  for (const std::string& line : board.Answer("r1c100ok1")) {
    if (line.rfind("error: ", 0) != 0) continue;
    error = std::stod(line.substr(7));
    overshoot = std::max(overshoot, -error);
  }
  return {overshoot, error};
}

TEST(ServoPhysicsTest, DefaultsReachTheStepAndHigherPOvershootsMoreAndDDampsIt) {
  const TBoardParams defaults;
  const auto [overshoot, error] = Step(defaults.P, defaults.D);
  EXPECT_GE(overshoot, 0);
  EXPECT_LE(std::abs(error), 5);
  EXPECT_GT(Step(defaults.P * 5, defaults.D).first, 2 * overshoot);
  EXPECT_GT(Step(defaults.P, 0).first, overshoot + 20);
}

// The oscillator drives the command at its clock rate; a following error beyond FaultError
// disables the servo until an oscillator command restarts it.
TEST(BoardModelTest, OscillatorRateAndFollowingErrorTrip) {
  TBoardModel running;
  running.Answer("f 0");      // no fault trip: the motor need not keep up
  running.Answer("o -2940");  // 10,000 counts per second backwards
  running.RunFor(0.1);
  EXPECT_NEAR(static_cast<double>(running.State().Command), -1000, 2);
  TBoardModel tripped;
  tripped.Answer("f 10");
  tripped.Answer("m 0");  // no drive: the error must grow past the limit
  tripped.Answer("r0c100ok1");
  EXPECT_EQ(tripped.Answer("s")[7], "servo enabled: 0");
  EXPECT_EQ(tripped.Answer("s")[5], "output: 0");
  tripped.Answer("o 0");
  EXPECT_EQ(tripped.Answer("s")[7], "servo enabled: 1");
}

struct TMotorTextCase {
  const char* Name;
  const char* Text;
  bool Valid;
  TMotorConstants Expected;
};

TEST(MotorConstantsTest, ParsesEachKeyOnceAndRefusesTheRest) {
  const TMotorConstants d;
  const TMotorTextCase cases[] = {
      {"all_four", "gain=600,tau=0.05,friction=1,noise=0", true, {600, 0.05, 1, 0}},
      {"order_free_noise_kept", "friction=0.2,tau=0.005,gain=6000", true, {6000, 0.005, 0.2, d.NoisePercent}},
      {"one_key_keeps_the_others", "tau=0.1", true, {d.CountsPerSecondPerPercent, 0.1, d.FrictionPercent, d.NoisePercent}},
      {"zero_friction_allowed", "friction=0", true, {d.CountsPerSecondPerPercent, d.TimeConstant, 0, d.NoisePercent}},
      {"empty", "", false, {}},
      {"zero_gain", "gain=0", false, {}},
      {"negative_tau", "tau=-0.01", false, {}},
      {"negative_friction", "friction=-1", false, {}},
      {"unknown_key", "gain=1,mass=2", false, {}},
      {"key_twice", "gain=1,gain=2", false, {}},
      {"trailing_comma", "gain=1,", false, {}},
      {"no_value", "gain=", false, {}},
      {"no_equals", "gain", false, {}},
      {"not_a_number", "tau=fast", false, {}},
      {"prefix_of_a_key", "gai=1", false, {}},
  };
  for (const TMotorTextCase& c : cases) {
    const auto motor = ParseMotorConstants(c.Text);
    ASSERT_EQ(motor.has_value(), c.Valid) << c.Name;
    if (!motor) continue;
    EXPECT_EQ(motor->CountsPerSecondPerPercent, c.Expected.CountsPerSecondPerPercent) << c.Name;
    EXPECT_EQ(motor->TimeConstant, c.Expected.TimeConstant) << c.Name;
    EXPECT_EQ(motor->FrictionPercent, c.Expected.FrictionPercent) << c.Name;
    EXPECT_EQ(motor->NoisePercent, c.Expected.NoisePercent) << c.Name;
  }
}

// The board drives the motor it was given: with the output held at 10 % for 0.2 s (many time
// constants), the speed is gain x (10 - friction) counts per second. A time constant far below
// the servo period must not make the motion blow up.
TEST(MotorConstantsTest, BoardDrivesTheGivenMotor) {
  const std::pair<TMotorConstants, int> cases[] = {
      {{}, 4}, {{6000, 0.005, 1, 0}, 4}, {{600, 0.045, 0, 0}, 4}, {{2000, 0.0005, 0.5, 0}, 100}};
  for (const auto& [motor, ticks] : cases) {
    TBoardModel board(1, motor);
    for (const char* command : {"p 0", "i 0", "d 0", "f 0", "0 0.0001"})  // FF0 only: a steady drive
      board.Answer(command);
    board.Answer("t " + std::to_string(ticks));
    board.Answer("r0c100000ok1");  // command 100,000: FF0 x command = 10 %
    board.RunFor(0.2);
    const double start = static_cast<double>(board.State().Feedback);
    board.RunFor(0.1);
    const double speed = (static_cast<double>(board.State().Feedback) - start) / 0.1;
    EXPECT_NEAR(speed, motor.CountsPerSecondPerPercent * (10 - motor.FrictionPercent),
                0.02 * motor.CountsPerSecondPerPercent * 10)
        << motor.TimeConstant;
  }
}

}  // namespace
