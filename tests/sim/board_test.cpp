#include "sim/board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "sim/numbers.h"

using namespace zirvsim;

namespace {

struct TTextCase {
  const char* Name;
  double Value;
  const char* Text;
};

// Each row is a number the tool must be able to read back: no exponent, no trailing zeros.
const TTextCase kFormatCases[] = {
    {"small_gain_keeps_all_digits", 0.0125, "0.0125"},
    {"tiny_value_is_not_exponent", 1e-5, "0.00001"},
    {"integer_has_no_point", 95, "95"},
    {"negative_integer", -2940000, "-2940000"},
    {"negative_zero_is_zero", -0.0, "0"},
    {"huge_value_is_not_exponent", 1e20, "100000000000000000000"},
    {"binary_fraction_round_trips", 0.1 + 0.2, "0.30000000000000004"},
};

class FormatPlainTest : public testing::TestWithParam<TTextCase> {};

TEST_P(FormatPlainTest, WritesPlainDecimal) { EXPECT_EQ(FormatPlain(GetParam().Value), GetParam().Text); }

INSTANTIATE_TEST_SUITE_P(Rows, FormatPlainTest, testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ParseNumberTest, AcceptsWhatTheToolSendsAndRejectsTheRest) {
  EXPECT_EQ(ParseNumber("1E-5"), 1e-5);
  EXPECT_EQ(ParseNumber(" 95 "), 95);
  EXPECT_EQ(ParseNumber("+3.5"), 3.5);
  EXPECT_EQ(ParseNumber("-0.25"), -0.25);
  for (const char* bad : {"", " ", "abc", "1.2.3", "nan", "inf", "1e400", "0x10", "5 6", "--1"})
    EXPECT_FALSE(ParseNumber(bad).has_value()) << bad;
}

struct TAnswerCase {
  const char* Name;
  const char* Command;
  const char* Answer;
};

// What the board stores is what it answers: clamping, integer rounding and refusals.
const TAnswerCase kSetCases[] = {
    {"gain_echoed_exactly", "p 0.0125", "(p) 0.0125"},
    {"exponent_input_read", "0 1E-5", "(0) 0.00001"},
    {"output_limit_above_100", "m 150", "(m) 100"},
    {"output_limit_negative", "m -5", "(m) 0"},
    {"phase_advance_above_1023", "a 2000", "(a) 1023"},
    {"phase_advance_negative", "a -1", "(a) 0"},
    {"svm_cycle_zero", "c 0", "(c) 1"},
    {"svm_cycle_above_4", "c 9", "(c) 4"},
    {"charge_above_1", "g 2", "(g) 1"},
    {"ticks_zero", "t 0", "(t) 1"},
    {"multiplier_tie_rounds_down_to_even", "x 2.5", "(x) 2"},
    {"multiplier_tie_rounds_up_to_even", "x 3.5", "(x) 4"},
    {"integer_beyond_32_bits", "h 1E12", "(h) 65535"},
    {"deadband_negative", "b -3", "(b) 0"},
    {"letter_alone_queries", "f", "(f) 1000"},
    {"malformed_number", "p 1.2.3", "?"},
    {"unknown_letter", "q 1", "?"},
    {"missing_space", "p1", "?"},
    {"step_without_ok1", "r0c100ok", "?"},
    {"step_without_prediv", "rc100ok1", "?"},
    {"oscillator_without_number", "o x", "?"},
    {"step_with_negative_prediv", "r-1c100ok1", "?"},
    {"step_with_huge_prediv", "r10000c1ok1", "?"},
    {"step_with_trailing_text", "r0c100ok1x", "?"},
    {"set_with_two_numbers", "p 1 2", "?"},
};

class SetAnswerTest : public testing::TestWithParam<TAnswerCase> {};

TEST_P(SetAnswerTest, AnswersOneLine) {
  TBoardModel board;
  EXPECT_EQ(board.Answer(GetParam().Command), std::vector<std::string>{GetParam().Answer});
}

INSTANTIATE_TEST_SUITE_P(Rows, SetAnswerTest, testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BoardModelTest, ListShowsTheStoredValueInItsLine) {
  TBoardModel board;
  board.Answer("m 150");
  board.Answer("d 0.25");
  const auto lines = board.Answer("l");
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[5], "(d) 0.25");
  EXPECT_EQ(lines[9], "(m) 100");
  EXPECT_EQ(board.Params().MaxOutput, 100);
}

TEST(BoardModelTest, StatusOverrideLastsOneAnswer) {
  TBoardModel board;
  TStatusOverride forced;
  forced.Error = -3.25;
  forced.Output = 41.5;
  forced.LimitState = 2.5;
  board.SetStatusOverride(forced);
  const auto first = board.Answer("s");
  EXPECT_EQ(first[2], "error: -3.25");
  EXPECT_EQ(first[5], "output: 41.5");
  EXPECT_EQ(first[6], "limit_state: 2.5");
  EXPECT_EQ(board.Answer("s")[2], "error: 0");
}

TEST(BoardModelTest, StepAnswerHas404LinesAndCoversPredivCycles) {
  TBoardModel board;
  board.Answer("t 8");
  const auto lines = board.Answer("r3c100ok1");
  ASSERT_EQ(lines.size(), 404u);
  EXPECT_DOUBLE_EQ(board.LastAnswerDuration(), 199 * 4 * 0.0008);
  EXPECT_EQ(lines[4].rfind("error: ", 0), 0u);
  EXPECT_EQ(lines[401].rfind("output: ", 0), 0u);
}

TEST(BoardModelTest, OscillatorMovesTheCommandAtTheClockRate) {
  TBoardModel board;
  board.Answer("f 0");      // no fault trip: the motor need not keep up
  board.Answer("o -2940");  // 10,000 counts per second backwards
  board.RunFor(0.1);
  EXPECT_NEAR(static_cast<double>(board.State().Command), -1000, 2);
  EXPECT_EQ(board.OscillatorValue(), -2940);
}

TEST(BoardModelTest, FollowingErrorBeyondFaultErrorDisablesUntilRestarted) {
  TBoardModel board;
  board.Answer("f 10");
  board.Answer("m 0");  // no drive: the error must grow past the limit
  board.Answer("r0c100ok1");
  EXPECT_EQ(board.Answer("s")[7], "servo enabled: 0");
  EXPECT_EQ(board.Answer("l")[2], "servo enabled: 0");
  EXPECT_EQ(board.Answer("s")[5], "output: 0");
  board.Answer("o 0");
  EXPECT_EQ(board.Answer("s")[7], "servo enabled: 1");
}

TEST(BoardModelTest, SameSeedAndCommandsGiveTheSameAnswers) {
  TBoardModel a(7), b(7), c(8);
  const auto first = a.Answer("r0c100ok1");
  EXPECT_EQ(first, b.Answer("r0c100ok1"));
  EXPECT_NE(first, c.Answer("r0c100ok1"));  // the seed does drive the disturbance
}

TEST(ParamsFileTest, SavedParametersLoadBackExactly) {
  const std::string path = testing::TempDir() + "/board_eeprom_test.txt";
  TBoardParams params;
  params.P = 0.0125;
  params.I = 1e-5;
  params.MaxOutput = 95.4;
  params.SVMCycle = 2;
  params.PhaseAdvance = 1023;
  ASSERT_TRUE(SaveParams(path, params));
  EXPECT_EQ(LoadParams(path), params);
  std::remove(path.c_str());
  EXPECT_FALSE(LoadParams(path).has_value());
}

TEST(ParamsFileTest, DamagedFileKeepsDefaultsAndClamps) {
  const std::string path = testing::TempDir() + "/board_eeprom_damaged.txt";
  {
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("P zero\nSVMCycle 9\nnonsense\nD 0.5\n", f);
    std::fclose(f);
  }
  const auto params = LoadParams(path);
  ASSERT_TRUE(params.has_value());
  EXPECT_EQ(params->P, TBoardParams{}.P);
  EXPECT_EQ(params->SVMCycle, 4);
  EXPECT_EQ(params->D, 0.5);
  std::remove(path.c_str());
}

// Random command lines built from the protocol's own characters: every answer must be
// non-empty, free of line ends, and print its numbers without exponent notation.
TEST(BoardModelTest, RandomCommandsGetWellFormedAnswers) {
  const std::string alphabet = "slrcok0123456789pidbmfxthga .-+eE";
  const std::string digits = "0123456789.-+eE";
  uint64_t random = 12345;
  TBoardModel board;
  for (int n = 0; n < 20000; ++n) {
    auto next = [&random](size_t range) {
      random = random * 6364136223846793005ull + 1442695040888963407ull;
      return (random >> 33) % range;
    };
    // Every other line is a set command with a random number text.
    const bool setLine = n % 2 == 0;
    const std::string& chars = setLine ? digits : alphabet;
    std::string command = setLine ? std::string(1, "pidbmfxthga01o"[next(14)]) + " " : "";
    const size_t length = next(16) + 1;
    for (size_t k = 0; k < length; ++k) command.push_back(chars[next(chars.size())]);
    const auto lines = board.Answer(command);
    ASSERT_FALSE(lines.empty()) << command;
    for (const std::string& line : lines) {
      ASSERT_EQ(line.find_first_of("\r\n"), std::string::npos) << command;
      const std::string number = line.substr(line.rfind(' ') + 1);
      if (number.find_first_of("-0123456789") != 0) continue;  // a header line without a number
      ASSERT_EQ(number.find_first_of("eE"), std::string::npos) << command << " -> " << line;
    }
  }
}

}  // namespace
