// The board session against the simulated board, without a command around it.
#include <gtest/gtest.h>

#include "boardsession/session.h"
#include "parameters/paramtable.h"
#include "sim/simulator.h"

namespace {

using TStrings = std::vector<std::string>;

// A parameter set that changes every one of the fourteen rows.
TParamValues EveryRowChanged() {
  return {0.31, 0.0007, 0.0021, 2, 80, 0.3, 0.7, 900, 2, 5, 60, 1, 12, 2};
}

class BoardSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    FSim.Start();
    FOriginal = FSim.Params();
    QString failure;
    ASSERT_TRUE(FSession.Open(QString::fromStdString(FSim.DevicePath()), failure))
        << failure.toStdString();
  }

  TStrings Sent() const { return FSim.ReceivedCommands(); }

  zirvsim::TBoardSimulator FSim{{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0}};
  zirvsim::TBoardParams FOriginal;
  TBoardSession FSession;
};

TEST_F(BoardSessionTest, PutBackCoversAllFourteenValues) {
  QString failure;
  ASSERT_TRUE(FSession.Write(EveryRowChanged(), TEchoRule::Stop, failure)) << failure.toStdString();
  EXPECT_EQ(FSession.Differences().size(), 14u);
  EXPECT_EQ(FSim.Params().FeedForward1, 0.7);
  ASSERT_TRUE(FSession.PutBack(failure)) << failure.toStdString();
  EXPECT_EQ(FSim.Params(), FOriginal);
  EXPECT_TRUE(FSession.Differences().empty());
  EXPECT_EQ(Sent().back(), "l");  // checked with a read
}

TEST_F(BoardSessionTest, NothingToWriteSendsNothing) {
  QString failure;
  ASSERT_TRUE(FSession.Write(ParamValuesOf(FSession.Original()), TEchoRule::Stop, failure));
  ASSERT_TRUE(FSession.PutBack(failure));
  EXPECT_EQ(Sent(), (TStrings{"l", "l"}));
  EXPECT_FALSE(FSession.Changed());
}

// A value the board answers it holds otherwise: told to the caller; Report goes on, Stop ends
// the write there and says so.
TEST_F(BoardSessionTest, EchoesAreCheckedByTheRuleAskedFor) {
  for (const TEchoRule rule : {TEchoRule::Report, TEchoRule::Stop}) {
    FSim.SetFault(zirvsim::TFault::SetAnswersDifferent, 1);
    TParamValues target = ParamValuesOf(FSession.Original());
    target.at(RowIndexOf("P")) = 0.5;
    target.at(RowIndexOf("D")) = 0.002;
    std::vector<std::string> told;
    QString failure;
    const bool written = FSession.Write(target, rule, failure, [&](const TParamWrite& w) {
      told.push_back(w.Row->FileKey);
    });
    FSim.SetFault(zirvsim::TFault::None);
    if (rule == TEchoRule::Stop) {
      EXPECT_FALSE(written);
      EXPECT_EQ(failure, "the board holds P 1.5 where 0.5 was sent");
      EXPECT_EQ(told, (TStrings{"P"}));
    } else {
      EXPECT_TRUE(written) << failure.toStdString();
      EXPECT_EQ(told, (TStrings{"P", "D"}));
    }
    EXPECT_EQ(FSession.Board().P, 1.5);
    ASSERT_TRUE(FSession.PutBack(failure)) << failure.toStdString();
    EXPECT_EQ(FSim.Params(), FOriginal);
  }
}

// A garbled answer during the put-back: the board is read again and the rest written.
TEST_F(BoardSessionTest, PutBackTriesAgainAfterAGarbledAnswer) {
  QString failure;
  TParamValues target = ParamValuesOf(FSession.Original());
  target.at(RowIndexOf("FF0")) = 0.3;
  ASSERT_TRUE(FSession.Write(target, TEchoRule::Stop, failure));
  FSim.ScriptAnswer("0 0", {"noise"});
  ASSERT_TRUE(FSession.PutBack(failure)) << failure.toStdString();
  EXPECT_EQ(FSim.Params(), FOriginal);
}

// Three garbled answers in a row: the put-back gives up after its third attempt and says what
// the board may still hold.
TEST_F(BoardSessionTest, PutBackGivesUpAfterThreeAttempts) {
  QString failure;
  TParamValues target = ParamValuesOf(FSession.Original());
  target.at(RowIndexOf("FF1")) = 0.7;
  ASSERT_TRUE(FSession.Write(target, TEchoRule::Stop, failure));
  for (int i = 0; i < 3; ++i) FSim.ScriptAnswer("1 0", {"noise"});
  EXPECT_FALSE(FSession.PutBack(failure));
  int tries = 0;
  for (const std::string& c : Sent()) tries += c == "1 0";
  EXPECT_EQ(tries, 3);
  const std::vector<TValueDifference> left = FSession.Differences();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(DifferencesText(left).toStdString(), "FF1 unknown (was 0)");
}

// The board goes away with a write on its way: the row's value is unknown, and the device
// that is gone is not asked again.
TEST_F(BoardSessionTest, BoardGoneLeavesTheRowUnknown) {
  FSim.SetFault(zirvsim::TFault::HangUpAfter, 1);  // answers "p", then goes
  TParamValues target = ParamValuesOf(FSession.Original());
  target.at(RowIndexOf("P")) = 0.5;
  target.at(RowIndexOf("I")) = 0.001;
  QString failure;
  EXPECT_FALSE(FSession.Write(target, TEchoRule::Stop, failure));
  EXPECT_FALSE(FSession.PutBack(failure));
  EXPECT_EQ(DifferencesText(FSession.Differences()).toStdString(),
            "P unknown (was 0.2), I unknown (was 0.0005)");
}

// A board value with more digits than the tool's 15 goes back as the board held it.
TEST_F(BoardSessionTest, PutBackKeepsEveryDigit) {
  zirvsim::TBoardParams fine = FOriginal;
  fine.P = 0.12345678901234567;
  fine.FeedForward1 = 1.0 / 3;
  FSim.SetParams(fine);
  TBoardSession& session = FSession;
  QString failure;
  ASSERT_TRUE(session.ReadOriginals(failure)) << failure.toStdString();
  TParamValues target = ParamValuesOf(session.Original());
  target.at(RowIndexOf("P")) = 0.3;
  target.at(RowIndexOf("FF1")) = 0.7;
  ASSERT_TRUE(session.Write(target, TEchoRule::Stop, failure)) << failure.toStdString();
  EXPECT_EQ(DifferencesText(session.Differences()).toStdString(),
            "P 0.3 (was 0.12345678901234566), FF1 0.7 (was 0.3333333333333333)");
  ASSERT_TRUE(session.PutBack(failure)) << failure.toStdString();
  EXPECT_EQ(FSim.Params(), fine);
}

TEST_F(BoardSessionTest, KeptValuesAreTheNewOriginals) {
  QString failure;
  TParamValues target = ParamValuesOf(FSession.Original());
  target.at(RowIndexOf("P")) = 0.5;
  ASSERT_TRUE(FSession.Write(target, TEchoRule::Stop, failure));
  FSession.Keep();
  EXPECT_FALSE(FSession.Changed());
  ASSERT_TRUE(FSession.PutBack(failure));
  EXPECT_EQ(FSim.Params().P, 0.5);
}

TEST(BoardSessionOpenTest, APortThatCannotOpenSaysWhy) {
  TBoardSession session;
  QString failure;
  EXPECT_FALSE(session.Open(QStringLiteral("/nonexistent/tty"), failure));
  EXPECT_TRUE(failure.startsWith("Unable to open com port")) << failure.toStdString();
}

}  // namespace
