#include <gtest/gtest.h>

#include <filesystem>

#include "sim/simulator.h"
#include "wire_helpers.h"

using namespace zirvsim;

namespace {

struct TLineFaultCase {
  const char* Name;
  TFault Fault;
  int Param;
  const char* Command;
  size_t Lines;        // lines the answer has under the fault
  int CheckedLine;     // -1: none
  const char* Equals;  // what that line is
};

// One row per way the tool's transactions can be fed a broken answer.
const TLineFaultCase kLineFaults[] = {
    {"status_with_eight_lines", TFault::CutShort, 1, "s", 8, -1, ""},
    {"status_with_ten_lines", TFault::ExtraLines, 1, "s", 10, 9, "extra: 0"},
    {"list_cut_to_sixteen", TFault::CutShort, 1, "l", 16, -1, ""},
    {"step_cut_to_403", TFault::CutShort, 1, "r0c100ok1", 403, -1, ""},
    {"list_line_9_without_m_tag", TFault::MissingTag, 9, "l", 17, 9, "95"},
    {"list_line_3_malformed", TFault::MalformedNumber, 3, "l", 17, 3, "(p) 1.2.3"},
    {"set_echo_without_tag", TFault::MissingTag, 0, "p 0.5", 1, 0, "0.5"},
    {"set_answered_with_other_value", TFault::SetAnswersDifferent, 0, "p 0.5", 1, 0, "(p) 1.5"},
    {"set_shifted_by_param", TFault::SetAnswersDifferent, -10, "m 95", 1, 0, "(m) 85"},
};

class LineFaultTest : public testing::TestWithParam<TLineFaultCase> {};

TEST_P(LineFaultTest, AnswerIsBrokenAsNamed) {
  const TLineFaultCase& c = GetParam();
  TBoardSimulator sim(Fast());
  sim.SetFault(c.Fault, c.Param);
  sim.Start();
  TTestPort port(sim.DevicePath());
  const auto lines = port.Ask(c.Command, c.Lines + 1, 300);
  ASSERT_EQ(lines.size(), c.Lines);
  if (c.CheckedLine >= 0) {
    EXPECT_EQ(lines[c.CheckedLine], c.Equals);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, LineFaultTest, testing::ValuesIn(kLineFaults),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(WireFaultTest, StepLine100LacksErrorTagButKeepsItsNumber) {
  TBoardSimulator sim(Fast());
  sim.SetFault(TFault::MissingTag, 100);
  sim.Start();
  TTestPort port(sim.DevicePath());
  const auto lines = port.Ask("r0c100ok1", 404);
  ASSERT_EQ(lines.size(), 404u);
  EXPECT_EQ(lines[100].find("error"), std::string::npos);
  EXPECT_FALSE(lines[100].empty());
  EXPECT_EQ(lines[98].rfind("error: ", 0), 0u);
}

TEST(WireFaultTest, NoAnswerStillRecordsTheCommand) {
  TBoardSimulator sim(Fast());
  sim.SetFault(TFault::NoAnswer);
  sim.Start();
  TTestPort port(sim.DevicePath());
  EXPECT_TRUE(port.Ask("s", 1, 200).empty());
  EXPECT_EQ(sim.ReceivedCommands(), std::vector<std::string>{"s"});
  sim.SetFault(TFault::None);
  EXPECT_EQ(port.Ask("s", 9).size(), 9u);
}

TEST(WireFaultTest, CrLfModeEndsEveryLineWithCrLf) {
  TBoardSimulator sim(Fast());
  sim.SetFault(TFault::CrLf);
  sim.Start();
  TTestPort port(sim.DevicePath());
  port.Send("p 0.5");
  EXPECT_EQ(port.ReadRaw(1), "(p) 0.5\r\n");
}

TEST(WireFaultTest, GarbageFollowsTheAnswerWithNulsButNoLineEnd) {
  TBoardSimulator sim(Fast());
  sim.SetFault(TFault::Garbage, 40);
  sim.Start();
  TTestPort port(sim.DevicePath());
  port.Send("p 0.5");
  const std::string first = port.ReadRaw(1);
  ASSERT_EQ(first.rfind("(p) 0.5\r", 0), 0u);
  std::string bytes = first + port.ReadRaw(2, 200);
  EXPECT_EQ(bytes.size(), 8u + 40u);
  EXPECT_NE(bytes.find('\0', 8), std::string::npos);
  EXPECT_EQ(TTestPort::CountCr(bytes), 1u);
}

TEST(WireFaultTest, HangUpAfterOneCommandClosesThePty) {
  TBoardSimulator sim(Fast());
  sim.SetFault(TFault::HangUpAfter, 1);
  sim.Start();
  TTestPort port(sim.DevicePath());
  EXPECT_EQ(port.Ask("p 0.5", 1), std::vector<std::string>{"(p) 0.5"});
  pollfd fd{port.Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&fd, 1, 2000), 1);
  EXPECT_TRUE(fd.revents & (POLLHUP | POLLERR));
  for (int i = 0; i < 100 && sim.Running(); ++i) usleep(10000);
  EXPECT_FALSE(sim.Running());
}

TEST(WireScriptTest, ScriptedAnswerIsUsedOnceThenTheBoardAnswers) {
  TBoardSimulator sim(Fast());
  sim.ScriptAnswer("p", {"(p) 7", "(p) 8"});
  sim.Start();
  TTestPort port(sim.DevicePath());
  EXPECT_EQ(port.Ask("p 0.5", 2), (std::vector<std::string>{"(p) 7", "(p) 8"}));
  EXPECT_EQ(port.Ask("p 0.5", 1), std::vector<std::string>{"(p) 0.5"});
}

TEST(WireStatusTest, StatusOverrideReachesTheWire) {
  TBoardSimulator sim(Fast());
  TStatusOverride forced;
  forced.Error = -3.25;
  forced.Output = 41.5;
  sim.SetStatusOverride(forced);
  sim.Start();
  TTestPort port(sim.DevicePath());
  const auto lines = port.Ask("s", 9);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2], "error: -3.25");
  EXPECT_EQ(lines[5], "output: 41.5");
}

TEST(WirePersistenceTest, ParametersSurviveARestart) {
  TSimOptions options = Fast();
  options.EepromFile = testing::TempDir() + "/sim_eeprom_restart.txt";
  std::filesystem::remove(options.EepromFile);
  {
    TBoardSimulator sim(options);
    sim.Start();
    TTestPort port(sim.DevicePath());
    EXPECT_EQ(port.Ask("p 0.0125", 1), std::vector<std::string>{"(p) 0.0125"});
    EXPECT_EQ(port.Ask("c 9", 1), std::vector<std::string>{"(c) 4"});
  }
  TBoardSimulator again(options);
  EXPECT_EQ(again.Params().P, 0.0125);
  EXPECT_EQ(again.Params().SVMCycle, 4);
  std::filesystem::remove(options.EepromFile);
}

TEST(WirePacingTest, PacedAnswerTakesAboutItsWireTime) {
  TSimOptions options;  // pacing on, default reply delay
  TBoardSimulator sim(options);
  sim.Start();
  TTestPort port(sim.DevicePath());
  port.Send("l");
  const std::string first = port.ReadRaw(1);
  const auto start = std::chrono::steady_clock::now();
  const std::string rest = port.ReadRaw(16, 3000);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(TTestPort::CountCr(first + rest), 17u);
  const double rate = static_cast<double>(rest.size()) / seconds;
  EXPECT_GT(rate, 5760 * 0.6);  // wide margins: exact figures come from bench_sim
  EXPECT_LT(rate, 5760 * 1.5);
}

}  // namespace
