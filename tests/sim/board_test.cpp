// The board's firmware without the wire: what it stores and answers, and the physics of the
// servo loop on the motor.
#include "sim/board.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "sim/eepromwriter.h"
#include "sim/numbers.h"
#include "sim/plant.h"
#include "tests/privatedir.h"

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

// A step test runs 199 samples of (prediv + 1) servo cycles of "t" x 100 us each: its answer
// takes that long on the board before it is sent.
TEST(BoardModelTest, StepTestTakesItsServoTime) {
  TBoardModel board;
  board.Answer("t 8");
  EXPECT_EQ(board.Answer("r3c100ok1").size(), 404u);
  EXPECT_DOUBLE_EQ(board.LastAnswerDuration(), 199 * 4 * 0.0008);
}

// A damaged EEPROM file keeps the defaults of what it cannot read and clamps what it can.
TEST(BoardModelTest, DamagedEepromFileKeepsDefaultsAndClamps) {
  const TPrivateDir dir;
  const std::string path = dir.File("eeprom");
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("P zero\nSVMCycle 9\nnonsense\nD 0.5\n", file);
  std::fclose(file);
  const std::optional<TBoardParams> params = LoadParams(path);
  std::remove(path.c_str());
  ASSERT_TRUE(params.has_value());
  EXPECT_EQ(params->P, TBoardParams{}.P);
  EXPECT_EQ(params->SVMCycle, 4);
  EXPECT_EQ(params->D, 0.5);
}

// Saving the EEPROM writes only a file of its own: a link planted where a fixed temporary name
// would be receives nothing, and nothing is left beside the file.
TEST(BoardModelTest, EepromSaveNeverWritesThroughAPlantedLink) {
  const TPrivateDir folder;
  const std::filesystem::path dir = folder.Path();
  const std::filesystem::path victim = dir / "victim";
  const std::filesystem::path eeprom = dir / "eeprom";
  std::ofstream(victim) << "keep\n";
  for (const char* planted : {"eeprom.tmp", "eeprom.new", "eeprom~"})
    std::filesystem::create_symlink(victim, dir / planted);
  TBoardParams params;
  params.P = 2.5;
  ASSERT_TRUE(SaveParams(eeprom.string(), params));
  std::ifstream in(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep\n");
  EXPECT_FALSE(std::filesystem::is_symlink(eeprom));
  EXPECT_EQ(LoadParams(eeprom.string())->P, 2.5);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 5);  // nothing left
  // A link at the file's own name is replaced, not followed.
  std::filesystem::remove(eeprom);
  std::filesystem::create_symlink(victim, eeprom);
  ASSERT_TRUE(SaveParams(eeprom.string(), params));
  EXPECT_FALSE(std::filesystem::is_symlink(eeprom));
  std::ifstream again(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "keep\n");
}

// Values saved while a write runs are written after it, only the newest; Flush waits for it.
TEST(EepromWriterTest, WritesOnlyTheNewestAfterTheRunningWrite) {
  std::vector<double> written;
  {
    TEepromWriter writer("unused", [&](const std::string&, const TBoardParams& params) {
      std::this_thread::sleep_for(std::chrono::milliseconds(written.empty() ? 100 : 0));
      written.push_back(params.P);
      return true;
    });
    TBoardParams params;
    params.P = 1;
    writer.Save(params);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    params.P = 2;
    writer.Save(params);
    params.P = 3;
    writer.Save(params);
    writer.Flush();
    EXPECT_EQ(written, (std::vector<double>{1, 3}));
    params.P = 4;
    writer.Save(params);
  }
  EXPECT_EQ(written.back(), 4);  // the end writes what is pending
}

// Random command lines of the protocol's own characters always get an answer of whole lines
// whose numbers are plain decimal, never in exponent form, as the board prints them.
TEST(BoardModelTest, RandomCommandsGetWellFormedAnswers) {
  const std::string alphabet = "slrcok0123456789pidbmfxthga .-+eE";
  const std::string digits = "0123456789.-+eE";
  std::mt19937_64 random(12345);
  TBoardModel board;
  for (int n = 0; n < 20000; ++n) {
    // Every other line is a set command with a random number text.
    const bool setLine = n % 2 == 0;
    const std::string& chars = setLine ? digits : alphabet;
    std::string command = setLine ? std::string(1, "pidbmfxthga01o"[random() % 14]) + " " : "";
    for (size_t k = random() % 16 + 1; k > 0; --k)
      command.push_back(chars[random() % chars.size()]);
    const TLines lines = board.Answer(command);
    ASSERT_FALSE(lines.empty()) << command;
    for (const std::string& line : lines) {
      ASSERT_EQ(line.find_first_of("\r\n"), std::string::npos) << command;
      const std::string number = line.substr(line.rfind(' ') + 1);
      if (number.find_first_of("-0123456789") != 0) continue;  // a line without a number
      ASSERT_EQ(number.find_first_of("eE"), std::string::npos) << command << " -> " << line;
    }
  }
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

// Coulomb friction with stiction, seen through the encoder: a drive below the friction holds
// the shaft, one above it moves it; full drive runs at the no-load speed less the friction; a
// coasting motor stops and does not run back.
TEST(ServoPhysicsTest, FrictionHoldsStopsAndEatsItsShareOfTheDrive) {
  constexpr double kTick = 0.0004;
  TMotorPlant held;
  for (int n = 0; n < 1000; ++n) held.Step(0.4, kTick);
  EXPECT_EQ(held.EncoderCounts(), 0);
  for (int n = 0; n < 1000; ++n) held.Step(0.6, kTick);
  EXPECT_GT(held.EncoderCounts(), 0);

  TMotorPlant full;
  for (int n = 0; n < 2500; ++n) full.Step(100, kTick);  // 1 s: many time constants
  const int64_t start = full.EncoderCounts();
  for (int n = 0; n < 250; ++n) full.Step(100, kTick);  // 0.1 s at 2000 counts/s per % of 99.5 %
  EXPECT_NEAR(static_cast<double>(full.EncoderCounts() - start), 19900, 10);

  TMotorPlant coasting;
  for (int n = 0; n < 250; ++n) coasting.Step(50, kTick);
  int64_t last = coasting.EncoderCounts();
  for (int n = 0; n < 2500; ++n) {
    coasting.Step(0, kTick);
    ASSERT_GE(coasting.EncoderCounts(), last) << n;  // never back
    last = coasting.EncoderCounts();
  }
  for (int n = 0; n < 500; ++n) coasting.Step(0, kTick);
  EXPECT_EQ(coasting.EncoderCounts(), last);  // stopped
}

// One cycle of the loop from rest: the output held at its limit and reported as limiting
// without winding up the integral, errors within the deadband ignored, and the velocity
// feed-forward following the command's speed.
TEST(ServoPhysicsTest, LoopLimitsDeadbandAndFeedForward) {
  TServoGains limited;
  limited.P = 10;
  limited.MaxOutput = 40;
  TServoLoop loop;
  EXPECT_EQ(loop.Cycle(limited, -100, 0, 0.0004), -40);
  EXPECT_EQ(loop.State().LimitState, 1);
  EXPECT_EQ(loop.State().ErrorI, 0);
  TServoGains deadband;
  deadband.P = 1;
  deadband.Deadband = 3;
  EXPECT_EQ(TServoLoop().Cycle(deadband, 3, 0, 0.0004), 0);
  EXPECT_EQ(TServoLoop().Cycle(deadband, 4, 0, 0.0004), 4);
  TServoGains feedForward;
  feedForward.FeedForward1 = 0.001;
  TServoLoop following;
  following.Cycle(feedForward, 0, 0, 0.001);
  EXPECT_DOUBLE_EQ(following.Cycle(feedForward, 10, 10, 0.001), 10.0);  // 10,000 counts/s
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
