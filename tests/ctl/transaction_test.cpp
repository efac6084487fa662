// The one write transaction as the four commands that write the board use it: the same
// account of a misbehaving board from each, the journal found by device, a command that still
// runs, a backup that cannot be marked finished, a history that can only be read, and output
// nobody reads.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <functional>
#include <thread>

#include "tests/ctl/ctlrun.h"
#include "tests/ctl/simboard.h"

namespace {

using TStrings = std::vector<std::string>;

bool IsSet(const std::string& command) { return command.size() > 2 && command[1] == ' '; }

class TransactionCommandsTest : public testing::Test, public TSimBoardFixture {
 protected:
  // The board answers after 5 ms, so that a fault switched on at a command's arrival meets
  // the next one.
  TransactionCommandsTest() : TSimBoardFixture(5), FOriginal(Sim().Params()) {}
  ~TransactionCommandsTest() override { StopWatching(); }

  // A parameter file of the board's values with P (the first row written) and D changed.
  QString ChangedFile(const QString& name = QStringLiteral("new.pset"), const QByteArray& p = "0.3") {
    const QString file = File(name);
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[ZIRVParam]\r\nP=" + p + "\r\nI=0.0005\r\nD=0.002\r\nDeadband=0\r\nMaxOutput=95\r\nFF0=0\r\n"
            "FF1=0\r\nFaultError=1000\r\nStepMultiplier=1\r\nTPSC=4\r\nHallTimeout=50\r\nChargeElcos=0\r\n"
            "PhaseAdvance=0\r\nSVMCycle=3\r\n");
    return file;
  }

  QJsonArray Backups() {
    return QJsonDocument::fromJson(RunCtlCaptured({"backups", "--json"}).Out.toUtf8()).array();
  }

  // Calls action once, from another thread, when the board receives its first set command.
  void OnFirstSet(std::function<void()> action) {
    FWatcher = std::thread([this, action] {
      while (!FStop) {
        const TStrings received = Sim().ReceivedCommands();
        if (std::any_of(received.begin(), received.end(), IsSet)) return action();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  void StopWatching() {
    FStop = true;
    if (FWatcher.joinable()) FWatcher.join();
    FStop = false;
  }

  // Runs the program itself through bash (redirections, limits), with this test's folders;
  // with ownMounts in a mount namespace of its own, so that a mount made there goes with it.
  TCtlResult RunShell(const QString& script, const QStringList& args, bool ownMounts = false) {
    const QStringList shell = QStringList{"bash", "-c", script, ZIRV_CTL_PROGRAM} + args;
    QProcess p;
    if (ownMounts)
      p.start("unshare", QStringList{"-m"} + shell);
    else
      p.start(shell.first(), shell.mid(1));
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
  }

  zirvsim::TBoardParams FOriginal;
  std::thread FWatcher;
  std::atomic<bool> FStop = false;
};

// Each fault of the board meets each command at its first EEPROM write: every command stops
// there, says why, cannot put the board back, says what the board may hold, and leaves its
// backup unfinished; no table says the board holds what was sent.
TEST_F(TransactionCommandsTest, EveryCommandGivesTheSameAccountOfAFaultyBoard) {
  const QString file = ChangedFile();
  struct TFaultCase {
    const char* Name;
    bool FromStart;  // switched on before the command, else at its first set command
    zirvsim::TFault Fault;
    int Param;
    const char* Says;
  } faults[] = {
      {"set-answers-different", true, zirvsim::TFault::SetAnswersDifferent, 3, " was sent; the board's values go back"},
      {"hang-up-after", false, zirvsim::TFault::HangUpAfter, 0, "went away while in use"},
      {"cut-short", false, zirvsim::TFault::CutShort, 1, "and no whole answer came back"},
  };
  // restore puts back the values a write kept: the board holds the file's values first.
  const std::vector<std::pair<const char*, QStringList>> commands = {
      {"write", {"write", file, "--yes"}},
      {"restore", {"restore", "--yes"}},
      {"compare", {"compare", "--step", "100", file, "--yes"}},
      {"suggest", {"suggest", "--step", "200", "--apply", "--yes"}},
  };
  for (const TFaultCase& f : faults)
    for (const auto& [name, options] : commands) {
      SCOPED_TRACE(std::string(f.Name) + " " + name);
      const QString port = Port();  // a board that hung up comes back on a device of its own
      QStringList args = QStringList{options.first(), "--port", port} + options.mid(1);
      if (args.first() == "restore") {
        ASSERT_EQ(RunCtlCaptured({"write", "--port", port, file, "--yes"}).Status, kExitOk);
        args.append(QString::number(Backups().size()));
      }
      const qsizetype backups = Backups().size();
      const zirvsim::TBoardParams before = Sim().Params();
      Sim().ClearReceived();
      if (f.FromStart) Sim().SetFault(f.Fault, f.Param);
      else OnFirstSet([&] { Sim().SetFault(f.Fault, f.Param); });
      const TCtlResult r = RunCtlCaptured(args);
      StopWatching();
      EXPECT_EQ(r.Status, kExitFailed);
      EXPECT_TRUE(r.Err.contains(f.Says)) << r.Err.toStdString();
      EXPECT_TRUE(r.Err.contains("the board's values could not be put back (")) << r.Err.toStdString();
      EXPECT_TRUE(r.Err.contains(QStringLiteral("`zirv7ctl restore --port %1 %2` puts them back").arg(port).arg(backups + 1)))
          << r.Err.toStdString();
      EXPECT_FALSE(r.Out.contains("verification")) << r.Out.toStdString();
      if (args.first() == "write" || args.first() == "restore") {
        EXPECT_TRUE(r.Out.split(u'\n').value(1).startsWith("P ")) << r.Out.toStdString();
        EXPECT_TRUE(r.Out.split(u'\n').value(1).endsWith("not put back")) << r.Out.toStdString();
      }
      Sim().SetFault(zirvsim::TFault::None);
      if (!Sim().Running()) {
        Sim().Stop();
        Sim().Start();
      }
      ASSERT_EQ(Backups().size(), backups + 1);
      EXPECT_FALSE(Backups().last().toObject()["finished"].toBool());
      EXPECT_EQ(Backups().last().toObject()["params"].toObject()["P"].toDouble(), before.P);
      ASSERT_EQ(RunCtlCaptured({"backups", "--finish", QString::number(backups + 1)}).Status, kExitOk);
      Sim().SetParams(FOriginal);
    }
}

// An entry is found by the device the port leads to, whichever way either command spelled it.
TEST_F(TransactionCommandsTest, UnfinishedWriteIsFoundUnderAnotherSpelling) {
  const QString file = ChangedFile();
  ASSERT_EQ(RunCtlCaptured({"link", "COM29", Port(), "--force"}).Status, kExitOk);
  const QStringList spellings[] = {{"COM29", Port()}, {Port(), "COM29"}};
  for (const QStringList& ports : spellings) {
    SCOPED_TRACE(ports.join(" then ").toStdString());
    Sim().SetFault(zirvsim::TFault::SetAnswersDifferent, 3);  // cannot be put back
    EXPECT_EQ(RunCtlCaptured({"write", "--port", ports[0], file, "--yes"}).Status, kExitFailed);
    Sim().SetFault(zirvsim::TFault::None);
    const TCtlResult r = RunCtlCaptured({"params", "--port", ports[1]});
    EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.startsWith(QStringLiteral("zirv7ctl: %1: an earlier write on %2 did not finish").arg(ports[1], ports[0])))
        << r.Err.toStdString();
    ASSERT_EQ(RunCtlCaptured({"backups", "--finish", QString::number(Backups().size())}).Status, kExitOk);
    Sim().SetParams(FOriginal);
  }
}

// A compare that still runs (here stopped with SIGSTOP after its first write) holds the device:
// a second command says it runs, not that it did not finish.
TEST_F(TransactionCommandsTest, RunningCommandIsToldAsRunning) {
  const QString file = ChangedFile();
  QProcess compare;
  compare.start(ZIRV_CTL_PROGRAM, {"compare", "--port", Port(), "--step", "100", file, "--yes"});
  ASSERT_TRUE(compare.waitForStarted());
  const qint64 pid = compare.processId();
  QElapsedTimer clock;
  clock.start();
  while (Sets().empty() && clock.elapsed() < 20000) QThread::msleep(1);
  ASSERT_FALSE(Sets().empty());
  // The board falls silent after the first value, so that the compare cannot end meanwhile.
  Sim().SetFault(zirvsim::TFault::NoAnswer);
  ::kill(pid_t(pid), SIGSTOP);
  const TCtlResult r = RunCtlCaptured({"params", "--port", Port()});
  Sim().SetFault(zirvsim::TFault::None);
  ::kill(pid_t(pid), SIGCONT);
  ASSERT_TRUE(compare.waitForFinished(30000));
  EXPECT_TRUE(r.Err.contains(QStringLiteral("an earlier compare on %1 is still running in zirv7ctl (PID %2)")
                                 .arg(Port())
                                 .arg(pid)))
      << r.Err.toStdString();
  EXPECT_FALSE(r.Err.contains("did not finish")) << r.Err.toStdString();
  EXPECT_EQ(compare.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Sim().Params(), FOriginal) << compare.readAllStandardError().toStdString();
}

// The history refuses to mark the entry finished (a trigger stands in for a locked or full
// disk): the command says exactly what the board holds, fails, and names the command that marks
// the entry without undoing anything; that command then does so.
TEST_F(TransactionCommandsTest, BackupThatCannotBeMarkedFinishedIsSaidAndMarkedByHand) {
  const QString file = ChangedFile();
  const QString other = ChangedFile(QStringLiteral("other.pset"), "0.25");
  ASSERT_EQ(RunCtlCaptured({"backups"}).Status, kExitOk);
  ASSERT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "100"}).Status, kExitOk);  // makes the history
  ASSERT_TRUE(OnHistory(
      "CREATE TRIGGER refuse BEFORE UPDATE ON journal BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
  struct TCase {
    const char* Name;
    QStringList Args;
    const char* Holds;
  } cases[] = {
      {"write keeps", {"write", "--port", Port(), file, "--yes"}, "the values written stay on the board, but backup 1"},
      {"compare puts back",
       {"compare", "--port", Port(), "--step", "100", other, "--yes"},
       "the board holds its values from before again, but backup 2"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TCtlResult r = RunCtlCaptured(c.Args);
    EXPECT_EQ(r.Status, kExitFailed);
    EXPECT_TRUE(r.Err.contains(c.Holds)) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("could not be marked finished (the run history cannot be used (database or disk is full)"))
        << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains(QStringLiteral("`zirv7ctl backups --finish %1` marks it finished without writing the board")
                                   .arg(Backups().size())))
        << r.Err.toStdString();
  }
  EXPECT_EQ(Sim().Params().P, 0.3);  // the write's values stayed; compare found them there
  ASSERT_TRUE(OnHistory("DROP TRIGGER refuse"));
  Sim().ClearReceived();
  ASSERT_EQ(RunCtlCaptured({"backups", "--finish", "1"}).Status, kExitOk);
  EXPECT_EQ(Backups()[0].toObject()["outcome"].toString(), "marked finished");
  EXPECT_TRUE(Sim().ReceivedCommands().empty());
}

// restore works from a history it can only read (its folder mounted read-only in a mount
// namespace of its own): it says that it cannot keep the board's values, asks, writes, and
// says that the backup stays unfinished.
TEST_F(TransactionCommandsTest, RestoreFromAHistoryThatCanOnlyBeRead) {
  const QString file = ChangedFile();
  Sim().SetFault(zirvsim::TFault::SetAnswersDifferent, 3);
  ASSERT_EQ(RunCtlCaptured({"write", "--port", Port(), file, "--yes"}).Status, kExitFailed);
  Sim().SetFault(zirvsim::TFault::None);
  const TCtlResult r = RunShell(QStringLiteral("mount --bind \"$1\" \"$1\" && mount -o remount,ro,bind \"$1\" || exit 99; "
                                               "shift; echo y | \"$0\" \"$@\""),
                                {File("data/zirv7tune"), "restore", "--port", Port(), "1"}, true);
  if (r.Status == 99 || r.Err.contains("mount:") || r.Err.contains("unshare:"))
    GTEST_SKIP() << "no read-only mount possible here";
  EXPECT_TRUE(r.Err.contains("can only be read: this restore cannot keep the board's present values")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("Write to the board's EEPROM? [y/N]")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("backup 1 stays marked unfinished (the history can only be read)")) << r.Err.toStdString();
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_EQ(Sim().Params(), FOriginal);
}

// The board on the adapter holds values the unfinished backup's command never wrote: another
// board, perhaps. The restore says so, and --yes does not answer for a person.
TEST_F(TransactionCommandsTest, RestoreAsksAPersonWhenTheBoardMayBeAnother) {
  const QString file = ChangedFile();
  Sim().SetFault(zirvsim::TFault::SetAnswersDifferent, 3);
  ASSERT_EQ(RunCtlCaptured({"write", "--port", Port(), file, "--yes"}).Status, kExitFailed);
  Sim().SetFault(zirvsim::TFault::None);
  zirvsim::TBoardParams other = FOriginal;
  other.FeedForward0 = 0.4;
  Sim().SetParams(other);
  Sim().ClearReceived();
  const TCtlResult r = RunCtlCaptured({"restore", "--port", Port(), "1", "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("holds FF0 0.4, which backup 1 neither found on its board nor was writing: this may "
                             "be another board on the same adapter"))
      << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("--yes does not answer this question")) << r.Err.toStdString();
  EXPECT_EQ(Sets(), TStrings{});
}

// Standard output that cannot be written counts as an interruption until the values are kept:
// nothing stays on the board, and the program is not ended by a signal. Once they are kept,
// standard error says that they stay.
TEST_F(TransactionCommandsTest, OutputNobodyReadsPutsTheBoardBackUntilTheValuesAreKept) {
  const QString file = ChangedFile();
  struct TCase {
    const char* Name;
    const char* Script;
    QStringList Args;
    bool Stays;  // the values are kept before the output fails
  } cases[] = {
      {"write, closed standard output", "exec \"$0\" \"$@\" >&-", {"write", "--port", Port(), file, "--yes"}, false},
      {"compare, closed standard output", "exec \"$0\" \"$@\" >&-",
       {"compare", "--port", Port(), "--step", "100", file, "--yes"}, false},
      {"suggest, closed standard output", "exec \"$0\" \"$@\" >&-",
       {"suggest", "--port", Port(), "--step", "200", "--apply", "--yes"}, false},
      // Standard error into a file that reaches the file-size limit (8 MB, far above what the
      // history needs) after the plan, at the first progress line.
      {"compare, standard error beyond the file-size limit",
       "head -c $((8388608 - 130)) /dev/zero > \"$LIMITED\"; ulimit -f 8192; exec \"$0\" \"$@\" 2>> \"$LIMITED\"",
       {"compare", "--port", Port(), "--step", "100", file, "--yes"}, false},
      // The table of the values written goes to a file already at its limit, after the keep.
      {"write, standard output beyond the file-size limit",
       "head -c 8388608 /dev/zero > \"$LIMITED\"; ulimit -f 8192; exec \"$0\" \"$@\" >> \"$LIMITED\"",
       {"write", "--port", Port(), file, "--yes"}, true},
  };
  qputenv("LIMITED", File("limited.txt").toLocal8Bit());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TCtlResult r = RunShell(QString::fromLatin1(c.Script), c.Args);
    EXPECT_EQ(r.Status, kExitFailed) << r.Err.toStdString();  // not killed by SIGXFSZ or SIGPIPE
    EXPECT_EQ(Sim().Params().P, c.Stays ? 0.3 : FOriginal.P);
    const QJsonArray backups = Backups();
    EXPECT_EQ(!backups.isEmpty() && backups.last().toObject()["outcome"].toString() == "kept", c.Stays);
    EXPECT_EQ(r.Err.contains("the results could not be written; the values written stay on the board (backup"), c.Stays)
        << r.Err.toStdString();
    EXPECT_FALSE(r.Err.contains("run history")) << r.Err.toStdString();  // the output failed, not the history
    Sim().SetParams(FOriginal);
  }
}

// In a terminal, everything suggest's question is about is on the screen before it.
TEST_F(TransactionCommandsTest, SuggestShowsEverythingBeforeItAsks) {
  int master = -1;
  const QByteArray program = ZIRV_CTL_PROGRAM;
  const QByteArray port = Port().toLocal8Bit();
  const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(program.constData(), program.constData(), "suggest", "--port", port.constData(), "--step", "200",
            "--apply", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  QByteArray screen;
  char buffer[4096];
  QElapsedTimer clock;
  clock.start();
  while (!screen.contains("[y/N]") && clock.elapsed() < 60000) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    screen.append(buffer, n);
  }
  const qsizetype question = screen.indexOf("Write to the board's EEPROM?");
  (void)!::write(master, "n\n", 2);
  while (::read(master, buffer, sizeof buffer) > 0) {
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(master);
  ASSERT_GE(question, 0) << screen.constData();
  for (const char* shown : {"motor (fitted to run", "suggested, predicted", "suggest will make"})
    EXPECT_LT(screen.indexOf(shown), question) << shown << "\n" << screen.constData();
  EXPECT_GE(screen.indexOf("motor (fitted to run"), 0) << screen.constData();
  EXPECT_EQ(Sim().Params(), FOriginal);
}

}  // namespace
