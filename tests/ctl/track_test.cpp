// zirv7ctl track and stop: the oscillator is stopped on every way out of the command, and a move
// left running by a kill is stopped by the next command on the port.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "ctlrun.h"
#include "runstore/runstore.h"
#include "simboard.h"

namespace {

class TrackCommandTest : public testing::Test, public TSimBoardFixture {
 protected:
  // Returns the oscillator commands the board received ("o 29400", "o 0").
  std::vector<std::string> OscillatorCommands() {
    std::vector<std::string> o;
    for (const std::string& c : Sim().ReceivedCommands())
      if (c.rfind("o ", 0) == 0) o.push_back(c);
    return o;
  }

  bool Moving() {
    const std::vector<std::string> o = OscillatorCommands();
    return !o.empty() && o.back() != "o 0";
  }

  std::vector<TJournalEntry> Journal() const {
    TRunStore store;
    if (!store.Open(*TRunStore::DefaultPath(), TStoreAccess::ReadOnly)) return {};
    return store.ListJournal().Value();
  }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", qgetenv("XDG_DATA_HOME"));
    env.insert("XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME"));
    return env;
  }

  QStringList Track(const char* seconds) { return {"track", "--port", Port(), "--speed", "100", "--for", seconds}; }

  void WaitUntilMoving() {
    QElapsedTimer clock;
    clock.start();
    while (!Moving() && clock.elapsed() < 10000) QThread::msleep(1);
    ASSERT_TRUE(Moving());
  }
};


// The end, a failing board, Ctrl+C and a kill from another program: "o 0" went out last and the
// move's journal entry is finished.
TEST_F(TrackCommandTest, EveryWayOutStopsTheOscillator) {
  struct TCase {
    const char* Name;
    int Signal;     // raised once the axis moves; 0: none
    bool Breaks;    // the board stops reading as the board's status once the axis moves
    int Status;
  } cases[] = {{"end", 0, false, kExitOk},
               {"error", 0, true, kExitFailed},
               {"Ctrl+C", SIGINT, false, kExitFailed},
               {"a signal", SIGTERM, false, kExitFailed}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Sim().SetFault(zirvsim::TFault::None);
    bool raised = false;
    const TCtlResult r = RunCtlInterruptedWhen(Track("1"), c.Signal ? c.Signal : SIGINT,
                                               [&](const std::vector<std::string>& received) {
                                                 if (received.empty() || received.back().rfind("o ", 0) != 0 ||
                                                     received.back() == "o 0")
                                                   return false;
                                                 if (c.Breaks) Sim().SetFault(zirvsim::TFault::MissingTag, 2);
                                                 return c.Signal != 0;
                                               },
                                               raised);
    EXPECT_EQ(r.Status, c.Status) << r.Err.toStdString();
    EXPECT_EQ(OscillatorCommands().back(), "o 0") << r.Err.toStdString();
    const std::vector<TJournalEntry> journal = Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().Kind, TJournalKind::Move);
    EXPECT_TRUE(journal.back().Finished);
    EXPECT_EQ(journal.back().Outcome, "stopped");
  }
}

// Standard output whose reader goes while the axis moves counts as Ctrl+C: the program is not ended by the
// closed pipe, and stops the axis. The reader leaves once the board has been told to move, so that a busy
// machine cannot close the pipe before the move starts.
TEST_F(TrackCommandTest, ClosedPipeStopsTheOscillator) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString go = folder.filePath("reader-goes");
  QProcessEnvironment env = Environment();
  env.insert("GO", go);
  QProcess pipeline;
  pipeline.setProcessEnvironment(env);
  pipeline.start("bash", QStringList{"-c", "\"$0\" \"$@\" | { until [ -e \"$GO\" ]; do sleep 0.02; done; }; exit ${PIPESTATUS[0]}",
                                     ZIRV_CTL_PROGRAM, "track", "--port", Port(), "--speed", "100", "--for", "30"});
  QElapsedTimer clock;
  clock.start();
  while (!Moving() && pipeline.state() != QProcess::NotRunning && clock.elapsed() < 30000) QThread::msleep(20);
  ASSERT_TRUE(Moving()) << pipeline.readAllStandardError().toStdString();
  QFile(go).open(QIODevice::WriteOnly);
  clock.restart();
  ASSERT_TRUE(pipeline.waitForFinished(60000));
  EXPECT_EQ(pipeline.exitCode(), kExitFailed);  // not 141, the end by SIGPIPE
  EXPECT_LT(clock.elapsed(), 25000);            // long before the move's 30 s
  EXPECT_EQ(OscillatorCommands().back(), "o 0");
}

// A track killed outright while the axis moves: the next command on the port says so, stops the
// oscillator and marks the move finished; stop stops it at once whoever started it.
TEST_F(TrackCommandTest, KilledTrackIsStoppedByTheNextCommand) {
  QProcess track;
  track.setProcessEnvironment(Environment());
  track.start(ZIRV_CTL_PROGRAM, Track("20"));
  ASSERT_TRUE(track.waitForStarted());
  WaitUntilMoving();
  ::kill(pid_t(track.processId()), SIGKILL);
  track.waitForFinished();
  EXPECT_TRUE(Moving());

  const TCtlResult r = RunCtlCaptured({"params", "--port", Port()});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("an earlier track on " + Port() + " did not finish")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("left the test oscillator running (o 29400")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("it is stopped now")) << r.Err.toStdString();
  EXPECT_FALSE(Moving());
  EXPECT_EQ(Journal().back().Outcome, "stopped by a later command");

  Sim().ClearReceived();
  const TCtlResult stop = RunCtlCaptured({"stop", "--port", Port()});
  EXPECT_EQ(stop.Status, kExitOk) << stop.Err.toStdString();
  EXPECT_EQ(Sim().ReceivedCommands(), std::vector<std::string>{"o 0"});
}

}  // namespace
