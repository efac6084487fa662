// zirv7ctl step, compare, history and show against the simulated board.
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <csignal>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "parameters/paramfile.h"
#include "runstore/runstore.h"
#include "sim/simulator.h"
#include "tests/simgate.h"
#include "boardsession/boardlink.h"
#include "tests/ctl/ctlrun.h"

namespace {

using TStrings = std::vector<std::string>;

// Returns what waits in the pipe's reading end, without waiting for more.
QByteArray ReadWaiting(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  QByteArray all;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, n);
  return all;
}

class StepCommandsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FData.isValid());
    qputenv("XDG_DATA_HOME", FData.path().toLocal8Bit());
    // An error's explanation looks at the port aliases: never the user's.
    qputenv("XDG_CONFIG_HOME", FData.filePath(QStringLiteral("config")).toLocal8Bit());
    FSim = std::make_unique<zirvsim::TBoardSimulator>(
        zirvsim::TSimOptions{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0});
    FSim->Start();
    FOriginal = FSim->Params();
  }

  QString Port() const { return QString::fromStdString(FSim->DevicePath()); }
  QString File(const QString& name) const { return FData.filePath(name); }

  // Writes a parameter file with the board's defaults and the given gains and output limit.
  QString ParamFile(const QString& name, double p, double d, int maxOutput = 95) const {
    TParamFileValues v = DefaultParamFileValues();
    v.at(RowIndexOf("P")).Float = p;
    v.at(RowIndexOf("I")).Float = 0.0005;
    v.at(RowIndexOf("D")).Float = d;
    v.at(RowIndexOf("MaxOutput")).Int = maxOutput;
    WriteParamFile(File(name), v);
    return File(name);
  }

  // Returns the set commands and step tests the board received, without the reads ("l").
  TStrings Writes() const {
    TStrings writes;
    for (const std::string& c : FSim->ReceivedCommands())
      if (c != "l") writes.push_back(c);
    return writes;
  }

  int StepTests() const {
    int n = 0;
    for (const std::string& c : FSim->ReceivedCommands()) n += c.rfind("r", 0) == 0;
    return n;
  }

  QJsonArray HistoryRuns() {
    const TCtlResult r = RunCtlCaptured({"history", "--json"});
    EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
    return QJsonDocument::fromJson(r.Out.toUtf8()).object().value("runs").toArray();
  }

  // Returns the journal's entries.
  static std::vector<TJournalEntry> Journal() {
    TRunStore store;
    const TResult<void> opened = store.Open(*TRunStore::DefaultPath());
    EXPECT_TRUE(opened) << opened.Failure().Message.toStdString();
    TResult<std::vector<TJournalEntry>> entries = store.ListJournal();
    return entries ? *entries : std::vector<TJournalEntry>();
  }

  // Makes the history refuse every run stored from now on.
  void RefuseNewRuns() {
    {
      TRunStore store;
      const TResult<void> opened = store.Open(*TRunStore::DefaultPath());
      ASSERT_TRUE(opened) << opened.Failure().Message.toStdString();
    }
    const QString name = QStringLiteral("refuse");
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
      db.setDatabaseName(FData.filePath("zirv7tune/runs.sqlite"));
      ASSERT_TRUE(db.open());
      ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral(
          "CREATE TRIGGER refuse BEFORE INSERT ON runs BEGIN SELECT RAISE(ABORT, 'refused'); END")));
    }
    QSqlDatabase::removeDatabase(name);
  }

  void CompareInterruptedBy(int signal);

  QTemporaryDir FData;
  std::unique_ptr<zirvsim::TBoardSimulator> FSim;
  zirvsim::TBoardParams FOriginal;
};

TEST_F(StepCommandsTest, StepRunsForwardAndReverseAndStoresEveryRun) {
  const TCtlResult r =
      RunCtlCaptured({"step", "--port", Port(), "--step", "100", "--runs", "2", "--fwd-rev",
                      "--json", "--png", File("steps.png"), "--csv", File("steps.csv")});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_EQ(FSim->ReceivedCommands(), (TStrings{"l", "r0c100ok1", "r0c-100ok1"}));
  const QJsonArray runs = QJsonDocument::fromJson(r.Out.toUtf8()).object().value("runs").toArray();
  ASSERT_EQ(runs.size(), 2);
  EXPECT_EQ(runs[0].toObject().value("step").toInt(), 100);
  EXPECT_EQ(runs[1].toObject().value("step").toInt(), -100);
  for (const QJsonValue& run : runs) {
    const QJsonObject o = run.toObject();
    EXPECT_EQ(o.value("samples").toArray().size(), 199);
    // The simulated board's servo period is 4 x 100 us, one sample per cycle at prediv 0.
    EXPECT_DOUBLE_EQ(o.value("sample_period_ms").toDouble(), 0.4);
    EXPECT_EQ(o.value("params").toObject().value("P").toDouble(), FOriginal.P);
    EXPECT_GT(o.value("rise_samples").toDouble(), 0);
  }
  EXPECT_EQ(QImage(File("steps.png")).size(), QSize(1200, 800));
  QFile csv(File("steps.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().count('\n'), 1 + 2 * 199);

  const QJsonArray stored = HistoryRuns();
  ASSERT_EQ(stored.size(), 2);
  EXPECT_EQ(stored[1].toObject().value("sample_count").toInt(), 199);
  EXPECT_FALSE(stored[1].toObject().contains("samples"));
  EXPECT_EQ(stored[1].toObject().value("port").toString(), Port());
  const TCtlResult shown = RunCtlCaptured(
      {"show", QString::number(stored[0].toObject().value("id").toInt()), "--json"});
  ASSERT_EQ(shown.Status, kExitOk) << shown.Err.toStdString();
  EXPECT_EQ(QJsonDocument::fromJson(shown.Out.toUtf8()).object().value("runs").toArray()[0],
            runs[0]);
}

TEST_F(StepCommandsTest, AnswerThatBreaksOffFailsAndIsNotStored) {
  FSim->SetFault(zirvsim::TFault::MissingTag, 100);  // answer line 100 loses "error"
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("run 1: the step test's answer broke off after 48 of 199 samples"))
      << r.Err.toStdString();
  EXPECT_TRUE(r.Out.isEmpty());
  EXPECT_TRUE(HistoryRuns().isEmpty());
}

// A history that refuses the run (here a trigger stands in for a full disk or a lock held too
// long): the command fails, and the figures measured are still printed rather than lost.
TEST_F(StepCommandsTest, RunTheHistoryRefusesIsStillPrinted) {
  RefuseNewRuns();
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100", "--json"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("the run was not stored")) << r.Err.toStdString();
  const QJsonArray runs = QJsonDocument::fromJson(r.Out.toUtf8()).object().value("runs").toArray();
  ASSERT_EQ(runs.size(), 1) << r.Out.toStdString();
  EXPECT_EQ(runs[0].toObject().value("samples").toArray().size(), 199);

  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  const TCtlResult c = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a, "--yes"});
  EXPECT_EQ(c.Status, kExitFailed);
  EXPECT_TRUE(c.Out.contains("a.pset")) << c.Out.toStdString();
  EXPECT_EQ(FSim->Params(), FOriginal);
}

TEST_F(StepCommandsTest, PortHeldElsewhereIsRefusedWithThePortsMessage) {
  TBoardLink holder;
  holder.Open(Port());
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.startsWith("zirv7ctl: " + Port() + ": Unable to open com port"))
      << r.Err.toStdString();
}

TEST_F(StepCommandsTest, BadOptionsAreUsageErrors) {
  for (const QStringList& args : {QStringList{"step", "--port", Port()},
                                  QStringList{"step", "--port", Port(), "--step", "0"},
                                  QStringList{"step", "--port", Port(), "--step", "x"},
                                  QStringList{"step", "--port", Port(), "--step", "5", "--prediv", "51"},
                                  QStringList{"compare", "--port", Port(), "--step", "5"},
                                  QStringList{"show", "abc"},
                                  QStringList{"show", "1#2"}}) {
    const TCtlResult r = RunCtlCaptured(args);
    EXPECT_EQ(r.Status, kExitUsage) << args.join(' ').toStdString();
  }
  EXPECT_TRUE(FSim->ReceivedCommands().empty());
}

TEST_F(StepCommandsTest, CompareWritesOnlyDifferencesAndPutsTheBoardBack) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  const QString b = ParamFile("b.pset", 0.25, 0.002);
  const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a, b, "--yes"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("compare will make 5 EEPROM writes")) << r.Err.toStdString();
  EXPECT_EQ(Writes(), (TStrings{"p 0.3", "r0c100ok1", "p 0.25", "d 0.002", "r0c100ok1", "p 0.2",
                                "d 0.0015"}));
  EXPECT_EQ(FSim->ReceivedCommands().back(), "l");  // the check after putting values back
  EXPECT_EQ(FSim->Params(), FOriginal);
  EXPECT_TRUE(r.Out.contains("a.pset")) << r.Out.toStdString();
  EXPECT_TRUE(r.Out.contains(" *")) << r.Out.toStdString();
  const QJsonArray stored = HistoryRuns();
  ASSERT_EQ(stored.size(), 2);
  EXPECT_EQ(stored[0].toObject().value("label").toString(), "a.pset");
  EXPECT_EQ(stored[1].toObject().value("params").toObject().value("D").toDouble(), 0.002);
}

TEST_F(StepCommandsTest, CompareAsksFirstAndADeclineWritesNothing) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a}, "n\n");
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("a.pset: P 0.2 -> 0.3")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("Write to the board's EEPROM? [y/N]"));
  EXPECT_TRUE(Writes().empty());
}

TEST_F(StepCommandsTest, CompareRefusesAMissingFileBeforeTouchingTheBoard) {
  const TCtlResult r = RunCtlCaptured(
      {"compare", "--port", Port(), "--step", "100", File("missing.pset"), "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(FSim->ReceivedCommands().empty());
}

// Ctrl+C (or a kill, or a closed terminal) once the first test has been sent: no further test
// runs and the board's values are put back before the command ends.
void StepCommandsTest::CompareInterruptedBy(int signal) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  const QString b = ParamFile("b.pset", 0.25, 0.002);
  // The first test's answer waits until the signal has come, so it comes during that test.
  FSim->HoldAnswerTo("r");
  QTimer watcher;
  bool raised = false;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (raised || StepTests() == 0) return;
    raised = true;
    std::raise(signal);
    FSim->ReleaseAnswers();
  });
  watcher.start(1);
  const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a, b, "--yes"});
  watcher.stop();
  EXPECT_TRUE(raised);
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("interrupted")) << r.Err.toStdString();
  EXPECT_EQ(StepTests(), 1);
  EXPECT_EQ(FSim->Params(), FOriginal);
  EXPECT_EQ(FSim->ReceivedCommands().back(), "l");
}

TEST_F(StepCommandsTest, CompareInterruptedPutsTheBoardBack) { CompareInterruptedBy(SIGINT); }

TEST_F(StepCommandsTest, CompareKilledPutsTheBoardBack) { CompareInterruptedBy(SIGTERM); }

TEST_F(StepCommandsTest, CompareWhoseTerminalClosedPutsTheBoardBack) { CompareInterruptedBy(SIGHUP); }

TEST_F(StepCommandsTest, CompareQuitWithCtrlBackslashPutsTheBoardBack) { CompareInterruptedBy(SIGQUIT); }

TEST_F(StepCommandsTest, CompareTellsOfAClampedValueAndPutsTheBoardBack) {
  const QString c = ParamFile("c.pset", FOriginal.P, FOriginal.D, 150);
  const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", c, "--yes"});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("the board holds MaxOutput 100 where c.pset has 150"))
      << r.Err.toStdString();
  const QJsonArray stored = HistoryRuns();
  ASSERT_EQ(stored.size(), 1);
  // The run records what the board held, not what the file asked for.
  EXPECT_EQ(stored[0].toObject().value("params").toObject().value("MaxOutput").toDouble(), 100);
  EXPECT_EQ(FSim->Params(), FOriginal);
}

TEST_F(StepCommandsTest, CompareWithAFailedRunPutsTheBoardBack) {
  FSim->SetFault(zirvsim::TFault::MissingTag, 100);
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a, "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("a.pset: the step test's answer broke off")) << r.Err.toStdString();
  EXPECT_EQ(FSim->Params(), FOriginal);
}

// One garbled answer while putting the board back: the restore reads what the board holds and
// writes again.
TEST_F(StepCommandsTest, CompareTriesAgainWhenAnAnswerIsGarbledWhilePuttingTheBoardBack) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  FSim->ScriptAnswer("p 0.2", {"noise"});
  const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a, "--yes"});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_EQ(FSim->Params(), FOriginal);
  // Each write is checked with a read; the garbled answer to "p 0.2" makes the put-back read
  // what the board holds ("l") and write P again.
  EXPECT_EQ(FSim->ReceivedCommands(),
            (TStrings{"l", "p 0.3", "l", "r0c100ok1", "p 0.2", "l", "p 0.2", "l"}));
}

// A board that goes away before its values are back: the user is told every value that may
// differ from what it had, so that they can be put back by hand.
TEST_F(StepCommandsTest, CompareThatCannotPutTheBoardBackNamesItsValues) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  FSim->SetFault(zirvsim::TFault::HangUpAfter, 4);  // answers "l", "p 0.3", its check "l" and the test
  const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a, "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains(": the board's values could not be put back (")) << r.Err.toStdString();
  // "p 0.2" went out and its answer never came: what P holds is not known.
  EXPECT_TRUE(r.Err.contains("it may still hold P unknown (was 0.2); they were: P=0.2; "
                             "`zirv7ctl restore --port " + Port() + " 1` puts them back\n"))
      << r.Err.toStdString();
  EXPECT_TRUE(r.Out.contains("a.pset")) << r.Out.toStdString();
}

// A compare killed outright (SIGKILL, or the power gone) after its first EEPROM write: the
// board keeps the trial value, and the next command on the port says so before anything else,
// with the command that puts the board's own values back.
TEST_F(StepCommandsTest, KilledCompareIsToldByTheNextCommand) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  QProcess compare;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_DATA_HOME", FData.path());
  compare.setProcessEnvironment(env);
  compare.start(ZIRV_CTL_PROGRAM, {"compare", "--port", Port(), "--step", "100", a, "--yes"});
  ASSERT_TRUE(compare.waitForStarted());
  QElapsedTimer clock;
  clock.start();
  auto written = [&] {
    const TStrings c = FSim->ReceivedCommands();
    return std::find(c.begin(), c.end(), "p 0.3") != c.end();
  };
  while (!written() && clock.elapsed() < 10000) QThread::msleep(1);
  ASSERT_TRUE(written()) << compare.readAllStandardError().toStdString();
  ::kill(pid_t(compare.processId()), SIGKILL);
  compare.waitForFinished();
  EXPECT_EQ(FSim->Params().P, 0.3);  // the trial value stayed on the board

  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100"});
  const QString first = r.Err.section(u'\n', 0, 0);
  EXPECT_TRUE(first.startsWith("zirv7ctl: " + Port() + ": an earlier compare on " + Port() +
                               " did not finish"))
      << r.Err.toStdString();
  EXPECT_TRUE(first.contains("a.pset: P 0.2 -> 0.3")) << first.toStdString();
  EXPECT_TRUE(first.contains("`zirv7ctl restore --port " + Port() + " 1` puts back P=0.2 I=0.0005 "))
      << first.toStdString();
}

// Nothing written, nothing journalled: a declined compare and a plain step leave no entry.
TEST_F(StepCommandsTest, CommandsThatWriteNothingKeepNoJournal) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a}, "n\n");
  RunCtlCaptured({"step", "--port", Port(), "--step", "100"});
  const QString same = ParamFile("same.pset", FOriginal.P, FOriginal.D);
  RunCtlCaptured({"compare", "--port", Port(), "--step", "100", same, "--yes"});
  const std::vector<TJournalEntry> entries = Journal();
  EXPECT_TRUE(entries.empty());
}

// A compare that puts the board back finishes its entry; the next command says nothing of it.
TEST_F(StepCommandsTest, FinishedCompareLeavesAFinishedEntry) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  ASSERT_EQ(RunCtlCaptured({"compare", "--port", Port(), "--step", "100", a, "--yes"}).Status, kExitOk);
  const std::vector<TJournalEntry> entries = Journal();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].Finished);
  EXPECT_EQ(entries[0].Outcome, "put back");
  EXPECT_EQ(entries[0].Board.P, FOriginal.P);
  EXPECT_TRUE(entries[0].Command.startsWith("compare --port")) << entries[0].Command.toStdString();
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100"});
  EXPECT_FALSE(r.Err.contains("did not finish")) << r.Err.toStdString();
}

// Runs zirv7ctl with the history's folder mounted read-only (a mount namespace of its own);
// returns nothing when this machine allows no such mount.
std::optional<TCtlResult> RunOnReadOnlyDisk(const QString& data, const QStringList& args) {
  const QString folder = data + "/zirv7tune";
  QStringList quoted;
  for (const QString& a : QStringList{ZIRV_CTL_PROGRAM} + args) quoted << "'" + a + "'";
  const QString script = QStringLiteral(
      "mount --bind '%1' '%1' && mount -o remount,ro,bind '%1' || exit 99; "
      "touch '%1/probe' 2>/dev/null && exit 99; exec %2").arg(folder, quoted.join(' '));
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_DATA_HOME", data);
  p.setProcessEnvironment(env);
  p.start("unshare", {"-m", "sh", "-c", script});
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() == 99)
    return std::nullopt;
  return TCtlResult{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                    QString::fromUtf8(p.readAllStandardError())};
}

// history and show only read: they work where the history cannot be written.
TEST_F(StepCommandsTest, HistoryAndShowWorkOnAReadOnlyDisk) {
  ASSERT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "100"}).Status, kExitOk);
  for (const QStringList& args : {QStringList{"history", "--json"}, QStringList{"show", "1", "--json"}}) {
    const std::optional<TCtlResult> r = RunOnReadOnlyDisk(FData.path(), args);
    if (!r) GTEST_SKIP() << "no read-only mount possible here";
    EXPECT_EQ(r->Status, kExitOk) << args.join(' ').toStdString() << ": " << r->Err.toStdString();
    const QJsonArray runs = QJsonDocument::fromJson(r->Out.toUtf8()).object().value("runs").toArray();
    EXPECT_EQ(runs.size(), 1) << r->Out.toStdString();
  }
}

// A backup is read from a history on a read-only disk, and written back to the board; the
// restore says that it keeps no backup of its own.
TEST_F(StepCommandsTest, RestoreWorksFromAHistoryOnAReadOnlyDisk) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  ASSERT_EQ(RunCtlCaptured({"write", "--port", Port(), a, "--yes"}).Status, kExitOk);
  ASSERT_NE(FSim->Params(), FOriginal);
  const std::optional<TCtlResult> r = RunOnReadOnlyDisk(FData.path(), {"restore", "--port", Port(), "1", "--yes"});
  if (!r) GTEST_SKIP() << "no read-only mount possible here";
  EXPECT_EQ(r->Status, kExitOk) << r->Err.toStdString();
  EXPECT_TRUE(r->Err.contains("can only be read: this restore cannot keep the board's present values")) << r->Err.toStdString();
  EXPECT_EQ(FSim->Params(), FOriginal);
  EXPECT_EQ(Journal().size(), 1u);
}

// With no history yet, listing it creates nothing.
TEST_F(StepCommandsTest, HistoryOfNothingCreatesNoFile) {
  const TCtlResult r = RunCtlCaptured({"history"});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(*TRunStore::DefaultPath()));
}

// The output of a comparison piped into a program that stops reading ("| head -n 5", a pager
// that quits) while the first trial values are on the board: the program is not ended by the
// closed pipe, puts the board back, and fails for its output.
TEST_F(StepCommandsTest, CompareWhoseOutputIsClosedPutsTheBoardBack) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  const QString b = ParamFile("b.pset", 0.25, 0.002);
  // "zirv7ctl compare ... 2>&1 | reader", with this test as the reader: it closes its end while
  // the board holds back the first step test's answer, so that the pipe is closed before that
  // test ends, however late a loaded machine lets a real reader quit.
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  std::mutex lock;
  int reading = ends[0];
  QByteArray seen;  // what the reader had been sent when it quit
  FSim->HoldAnswerTo("r");
  FSim->OnCommand([&](const TStrings& received) {
    std::lock_guard guard(lock);
    if (reading < 0 || received.back().rfind("r", 0) != 0) return;
    seen = ReadWaiting(reading);
    ::close(std::exchange(reading, -1));
    FSim->ReleaseAnswers();
  });
  QProcess command;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_DATA_HOME", FData.path());
  command.setProcessEnvironment(env);
  const int writing = ends[1];
  command.setChildProcessModifier([writing] {
    ::dup2(writing, STDOUT_FILENO);
    ::dup2(writing, STDERR_FILENO);
  });
  command.start(ZIRV_CTL_PROGRAM, {"compare", "--port", Port(), "--step", "100", a, b, "--yes"});
  const bool finished = command.waitForFinished(30000);
  ::close(writing);
  FSim->OnCommand(nullptr);
  {
    std::lock_guard guard(lock);
    if (reading >= 0) ::close(std::exchange(reading, -1));
  }
  ASSERT_TRUE(finished);
  EXPECT_EQ(command.exitStatus(), QProcess::NormalExit);  // not ended by SIGPIPE
  EXPECT_EQ(command.exitCode(), kExitFailed);
  EXPECT_TRUE(seen.contains("a.pset, step 100")) << seen.toStdString();
  EXPECT_EQ(StepTests(), 1);
  EXPECT_EQ(FSim->Params(), FOriginal);
  EXPECT_EQ(FSim->ReceivedCommands().back(), "l");
}

// Ctrl+C at the "[y/N]" question of a command that writes the board: the question ends at
// once and nothing is written, with no answer ever given.
TEST_F(StepCommandsTest, CtrlCAtTheQuestionEndsWithNothingWritten) {
  const QString a = ParamFile("a.pset", 0.3, FOriginal.D);
  for (const QStringList& args :
       {QStringList{"compare", "--port", Port(), "--step", "100", a},
        QStringList{"suggest", "--port", Port(), "--step", "200", "--apply"}}) {
    SCOPED_TRACE(args.first().toStdString());
    FSim->ClearReceived();
    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", FData.path());
    command.setProcessEnvironment(env);
    command.start(ZIRV_CTL_PROGRAM, args);  // its input stays open and silent
    ASSERT_TRUE(command.waitForStarted());
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains("[y/N]") && clock.elapsed() < 30000) {
      command.waitForReadyRead(100);
      err += command.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("[y/N]")) << err.toStdString();
    ::kill(pid_t(command.processId()), SIGINT);
    const bool finished = command.waitForFinished(5000);
    if (!finished) command.kill();
    ASSERT_TRUE(finished) << "still waiting for an answer";
    err += command.readAllStandardError();
    EXPECT_NE(command.exitCode(), kExitOk);
    EXPECT_TRUE(err.contains("nothing was written")) << err.toStdString();
    for (const std::string& c : FSim->ReceivedCommands()) EXPECT_FALSE(c[0] == 'p' || c[0] == 'd') << c;
    EXPECT_EQ(FSim->Params(), FOriginal);
  }
}

// Ctrl+C while suggest's first step test runs: the command says what happened and writes
// nothing.
TEST_F(StepCommandsTest, CtrlCDuringSuggestsFirstTestSaysSo) {
  FSim->HoldAnswerTo("r");  // until the signal has come
  QTimer watcher;
  bool raised = false;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (raised || StepTests() == 0) return;
    raised = true;
    std::raise(SIGINT);
    FSim->ReleaseAnswers();
  });
  watcher.start(1);
  const TCtlResult r = RunCtlCaptured({"suggest", "--port", Port(), "--step", "200", "--apply", "--yes"});
  watcher.stop();
  EXPECT_TRUE(raised);
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("interrupted during the step test; nothing was written")) << r.Err.toStdString();
  EXPECT_EQ(FSim->Params(), FOriginal);
}

// Files that are no parameter files are refused, saying why, before the board is touched;
// none is read whole (a file beyond the bound is refused by its first bytes).
TEST_F(StepCommandsTest, CompareRefusesWhatIsNoParameterFile) {
  struct TCase {
    const char* Name;
    QByteArray Content;  // written to the file; empty: Path is used as it is
    QString Path;
    const char* Says;
  };
  QByteArray noise(4096, '\0');
  for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919) % 251);
  QByteArray huge = "[ZIRVParam]\r\nP=0.3\r\n";
  huge += QByteArray(2 << 20, ' ');
  const TCase cases[] = {
      {"random_bytes", noise, {}, "not a parameter file"},
      {"section_without_keys", "[ZIRVParam]\r\nColour=red\r\n", {}, "not a parameter file"},
      {"keys_without_section", "P=0.3\r\nD=0.002\r\n", {}, "not a parameter file"},
      {"keys_in_another_section", "[Other]\r\nP=0.3\r\n", {}, "not a parameter file"},
      {"beyond_the_bound", huge, {}, "larger than a parameter file can be"},
      {"process_environment", {}, "/proc/self/environ", "not a parameter file"},
      {"a_folder", {}, "/tmp", "not a regular file"},
      {"missing", {}, File("missing.pset"), "no such file"},
  };
  for (const TCase& c : cases) {
    QString path = c.Path;
    if (path.isEmpty()) {
      path = File(QString::fromLatin1(c.Name) + ".pset");
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(c.Content);
    }
    const TCtlResult r = RunCtlCaptured({"compare", "--port", Port(), "--step", "100", path, "--yes"});
    EXPECT_EQ(r.Status, kExitFailed) << c.Name;
    EXPECT_TRUE(r.Err.startsWith("zirv7ctl: " + path + ": " + c.Says)) << c.Name << ": " << r.Err.toStdString();
  }
  EXPECT_TRUE(FSim->ReceivedCommands().empty());
  EXPECT_EQ(FSim->Params(), FOriginal);
}

// A step that trips the servo is refused before the test; figures finer than the sampling
// are left empty.
TEST_F(StepCommandsTest, StepBeyondTheFaultErrorIsRefusedBeforeTheTest) {
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "-1001"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("a step of -1001 counts lies beyond \"Fault Error (f):\" 1000")) << r.Err.toStdString();
  EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
  EXPECT_EQ(FSim->ReceivedCommands(), std::vector<std::string>{"l"});
  EXPECT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "1000"}).Status, kExitOk);
}

TEST_F(StepCommandsTest, ResponseWithinOneSampleShowsNoTimes) {
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100", "--prediv", "50"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("run 1: the response lies within one sample (20.4 ms)")) << r.Err.toStdString();
  const QStringList row = r.Out.split(u'\n')[1].simplified().split(u' ');
  ASSERT_GE(row.size(), 9) << r.Out.toStdString();
  EXPECT_EQ(row[5], "-");  // rise
  EXPECT_FALSE(r.Out.contains("0.00 ms")) << r.Out.toStdString();
  const QJsonObject run = QJsonDocument::fromJson(RunCtlCaptured({"show", "1", "--json"}).Out.toUtf8())
                              .object()["runs"].toArray()[0].toObject();
  EXPECT_TRUE(run["settling_ms"].isNull());
  EXPECT_TRUE(run["note"].toString().startsWith("the response lies within one sample"));
}

}  // namespace
