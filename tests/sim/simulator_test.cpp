#include "sim/simulator.h"

#include <gtest/gtest.h>

#include "wire_helpers.h"

using namespace zirvsim;

namespace {

// A started simulator with the tool's end of the line open.
struct TRig {
  explicit TRig(TSimOptions options = Fast()) : Sim(options) {
    Sim.Start();
    Port = std::make_unique<TTestPort>(Sim.DevicePath());
  }
  TBoardSimulator Sim;
  std::unique_ptr<TTestPort> Port;
};

}  // namespace

TEST(BoardSimulatorWire, StatusAnswersNineTaggedLinesInRecordOrder) {
  TRig rig;
  ASSERT_TRUE(rig.Port->IsOpen());
  const auto lines = rig.Port->Ask("s", 9);
  const char* tags[] = {"command: ", "feedback: ", "error: ", "error_i: ", "error_d: ",
                        "output: ", "limit_state: ", "servo enabled: ", "test_osc: "};
  ASSERT_EQ(lines.size(), 9u);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(lines[i].rfind(tags[i], 0), 0u) << lines[i];
  EXPECT_EQ(lines[7], "servo enabled: 1");
}

TEST(BoardSimulatorWire, ListAnswersSeventeenLinesWithTagsInOrder) {
  TRig rig;
  const auto lines = rig.Port->Ask("l", 17);
  ASSERT_EQ(lines.size(), 17u);
  const char* expected[] = {"servo enabled: 1", "(p) 0.2", "(i) 0.0005", "(d) 0.0015", "(0) 0", "(1) 0",
                            "(b) 0",            "(m) 95",  "(f) 1000",   "(x) 1",      "(t) 4", "(h) 50",
                            "(g) 0",            "(a) 0",   "(c) 3"};
  for (size_t i = 0; i < 15; ++i) EXPECT_EQ(lines[i + 2], expected[i]);
}

TEST(BoardSimulatorWire, RecordsEveryCommandWhateverItsLineEnd) {
  TRig rig;
  const std::string bytes = "s\r\nl\rp 0.5\n\r\nr0c100ok1\r\n";
  ASSERT_EQ(write(rig.Port->Fd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  rig.Port->ReadRaw(9 + 17 + 1 + 404);
  EXPECT_EQ(rig.Sim.ReceivedCommands(), (std::vector<std::string>{"s", "l", "p 0.5", "r0c100ok1"}));
  rig.Sim.ClearReceived();
  EXPECT_TRUE(rig.Sim.ReceivedCommands().empty());
}

TEST(BoardSimulatorWire, StepTestAnswers404LinesOfErrorOutputPairs) {
  TRig rig;
  const auto lines = rig.Port->Ask("r0c100ok1", 404);
  ASSERT_EQ(lines.size(), 404u);
  for (size_t j = 4; j <= 400; j += 2) {
    EXPECT_EQ(lines[j].rfind("error: ", 0), 0u) << j;
    EXPECT_EQ(lines[j + 1].rfind("output: ", 0), 0u) << j;
  }
}

TEST(BoardSimulatorWire, OscillatorEchoesAndIsVisibleToTheTest) {
  TRig rig;
  EXPECT_EQ(rig.Port->Ask("o -2940", 1), std::vector<std::string>{"(o) -2940"});
  EXPECT_EQ(rig.Sim.OscillatorValue(), -2940);
  EXPECT_EQ(rig.Port->Ask("o 0", 1), std::vector<std::string>{"(o) 0"});
  EXPECT_EQ(rig.Sim.OscillatorValue(), 0);
}

TEST(BoardSimulatorWire, StepTestFromRestIsRepeatableWhateverTheIdleTime) {
  std::vector<std::string> answers[2];
  for (int run = 0; run < 2; ++run) {
    TRig rig;
    usleep(run * 30000);  // idle servo cycles before the test differ between the runs
    answers[run] = rig.Port->Ask("r0c100ok1", 404);
  }
  ASSERT_EQ(answers[0].size(), 404u);
  EXPECT_EQ(answers[0], answers[1]);
}
