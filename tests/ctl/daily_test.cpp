// zirv7ctl params, save, write and diff against the simulated board.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <csignal>

#include "parameters/paramfile.h"
#include "tests/ctl/ctlrun.h"
#include "tests/ctl/simboard.h"

namespace {

using TStrings = std::vector<std::string>;

class DailyTest : public testing::Test, public TSimBoardFixture {
 protected:
  DailyTest() : FOriginal(Sim().Params()) {}

  // Saves the board's values into a file, then changes the given keys' lines.
  QString Edited(const QString& name, const std::vector<std::pair<QByteArray, QByteArray>>& changes) {
    const QString file = File(name);
    EXPECT_EQ(RunCtlCaptured({"save", "--port", Port(), file}).Status, kExitOk);
    QByteArray bytes = Contents(file);
    for (const auto& [from, to] : changes) bytes.replace(from, to);
    Write(file, bytes);
    Sim().ClearReceived();
    return file;
  }

  zirvsim::TBoardParams FOriginal;
};

TEST_F(DailyTest, ParamsPrintsTheFourteenValuesByCaptionAndKey) {
  const TCtlResult r = RunCtlCaptured({"params", "--port", Port()});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  const QStringList lines = r.Out.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 15) << r.Out.toStdString();
  EXPECT_EQ(lines[1].simplified(), "P: P 0.2");
  EXPECT_EQ(lines[5].simplified(), "Max Output (m): MaxOutput 95 %");
  EXPECT_EQ(lines[14].simplified(), "SVM Cycle time (c): SVMCycle 3 X 100us");
  const QJsonObject json = QJsonDocument::fromJson(RunCtlCaptured({"params", "--port", Port(), "--json"}).Out.toUtf8()).object();
  EXPECT_EQ(json.size(), 14);
  EXPECT_EQ(json["D"].toDouble(), 0.0015);
  EXPECT_EQ(json["TPSC"].toInt(), 4);
  EXPECT_EQ(Sets(), TStrings{});
}

// Save writes what the window's Save writes; write of the same file then sends nothing.
TEST_F(DailyTest, SaveThenWriteOfTheSameFileSendsNothing) {
  const QString file = File("good.pset");
  TCtlResult r = RunCtlCaptured({"save", "--port", Port(), file});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_EQ(Contents(file),
            "[ZIRVParam]\r\nP=0.2\r\nI=0.0005\r\nD=0.0015\r\nDeadband=0\r\nMaxOutput=95\r\nFF0=0\r\nFF1=0\r\n"
            "FaultError=1000\r\nStepMultiplier=1\r\nTPSC=4\r\nHallTimeout=50\r\nChargeElcos=0\r\n"
            "PhaseAdvance=0\r\nSVMCycle=3\r\n");
  r = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("nothing to write")) << r.Err.toStdString();
  EXPECT_EQ(Sets(), TStrings{});
}

TEST_F(DailyTest, SaveKeepsTheOtherLinesOfAFileInAnotherHand) {
  const QString file = File("shared.pset");
  Write(file, "; tuned on line 3\r\n[Notes]\r\nby=anna\r\n[ZIRVParam]\r\nP=9\r\nCustom=1\r\n");
  ASSERT_EQ(RunCtlCaptured({"save", "--port", Port(), file}).Status, kExitOk);
  const QByteArray bytes = Contents(file);
  EXPECT_TRUE(bytes.startsWith("; tuned on line 3\r\n[Notes]\r\nby=anna\r\n[ZIRVParam]\r\nP=0.2\r\nCustom=1\r\n"))
      << bytes.constData();
  EXPECT_TRUE(bytes.contains("SVMCycle=3\r\n"));
}

TEST_F(DailyTest, WriteSendsOnlyTheDifferencesInTableOrderAfterAsking) {
  const QString file = Edited("new.pset", {{"\nD=0.0015", "\nD=0.002"}, {"\nP=0.2", "\nP=0.3"}});
  TCtlResult r = RunCtlCaptured({"write", "--port", Port(), file, "--dry-run"});
  EXPECT_EQ(r.Status, kExitOk);
  EXPECT_TRUE(r.Out.contains("  P 0.2 -> 0.3\n  D 0.0015 -> 0.002\n")) << r.Out.toStdString();
  r = RunCtlCaptured({"write", "--port", Port(), file}, "n\n");
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("Write to the board's EEPROM? [y/N]")) << r.Err.toStdString();
  EXPECT_EQ(Sets(), TStrings{});

  r = RunCtlCaptured({"write", "--port", Port(), file}, "y\n");
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_EQ(Sets(), (TStrings{"p 0.3", "d 0.002"}));
  EXPECT_EQ(Sim().Params().P, 0.3);
  EXPECT_EQ(Sim().Params().D, 0.002);
  EXPECT_EQ(r.Out.split(u'\n')[1].simplified(), "P 0.2 0.3 0.3");
}

TEST_F(DailyTest, ValueTheBoardLimitsIsReportedAsLimited) {
  const QString file = Edited("loud.pset", {{"MaxOutput=95", "MaxOutput=150"}});
  const TCtlResult r = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_EQ(r.Out.split(u'\n')[1].simplified(), "MaxOutput 95 150 100 limited by the board") << r.Out.toStdString();
  EXPECT_TRUE(r.Err.contains("the board limited a value")) << r.Err.toStdString();
  EXPECT_EQ(Sim().Params().MaxOutput, 100);
}

// The board goes away after the first value: the rest is not sent, and the command says what
// the board may hold now.
TEST_F(DailyTest, BoardThatStopsAnsweringMidWriteIsReportedWithWhatItHolds) {
  const QString file = Edited("new.pset", {{"\nP=0.2", "\nP=0.3"}, {"\nD=0.0015", "\nD=0.002"}});
  Sim().SetFault(zirvsim::TFault::HangUpAfter, 2);  // "l" and "p 0.3" are answered
  const TCtlResult r = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("the board's values could not be put back")) << r.Err.toStdString();
  // P was answered before the board went (on a loaded machine its answer may be lost with the
  // line: then P is unknown too); D's answer never came: unknown. A device that is gone is not
  // written again.
  EXPECT_TRUE(r.Err.contains(QRegularExpression("it may still hold P (0.3|unknown) \\(was 0.2\\), D unknown \\(was 0.0015\\)")))
      << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains(Port() + " went away while in use: it was unplugged or powered off. Plug it back "
                             "in, then run the command again.")) << r.Err.toStdString();
  // The table says what the board holds now, not what was sent.
  EXPECT_TRUE(r.Out.split(u'\n').value(1).simplified().contains(QRegularExpression("^P 0.2 0.3 (0.3|unknown) .*not put back$")))
      << r.Out.toStdString();
  EXPECT_EQ(r.Out.split(u'\n').value(2).simplified(), "D 0.0015 0.002 unknown no answer, not put back");
}

TEST_F(DailyTest, WriteRefusesAFileThatIsNoParameterFile) {
  const QString noise = File("noise.bin");
  Write(noise, QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11));
  const QString otherSection = File("other.pset");
  Write(otherSection, "[Other]\r\nP=0.9\r\n");
  for (const QString& file : {noise, otherSection, File("missing.pset")}) {
    const TCtlResult r = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
    EXPECT_EQ(r.Status, kExitFailed) << file.toStdString();
    EXPECT_TRUE(r.Err.startsWith("zirv7ctl: " + file + ": ")) << r.Err.toStdString();
  }
  EXPECT_TRUE(Sim().ReceivedCommands().empty());
}

// A file in which the window's Open would load a default or pass a line over: write and
// compare refuse it (exit 1), diff too (exit 2), each naming the line and the key, and the
// board is not touched. A value beyond its field's limits goes as the field would hold it.
TEST_F(DailyTest, FilesThatLeaveAValueToTheWindowsDefaultAreRefused) {
  struct TCase {
    const char* Name;
    std::vector<std::pair<QByteArray, QByteArray>> Changes;  // to the saved file
    const char* Said;
  } cases[] = {
      {"note", {{"MaxOutput=95", "MaxOutput=50 ; never above 50 on this rig"}},
       ":6: MaxOutput: \"50 ; never above 50 on this rig\" is no 32-bit integer"},
      {"comma", {{"\nP=0.2", "\nP=0,3"}}, ":2: P: \"0,3\" is no number"},
      {"alone", {{"\r\nI=0.0005\r\nD=0.0015", ""}}, ":1: [ZIRVParam] has no key I"},
      {"twice", {{"TPSC=4\r\n", "TPSC=4\r\ntpsc=5\r\n"}}, ":12: tpsc again; the key is on line 11 already"},
      {"sections", {{"SVMCycle=3\r\n", "SVMCycle=3\r\n[zirvparam]\r\nP=0.3\r\n"}},
       ":16: a second section [ZIRVParam]; the first is on line 1"},
  };
  for (const TCase& c : cases) {
    const QString file = Edited(QString::fromLatin1(c.Name) + ".pset", c.Changes);
    const QString said = "zirv7ctl: " + file + c.Said + "\n";
    const TCtlResult write = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
    EXPECT_EQ(write.Status, kExitFailed) << c.Name;
    EXPECT_TRUE(write.Err.startsWith(said)) << c.Name << ": " << write.Err.toStdString();
    const TCtlResult diff = RunCtlCaptured({"diff", file, "board:" + Port()});
    EXPECT_EQ(diff.Status, 2) << c.Name;
    EXPECT_TRUE(diff.Err.startsWith(said)) << c.Name << ": " << diff.Err.toStdString();
    const TCtlResult compare = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", file, "--yes"});
    EXPECT_EQ(compare.Status, kExitFailed) << c.Name;
    EXPECT_TRUE(compare.Err.startsWith(said)) << c.Name << ": " << compare.Err.toStdString();
    EXPECT_TRUE(Sim().ReceivedCommands().empty()) << c.Name;
  }
  const QString limited = Edited("limited.pset", {{"SVMCycle=3", "SVMCycle=9"}});
  const TCtlResult r = RunCtlCaptured({"write", "--port", Port(), limited, "--dry-run"});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Out.contains("  SVMCycle 3 -> 4\n")) << r.Out.toStdString();
  EXPECT_EQ(Sim().Params(), FOriginal);
}

TEST_F(DailyTest, SavePathIsCheckedBeforeTheBoardIsAsked) {
  const TCtlResult r = RunCtlCaptured({"save", "--port", Port(), File("missing/good.pset")});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("does not exist")) << r.Err.toStdString();
  EXPECT_TRUE(Sim().ReceivedCommands().empty());
}

// '-' means standard output to every other output of the companion: save makes no file of
// that name in the working folder.
TEST_F(DailyTest, SaveRefusesDashAsAFileName) {
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(File("")));
  const TCtlResult r = RunCtlCaptured({"save", "--port", Port(), "-"});
  const bool made = QFile::exists(File("-"));
  QDir::setCurrent(before);
  EXPECT_EQ(r.Status, kExitUsage);
  EXPECT_TRUE(r.Err.contains("'-' is no file name here")) << r.Err.toStdString();
  EXPECT_FALSE(made);
  EXPECT_TRUE(Sim().ReceivedCommands().empty());
}

TEST_F(DailyTest, DiffExitsAsDiffDoes) {
  const QString good = Edited("good.pset", {});
  const QString changed = Edited("changed.pset", {{"\nI=0.0005", "\nI=0.001"}});
  ASSERT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "100"}).Status, kExitOk);
  struct TCase {
    QStringList Sides;
    int Status;
    const char* Out;
  } cases[] = {
      {{good, "board:" + Port()}, 0, ""},
      {{"#1", good}, 0, ""},
      {{good, changed}, 1, "I  0.0005  0.001"},
      {{"board:" + Port(), changed}, 1, "I  0.0005  0.001"},
      {{good, File("missing.pset")}, 2, nullptr},
      {{"#99", good}, 2, nullptr},
      {{"board:", good}, 2, nullptr},
  };
  for (const TCase& c : cases) {
    const TCtlResult r = RunCtlCaptured(QStringList{"diff"} + c.Sides);
    EXPECT_EQ(r.Status, c.Status) << c.Sides.join(' ').toStdString() << "\n" << r.Err.toStdString();
    if (c.Out) {
      EXPECT_TRUE(r.Out.split(u'\n').value(1).simplified() == QString(c.Out).simplified() ||
                  (*c.Out == '\0' && r.Out.isEmpty()))
          << r.Out.toStdString();
    }
  }
  EXPECT_EQ(RunCtlCaptured({"diff", good}).Status, kExitUsage);
}

// Ctrl+C (or a kill, or a closed terminal) during the write: the values after it are not sent
// and the board gets back what it held.
class DailySlowBoardTest : public testing::Test, public TSimBoardFixture {
 protected:
  DailySlowBoardTest() : TSimBoardFixture(5) {}
};

TEST_F(DailySlowBoardTest, InterruptedWritePutsTheBoardBack) {
  const zirvsim::TBoardParams original = Sim().Params();
  const QString file = File("new.pset");
  ASSERT_EQ(RunCtlCaptured({"save", "--port", Port(), file}).Status, kExitOk);
  QByteArray bytes = Contents(file);
  bytes.replace("\nP=0.2", "\nP=0.3").replace("\nI=0.0005", "\nI=0.001").replace("\nD=0.0015", "\nD=0.002");
  Write(file, bytes);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    Sim().ClearReceived();
    bool raised = false;
    const TCtlResult r = RunCtlInterruptedAtFirstSet({"write", "--port", Port(), file, "--yes"}, signal, raised);
    EXPECT_TRUE(raised);
    EXPECT_EQ(r.Status, kExitFailed);
    EXPECT_TRUE(r.Err.contains("interrupted; the board's values go back")) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("the board holds its values from before again; backup ")) << r.Err.toStdString();
    EXPECT_EQ(Sim().Params(), original) << signal;
    EXPECT_LT(Sets().size(), 6u) << "every value was written, then put back";
  }
}

// The board stops answering in the middle of the write: the command says what it sent and
// what to check, and what the board may hold.
TEST_F(DailySlowBoardTest, BoardThatFallsSilentMidWriteSaysWhatWasSent) {
  const QString file = File("new.pset");
  ASSERT_EQ(RunCtlCaptured({"save", "--port", Port(), file}).Status, kExitOk);
  QByteArray bytes = Contents(file);
  bytes.replace("\nP=0.2", "\nP=0.3").replace("\nD=0.0015", "\nD=0.002");
  Write(file, bytes);
  Sim().ClearReceived();
  Sim().HoldAnswerTo("d");  // P is answered, D and everything after it are not
  const TCtlResult r = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("was sent to " + Port() + " and no whole answer came back")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("Check that the board is powered")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("the board's values could not be put back")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("`zirv7ctl restore --port " + Port() + " 1` puts them back")) << r.Err.toStdString();
}

}  // namespace
