// zirv7ctl suggest against the simulated board: what it writes, when it writes nothing, and
// that the board gets its values back when the verification is interrupted or goes wrong.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <functional>
#include <map>
#include <optional>

#include "parameters/paramtable.h"
#include "sim/simulator.h"
#include "tests/simgate.h"
#include "tests/ctl/ctlrun.h"
#include "tuning/suggest.h"

namespace {

using TCommands = std::vector<std::string>;

// The board's oscillating start: much P, little D.
zirvsim::TBoardParams Oscillating() {
  zirvsim::TBoardParams p;
  p.P = 0.6;
  p.I = 0;
  p.D = 0.0003;
  return p;
}

int Count(const TCommands& commands, const std::string& prefix) {
  return int(std::count_if(commands.begin(), commands.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

// The step-test answer lines of a response that no motor gives for these outputs.
std::vector<std::string> ImpossibleAnswer(double amplitude) {
  std::vector<std::string> lines = {"step response", "prediv: 0", "step: 200", "samples: 199"};
  for (int k = 0; k < 199; ++k) {
    lines.push_back("error: " + std::to_string(int(std::lround(amplitude * std::cos(k * 0.3)))));
    lines.push_back("output: 10");
  }
  lines.push_back("end of step response");
  lines.push_back("cycles: 199");
  return lines;
}

class SuggestTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FData.isValid());
    qputenv("XDG_DATA_HOME", FData.path().toUtf8());  // the run history goes here
    // An error's explanation looks at the port aliases: never the user's.
    qputenv("XDG_CONFIG_HOME", FData.filePath(QStringLiteral("config")).toUtf8());
    FSim.SetParams(Oscillating());
    FSim.Start();
    FPort = QString::fromStdString(FSim.DevicePath());
  }
  void TearDown() override { FSim.Stop(); }

  TCtlResult Suggest(QStringList args, QString input = {}) {
    return RunCtlCaptured(QStringList{"suggest", "--port", FPort, "--step", "200"} + args, input);
  }

  // Calls action once, on the board's thread, as soon as the board has answered commands
  // that satisfy when, and before it sends that answer: the tool's next command comes after.
  void OnceReceived(std::function<bool(const TCommands&)> when, std::function<void()> action) {
    auto done = std::make_shared<bool>(false);
    FSim.OnCommand([when, action, done](const TCommands& received) {
      if (*done || !when(received)) return;
      *done = true;
      action();
    });
  }

  QTemporaryDir FData;
  zirvsim::TBoardSimulator FSim{{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0}};
  QString FPort;
};

// Without --apply the board is only asked; its parameters stay as they were.
TEST_F(SuggestTest, PrintsTheSuggestionAndWritesNothing) {
  const TCtlResult r = Suggest({});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Out.contains("suggested, predicted")) << r.Out.toStdString();
  EXPECT_TRUE(r.Out.contains("fit_rms")) << r.Out.toStdString();
  EXPECT_EQ(FSim.Params(), Oscillating());
  EXPECT_EQ(Count(FSim.ReceivedCommands(), "p "), 0);
}

// --apply --yes from oscillating gains: the suggestion is written and verified within the goal.
TEST_F(SuggestTest, ApplyWritesVerifiesAndKeeps) {
  const TCtlResult r = Suggest({"--apply", "--yes", "--json"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  const QJsonObject o = QJsonDocument::fromJson(r.Out.toUtf8()).object();
  // The suggestion, or what the search found where its verification failed.
  const QJsonObject gains = o["search"]["kept"].toObject();
  EXPECT_EQ(FSim.Params().P, gains["P"].toDouble());
  EXPECT_EQ(FSim.Params().D, gains["D"].toDouble());
  const QJsonObject measured = o["verification"]["measured"].toObject();
  EXPECT_LE(measured["overshoot_pct"].toDouble(), 5);
  EXPECT_FALSE(measured["settling_samples"].isNull());
  EXPECT_TRUE(o["verification"]["kept"].toBool());
  EXPECT_GE(o["writes"].toArray().size(), 2);  // P and D at least
  // The plan states the most the suggestion and a search may write, and what a search may do.
  EXPECT_TRUE(r.Err.contains(QStringLiteral("suggest will make at most"))) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains(QStringLiteral("at most 57 step tests of 200"))) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains(QStringLiteral("gains within P "))) << r.Err.toStdString();
  // Every value is one the window's field shows exactly: a Read there finds them all equal.
  const zirvsim::TBoardParams board = FSim.Params();
  for (const auto& [key, value] : {std::pair{"P", board.P}, {"I", board.I}, {"D", board.D}, {"FF1", board.FeedForward1},
                                   {"Deadband", board.Deadband}})
    EXPECT_EQ(FieldShownValue(ParamTable().at(RowIndexOf(key)), value), value) << key;
}

struct TCountJumpCase {
  const char* Name;
  double P, D;  // the board's present gains
  QStringList Args;
  double MaxPct;
  bool PresentBeyond;  // the present gains pass the count jump
};

void PrintTo(const TCountJumpCase& c, std::ostream* out) { *out << c.Name; }

class SuggestCountJumpTest : public SuggestTest, public testing::WithParamInterface<TCountJumpCase> {};

// The suggestion keeps to the count jump, the default or the one asked for; both outputs state
// it, and the text says when the present gains pass it.
TEST_P(SuggestCountJumpTest, KeepsToItAndSaysSo) {
  const TCountJumpCase& c = GetParam();
  zirvsim::TBoardParams present = Oscillating();
  present.P = c.P, present.D = c.D;
  FSim.SetParams(present);
  const TCtlResult json = Suggest(c.Args + QStringList{"--json"});
  ASSERT_EQ(json.Status, kExitOk) << json.Err.toStdString();
  const QJsonObject o = QJsonDocument::fromJson(json.Out.toUtf8()).object();
  EXPECT_EQ(o["goal"]["max_count_jump_pct"].toDouble(), c.MaxPct);
  EXPECT_LE(o["suggested"]["gains"]["count_jump_pct"].toDouble(), c.MaxPct);
  EXPECT_EQ(o["present"]["gains"]["count_jump_pct"].toDouble() > c.MaxPct, c.PresentBeyond);
  const TCtlResult text = Suggest(c.Args);
  const QString cap = QStringLiteral("%1 % of \"Max Output (m):\" at most").arg(c.MaxPct);
  EXPECT_TRUE(text.Out.contains(cap)) << text.Out.toStdString();
  EXPECT_EQ(text.Out.contains("the present gains pass it"), c.PresentBeyond) << text.Out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, SuggestCountJumpTest,
    testing::Values(TCountJumpCase{"default_cap", 0.6, 0.0003, {}, 20, false},
                    TCountJumpCase{"cap_asked_for", 0.6, 0.0003, {"--count-jump", "8"}, 8, false},
                    TCountJumpCase{"present_gains_beyond_it", 3, 0.01, {}, 20, true}),
    [](const testing::TestParamInfo<TCountJumpCase>& info) { return std::string(info.param.Name); });

struct TCornerCase {
  const char* Name;
  QStringList Args;
  double AllowancePct;
  const char* Says;  // the line that states the rule at the mismatch
};

void PrintTo(const TCornerCase& c, std::ostream* out) { *out << c.Name; }

class SuggestCornerTest : public SuggestTest, public testing::WithParamInterface<TCornerCase> {};

// The mismatched motors may overshoot by the corner allowance, the default or the one asked
// for, and no more; both outputs state it.
TEST_P(SuggestCornerTest, KeepsTheMismatchWithinTheAllowanceAndSaysSo) {
  const TCornerCase& c = GetParam();
  const TCtlResult json = Suggest(c.Args + QStringList{"--json"});
  ASSERT_EQ(json.Status, kExitOk) << json.Err.toStdString();
  const QJsonObject o = QJsonDocument::fromJson(json.Out.toUtf8()).object();
  EXPECT_EQ(o["goal"]["corner_allowance_pct"].toDouble(), c.AllowancePct);
  const QJsonObject predicted = o["suggested"]["predicted"].toObject();
  EXPECT_LE(predicted["overshoot_pct"].toDouble(), 5);
  EXPECT_LE(predicted["worst_overshoot_pct"].toDouble(), 5 + c.AllowancePct);
  const TCtlResult text = Suggest(c.Args);
  EXPECT_TRUE(text.Out.contains(c.Says)) << text.Out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, SuggestCornerTest,
    testing::Values(TCornerCase{"default_allowance", {}, 3, "overshoot at most 8.0 % (the target 5.0 % + the corner allowance of 3 points)"},
                    TCornerCase{"no_allowance", {"--corner-allowance", "0"}, 0,
                                "overshoot at most 5.0 % (the target 5.0 % + the corner allowance of 0 points)"}),
    [](const testing::TestParamInfo<TCornerCase>& info) { return std::string(info.param.Name); });

// Before any write it asks; anything but yes writes nothing.
TEST_F(SuggestTest, AsksBeforeWriting) {
  const TCtlResult no = Suggest({"--apply"}, "n\n");
  EXPECT_EQ(no.Status, kExitFailed);
  EXPECT_TRUE(no.Err.contains("Write to the board's EEPROM? [y/N]")) << no.Err.toStdString();
  EXPECT_EQ(FSim.Params(), Oscillating());
  const TCtlResult yes = Suggest({"--apply"}, "y\n");
  EXPECT_EQ(yes.Status, kExitOk) << yes.Err.toStdString();
  EXPECT_NE(FSim.Params().P, Oscillating().P);
}

// A board that goes away while the suggestion is written: the report names every value that
// may differ from what the board held, the feed-forward terms as well as the gains.
TEST_F(SuggestTest, BoardGoneWhileWritingNamesEveryValueChanged) {
  zirvsim::TBoardParams present = Oscillating();
  present.FeedForward0 = 0.3;
  present.FeedForward1 = 0.7;
  FSim.SetParams(present);
  // The board goes once the writing has begun: it answers P, I, D, the deadband (1, against the
  // count's coming and going at the suggested P) and FF0 and goes at FF1. On a loaded machine
  // the watcher may see "p " late: what the board answered since then counts.
  OnceReceived([](const TCommands& cs) { return Count(cs, "p ") == 1; }, [this] {
    const TCommands cs = FSim.ReceivedCommands();
    const auto p = std::find_if(cs.begin(), cs.end(), [](const std::string& c) { return c.rfind("p ", 0) == 0; });
    FSim.SetFault(zirvsim::TFault::HangUpAfter, 4 - int(cs.end() - p - 1));
  });
  const TCtlResult r = Suggest({"--apply", "--yes"});
  ASSERT_TRUE(r.Out.contains("Deadband 0 -> 1") || r.Err.contains("Deadband 0 -> 1")) << r.Err.toStdString();
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("the board's values could not be put back")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("FF0=0.3")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("FF1=0.7")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("P=0.6")) << r.Err.toStdString();
}

// A board that stores a suggested value otherwise than sent: the command stops before the
// verification, puts the board back and fails, whether the board misstores one value once or
// shifts every value it is sent (then it cannot be put back either, and says so).
TEST_F(SuggestTest, ValueStoredOtherwiseStopsAndPutsTheBoardBack) {
  struct TCase {
    const char* Name;
    bool Persistent;
  };
  for (const TCase c : {TCase{"answers_once_otherwise", false}, TCase{"shifts_every_value", true}}) {
    SCOPED_TRACE(c.Name);
    FSim.SetParams(Oscillating());
    FSim.ClearReceived();
    if (c.Persistent)
      FSim.SetFault(zirvsim::TFault::SetAnswersDifferent, 1);
    else
      FSim.ScriptAnswer("p", {"(p) 9.99"});
    const TCtlResult r = Suggest({"--apply", "--yes"});
    FSim.SetFault(zirvsim::TFault::None);
    EXPECT_EQ(r.Status, kExitFailed);
    EXPECT_TRUE(r.Err.contains(QRegularExpression("the suggestion: the board holds P \\S+ where \\S+ was sent")))
        << r.Err.toStdString();
    // No verification of values never planned: no step test after the first write.
    const TCommands sent = FSim.ReceivedCommands();
    const auto firstWrite = std::find_if(sent.begin(), sent.end(), [](const std::string& x) { return x.rfind("p ", 0) == 0; });
    ASSERT_NE(firstWrite, sent.end());
    EXPECT_EQ(std::count_if(firstWrite, sent.end(), [](const std::string& x) { return x[0] == 'r'; }), 0);
    EXPECT_TRUE(r.Err.contains("putting the board's values back")) << r.Err.toStdString();
    if (c.Persistent) {
      EXPECT_TRUE(r.Err.contains("could not be put back")) << r.Err.toStdString();
    } else {
      EXPECT_EQ(FSim.Params(), Oscillating());
    }
  }
}

struct TPoorFitCase {
  const char* Name;
  std::vector<std::string> Answer;  // the step test's answer; empty: the board's own
  QStringList Args;
  const char* Says;
};

void PrintTo(const TPoorFitCase& c, std::ostream* out) { *out << c.Name; }

class SuggestPoorFitTest : public SuggestTest, public testing::WithParamInterface<TPoorFitCase> {};

// A run the motor model cannot replay, or one that hardly moved the motor, writes nothing and
// says what to try.
TEST_P(SuggestPoorFitTest, WritesNothingAndSaysWhy) {
  const TPoorFitCase& c = GetParam();
  if (!c.Answer.empty()) FSim.ScriptAnswer("r", c.Answer);
  const TCtlResult r = RunCtlCaptured(QStringList{"suggest", "--port", FPort, "--apply", "--yes"} + c.Args);
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains(c.Says)) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("nothing was written")) << r.Err.toStdString();
  EXPECT_EQ(FSim.Params(), Oscillating());
  EXPECT_EQ(Count(FSim.ReceivedCommands(), "p "), 0);
  EXPECT_EQ(Count(FSim.ReceivedCommands(), "d "), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, SuggestPoorFitTest,
    testing::Values(TPoorFitCase{"outputs_no_loop_gives", ImpossibleAnswer(200), {"--step", "200"},
                                 "do not follow the loop law the model assumes"},
                    TPoorFitCase{"step_too_small", {}, {"--step", "5"}, "the fit is poor"}),
    [](const testing::TestParamInfo<TPoorFitCase>& info) { return std::string(info.param.Name); });

struct TSpoilCase {
  const char* Name;
  bool Interrupt;  // Ctrl+C while the verification runs; otherwise its answer is spoilt
  std::vector<std::string> Answer;
  const char* Says;
  bool Every = false;  // every test after the first write answers so, not just the first
};

void PrintTo(const TSpoilCase& c, std::ostream* out) { *out << c.Name; }

class SuggestVerificationTest : public SuggestTest, public testing::WithParamInterface<TSpoilCase> {};

// Whatever goes wrong with the verification, the board ends with its own values.
TEST_P(SuggestVerificationTest, LeavesTheBoardAsBefore) {
  const TSpoilCase& c = GetParam();
  if (c.Interrupt) {
    // The board is measured three times before the write (step, step back, rest): the fourth
    // test is the first of the verification.
    OnceReceived([](const TCommands& cs) { return Count(cs, "r") == 4; }, [] { kill(getpid(), SIGINT); });
  } else {
    // The first write comes after the first test's answer: the next tests get the spoilt one.
    const std::vector<std::string> answer = c.Answer;
    const int spoilt = c.Every ? 60 : 1;
    OnceReceived([](const TCommands& cs) { return Count(cs, "p ") == 1; }, [this, answer, spoilt] {
      for (int n = 0; n < spoilt; ++n) FSim.ScriptAnswer("r", answer);
    });
  }
  const TCtlResult r = Suggest({"--apply", "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains(c.Says)) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("putting the board's values back")) << r.Err.toStdString();
  EXPECT_EQ(FSim.Params(), Oscillating());
  EXPECT_GE(Count(FSim.ReceivedCommands(), "p "), 2);  // written, then written back
}

// A complete answer whose line 100 is not an error line: the samples break off there.
std::vector<std::string> BrokenOff() {
  std::vector<std::string> lines = ImpossibleAnswer(0);
  lines[100] = "?";
  return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, SuggestVerificationTest,
    testing::Values(TSpoilCase{"interrupted", true, {}, "interrupted"},
                    TSpoilCase{"answer_broken_off", false, BrokenOff(), "broke off"},
                    TSpoilCase{"worse_than_before", false, ImpossibleAnswer(300),
                               "no gains tried both meet the goal and do no worse than before", true}),
    [](const testing::TestParamInfo<TSpoilCase>& info) { return std::string(info.param.Name); });

// A rest record whose output buzzes while both steps of the verification are fine: the rest
// figure alone keeps the suggestion from staying, and its trial names it.
TEST_F(SuggestTest, RestFigureAloneFailsTheSuggestion) {
  std::vector<std::string> buzz = {"step response", "prediv: 0", "step: 0", "samples: 199"};
  for (int k = 0; k < 199; ++k) {
    buzz.push_back(k % 2 ? "error: 1" : "error: 0");
    buzz.push_back(k % 2 ? "output: 19" : "output: -19");
  }
  buzz.push_back("end of step response");
  buzz.push_back("cycles: 199");
  // Three tests before the write, the suggestion's small step, then its verification's step
  // and step back: the seventh is its rest record.
  OnceReceived([](const TCommands& cs) { return Count(cs, "r") >= 6; }, [this, buzz] { FSim.ScriptAnswer("r", buzz); });
  const TCtlResult r = Suggest({"--apply", "--yes", "--json"});
  const QJsonObject o = QJsonDocument::fromJson(r.Out.toUtf8()).object();
  const QJsonArray trials = o["search"]["trials"].toArray();
  ASSERT_GE(trials.size(), 2) << r.Out.toStdString();
  EXPECT_TRUE(trials[1]["verified"].toBool());
  EXPECT_TRUE(trials[1]["verdict"].toString().contains("rest peak-to-peak of the output is 40.0 %"))
      << trials[1]["verdict"].toString().toStdString();
  // The search goes on from there: what stays is what it found, or the board's own values.
  const zirvsim::TBoardParams board = FSim.Params();
  if (r.Status == kExitOk) {
    EXPECT_EQ(board.P, o["search"]["kept"]["P"].toDouble());
    EXPECT_EQ(board.Deadband, o["search"]["kept"]["deadband"].toDouble());
  } else {
    EXPECT_EQ(board, Oscillating());
  }
}

// A board whose loop integrates per second, not per cycle, gets nothing written: the model's
// gains mean something else there.
TEST_F(SuggestTest, WritesNothingOnABoardWhoseLoopLawDiffers) {
  FSim.SetFault(zirvsim::TFault::IntegralPerSecond);
  zirvsim::TBoardParams withI = Oscillating();
  withI.I = 0.0005;
  FSim.SetParams(withI);
  const TCtlResult r = Suggest({"--apply", "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("this board's loop is another one")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("nothing was written")) << r.Err.toStdString();
  EXPECT_EQ(Count(FSim.ReceivedCommands(), "p "), 0);
  EXPECT_EQ(FSim.Params(), withI);
}

// With --json the table cannot go to standard output before the question: it goes where the
// question goes, before it; after "no" nothing has changed.
TEST_F(SuggestTest, ShowsTheSuggestionBeforeTheQuestion) {
  const TCtlResult r = Suggest({"--apply", "--json"}, "n\n");
  EXPECT_EQ(r.Status, kExitFailed);
  const qsizetype table = r.Err.indexOf("suggested, predicted");
  const qsizetype motor = r.Err.indexOf("motor (fitted to run");
  const qsizetype question = r.Err.indexOf("Write to the board's EEPROM?");
  ASSERT_GE(table, 0) << r.Err.toStdString();
  ASSERT_GE(motor, 0);
  EXPECT_LT(motor, question);
  EXPECT_LT(table, question);
  EXPECT_EQ(FSim.Params(), Oscillating());
  EXPECT_EQ(Count(FSim.ReceivedCommands(), "p "), 0);
}

// The three runs a suggest stored give its answer back without a board, and --png draws them
// with the suggestion; runs made with other gains are refused, and it says why.
TEST_F(SuggestTest, StoredRunsGiveTheLiveAnswerBack) {
  const TCtlResult live = Suggest({"--json"});
  ASSERT_EQ(live.Status, kExitOk) << live.Err.toStdString();
  const QString png = FData.filePath("suggest.png");
  const TCtlResult stored = RunCtlCaptured({"suggest", "--from-history", "1", "2", "3", "--json", "--png", png});
  ASSERT_EQ(stored.Status, kExitOk) << stored.Err.toStdString();
  const QJsonObject a = QJsonDocument::fromJson(live.Out.toUtf8()).object();
  const QJsonObject b = QJsonDocument::fromJson(stored.Out.toUtf8()).object();
  EXPECT_EQ(a["motor"], b["motor"]);
  EXPECT_EQ(a["suggested"]["gains"], b["suggested"]["gains"]);
  EXPECT_EQ(a["suggested"]["deadband"], b["suggested"]["deadband"]);
  QFile file(png);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.read(8).startsWith("\x89PNG"));

  zirvsim::TBoardParams other = Oscillating();
  other.P = 0.5;
  FSim.SetParams(other);
  ASSERT_EQ(Suggest({}).Status, kExitOk);  // runs 4, 5 and 6
  const TCtlResult mixed = RunCtlCaptured({"suggest", "--from-history", "1", "4"});
  EXPECT_EQ(mixed.Status, kExitFailed);
  EXPECT_TRUE(mixed.Err.contains("the runs were made with different loop settings (#1 with P 0.6")) << mixed.Err.toStdString();
}

// A first-order motor from a sluggish start (no I, the motor resting far off target with the
// board's sum of errors growing): the step back, taken while the step still moves it, is fitted
// with the speed it started with, and the suggestion stays. (It was refused: the step back was
// fitted as if from rest, and no motor replayed it.)
TEST(SuggestSluggishTest, FirstOrderMotorFromASluggishStartIsTuned) {
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
  zirvsim::TBoardSimulator sim{
      {.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0, .Motor = *zirvsim::ParseMotorConstants("gain=700,tau=0.04,friction=1")}};
  zirvsim::TBoardParams sluggish;
  sluggish.P = 0.03, sluggish.I = 0, sluggish.D = 0.0005;
  sim.SetParams(sluggish);
  sim.Start();
  const TCtlResult r = RunCtlCaptured(
      {"suggest", "--port", QString::fromStdString(sim.DevicePath()), "--step", "200", "--apply", "--yes", "--json"});
  sim.Stop();
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  const QJsonObject o = QJsonDocument::fromJson(r.Out.toUtf8()).object();
  const QJsonObject measured = o["verification"].toObject()["measured"].toObject();
  EXPECT_FALSE(measured["settling_samples"].isNull());
  EXPECT_LE(measured["overshoot_pct"].toDouble(), 5);
}

// A deadband the suggestion sets is said, with what it stands against, among what is printed
// before any question: a reader must not take a deadband against play for one against noise.
TEST(SuggestDeadbandTest, SaysWhatTheDeadbandStandsAgainst) {
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
  struct TCase {
    const char* Name;
    zirvsim::TMotorConstants Motor;
    const char* Says;
  } cases[] = {
      {"play", {.PlayCounts = 3}, "against the play the suggestion sets \"Deadband (b):\" to 1 count"},
      {"encoder noise", {.EncoderNoiseCounts = 1}, "against the flicker the suggestion sets \"Deadband (b):\" to"},
  };
  for (const TCase& c : cases) {
    zirvsim::TBoardSimulator sim{{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0, .Motor = c.Motor}};
    sim.Start();
    const TCtlResult r =
        RunCtlCaptured({"suggest", "--port", QString::fromStdString(sim.DevicePath()), "--step", "200"});
    EXPECT_EQ(r.Status, kExitOk) << c.Name << ": " << r.Err.toStdString();
    EXPECT_TRUE(r.Out.contains(c.Says)) << c.Name << ":\n" << r.Out.toStdString();
    sim.Stop();
  }
}

// Replays the board's P, I, D, deadband and feed-forward through the set commands received,
// and returns whether every step test whose trial was dangerous is followed, before any other
// status read or step test, by writes that bring back the values the board began with.
bool PutBackAtOnce(const TCommands& commands, const std::vector<int>& dangerousTests, const zirvsim::TBoardParams& original) {
  const std::string own = "pid01b";
  std::map<char, double> values = {{'p', original.P}, {'i', original.I}, {'d', original.D}, {'0', original.FeedForward0},
                                   {'1', original.FeedForward1}, {'b', original.Deadband}};
  const std::map<char, double> start = values;
  int tests = 0;
  std::optional<int> waiting;  // the dangerous test whose put-back is awaited
  for (const std::string& c : commands) {
    if (c.size() > 2 && c[1] == ' ' && own.find(c[0]) != std::string::npos) values[c[0]] = std::stod(c.substr(2));
    if (waiting && values == start) waiting.reset();
    if (c == "s" || c.rfind("r", 0) == 0) {
      if (waiting) return false;
      if (c[0] == 'r' && std::count(dangerousTests.begin(), dangerousTests.end(), ++tests)) waiting = tests;
    }
  }
  return !waiting;
}

struct TSearchCase {
  const char* Name;
  const char* Motor;
  // The model refuses; else it suggests gains, kept where their verification passes. None where
  // either may come: whether the model's records catch a rare event is a matter of chance.
  std::optional<bool> ModelGivesNone;
  const char* Names = "";  // what a refusal names
};

void PrintTo(const TSearchCase& c, std::ostream* out) { *out << c.Name; }

class SuggestSearchTest : public testing::TestWithParam<TSearchCase> {};

// Machines the model does not hold: --apply searches on the board, within 60 step tests, puts
// every dangerous trial back right after the test that showed it, and either keeps gains whose
// verification is within the goal or gives the board its values back and says why.
TEST_P(SuggestSearchTest, MeetsTheGoalOrWritesNothingWithAReason) {
  const TSearchCase& c = GetParam();
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
  zirvsim::TBoardSimulator sim{
      {.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0, .Motor = *zirvsim::ParseMotorConstants(c.Motor)}};
  sim.Start();
  const zirvsim::TBoardParams original = sim.Params();
  const TCtlResult r = RunCtlCaptured(
      {"suggest", "--port", QString::fromStdString(sim.DevicePath()), "--step", "200", "--apply", "--yes", "--json"});
  const TCommands commands = sim.ReceivedCommands();
  const zirvsim::TBoardParams board = sim.Params();
  sim.Stop();
  const QJsonObject o = QJsonDocument::fromJson(r.Out.toUtf8()).object();
  if (c.ModelGivesNone) {
    EXPECT_EQ(o["refused"].toString().isEmpty(), !*c.ModelGivesNone) << o["refused"].toString().toStdString();
  }
  const QJsonObject search = o["search"].toObject();
  ASSERT_FALSE(search.isEmpty()) << r.Err.toStdString();
  EXPECT_LE(Count(commands, "r"), 60);
  // The runs are numbered in the order of the step tests: a trial's last run is its test.
  std::vector<int> dangerous;
  for (const QJsonValue trial : search["trials"].toArray())
    if (trial["dangerous"].toBool()) dangerous.push_back(trial["runs"].toArray().last().toInt());
  EXPECT_TRUE(PutBackAtOnce(commands, dangerous, original));
  if (r.Status == kExitOk) {
    EXPECT_EQ(board.P, search["kept"]["P"].toDouble());
    EXPECT_EQ(board.D, search["kept"]["D"].toDouble());
    EXPECT_TRUE(o["verification"]["failures"].toArray().isEmpty());
    // Within the verification's goal: the target overshoot and the corner allowance beyond it
    // that the mismatched motors may use, which the board's own motor may use too.
    for (const char* run : {"forward", "reverse"}) {
      const QJsonObject f = o["verification"][run].toObject();
      EXPECT_FALSE(f["settling_samples"].isNull()) << run;
      EXPECT_LE(f["overshoot_pct"].toDouble(), CornerOvershootLimitPct(TTuningGoal{})) << run;
    }
  } else {
    EXPECT_EQ(r.Status, kExitFailed);
    EXPECT_EQ(board, original);
    EXPECT_TRUE(r.Err.contains("no gains tried both meet the goal") || r.Err.contains("tripped the servo"))
        << r.Err.toStdString();
    EXPECT_TRUE((r.Err + r.Out).contains(QString::fromUtf8(c.Names))) << r.Err.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Machines, SuggestSearchTest,
    testing::Values(// Cogging: the fit takes it for friction, and the model's suggestion is tried first.
                    TSearchCase{"cogging", "cogging=1.252,cogs=41", false},
                    // Torque that saturates below the output limit: bolder gains hold the output
                    // at its limit.
                    TSearchCase{"current_limit", "current=24.67", false},
                    // Glitches of the encoder: only gains whose kick at rest stays small settle
                    // slower than the board's own, which no verdict keeps; the refusal says so.
                    // Whether a glitch falls within the model's few records is chance: the model
                    // refuses where one does, else its suggestion is tried first.
                    TSearchCase{"glitches", "glitch=8.557", std::nullopt, "which are quicker only by that kick"}),
    [](const testing::TestParamInfo<TSearchCase>& info) { return std::string(info.param.Name); });

struct TUsageCase {
  const char* Name;
  QStringList Args;
  const char* Says;
};

TEST(SuggestUsageTest, RefusesWhatItCannotDo) {
  const TUsageCase cases[] = {
      {"no_step", {"--port", "COM9"}, "--port and --step are required"},
      {"zero_step", {"--port", "COM9", "--step", "0"}, "--step must not be 0"},
      {"apply_without_port", {"--from-history", "1", "--apply"}, "--apply needs --port"},
      {"overshoot_out_of_range", {"--port", "COM9", "--step", "10", "--target-overshoot", "-1"}, "--target-overshoot must be"},
      {"corner_allowance_negative", {"--port", "COM9", "--step", "10", "--corner-allowance", "-1"}, "--corner-allowance must be"},
      {"count_jump_zero", {"--port", "COM9", "--step", "10", "--count-jump", "0"}, "--count-jump must be"},
      {"bad_run_number", {"--from-history", "x"}, "'x' is not a run number"},
      {"stray_argument", {"--port", "COM9", "--step", "10", "extra"}, "unexpected argument 'extra'"},
  };
  for (const TUsageCase& c : cases) {
    const TCtlResult r = RunCtlCaptured(QStringList{"suggest"} + c.Args);
    EXPECT_EQ(r.Status, kExitUsage) << c.Name;
    EXPECT_TRUE(r.Err.contains(c.Says)) << c.Name << ": " << r.Err.toStdString();
  }
}

}  // namespace
