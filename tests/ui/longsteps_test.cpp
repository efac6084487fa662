// Step tests as long as a board in real time needs: at prediv 50, and at 10 ticks per servo
// cycle, the answer comes after more than 3000 polls. The window plots all of it and the
// companion keeps all of it. A long test (label "long"): each row waits out the board's time.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ctl/command.h"
#include "monitor/chart.h"
#include "protocol/transactions.h"
#include "serial/linechannel.h"
#include "mainwindowfixture.h"
#include "tests/ctl/ctlrun.h"

namespace {

// A board that answers at the pace of its servo loop and its 57600 baud line.
zirvsim::TSimOptions RealTimeBoard() {
  zirvsim::TSimOptions options;
  options.ReplyDelayMs = 2;
  return options;
}

}  // namespace

class TLongStepsTest : public TMainWindowSuite {
  Q_OBJECT

  void Rows() {
    QTest::addColumn<int>("prediv");
    QTest::addColumn<int>("ticks");
    // About 4.9 s and 3.4 s of board and line time: the 3000 polls ended after about 3.3 s.
    QTest::newRow("prediv 50") << 50 << 4;
    QTest::newRow("10 ticks per servo cycle") << 12 << 10;
  }
  void UseBoardWithTicks(int ticks) {
    UseBoard(RealTimeBoard());
    zirvsim::TBoardParams params;
    params.TicksPerServo = ticks;
    F->Sim.SetParams(params);
  }

 private slots:
  void windowPlotsTheWholeAnswer_data() { Rows(); }
  void windowPlotsTheWholeAnswer() {
    QFETCH(int, prediv);
    QFETCH(int, ticks);
    UseBoardWithTicks(ticks);
    F->Connect();
    w->seParametersTPSC->SetValue(ticks);  // as "Read ZIRV parameters" would show the board's
    w->PageControl1->setCurrentWidget(w->tsRTMonitor);
    w->seSICommandStep->SetValue(100);
    w->seSIPrediv->SetValue(prediv);
    Click(w->btLaunchSITest);
    QCOMPARE(w->Chart1->Series1.Count(), 199);
  }

  void companionKeepsTheWholeRun_data() { Rows(); }
  void companionKeepsTheWholeRun() {
    QFETCH(int, prediv);
    QFETCH(int, ticks);
    UseBoardWithTicks(ticks);
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const TCtlResult r = RunCtlCaptured({"step", "--port", "COM1", "--step", "100", "--prediv",
                                         QString::number(prediv), "--json"});
    QVERIFY2(r.Status == kExitOk, qPrintable(r.Err));
    const QJsonArray runs = QJsonDocument::fromJson(r.Out.toUtf8()).object().value("runs").toArray();
    QCOMPARE(runs.first().toObject().value("samples").toArray().size(), 199);
  }

  // A board whose answer is late (held back until the wait has run out, as a board slower
  // than its parameters say would send it) is still answering when the wait ends: the rest of
  // its answer is waited for and that is said, so that the next command finds the board free.
  void companionWaitsForTheRestOfALateAnswer() {
    UseBoard(FastBoard());
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    F->Sim.HoldAnswerTo("r");
    // Looks at every poll. The board is first seen to have the command in the wait's first
    // poll or later, so counting the wait's polls from there lets the answer go a few polls
    // after the wait's last, however long a poll lasts.
    const quint64 waitPolls = quint64(StepAnswerPolls(0, zirvsim::TBoardParams{}.TicksPerServo));
    quint64 sentAt = 0;
    QTimer release;
    connect(&release, &QTimer::timeout, [&] {
      const std::vector<std::string> got = F->Sim.ReceivedCommands();
      if (sentAt == 0 && !got.empty() && got.back()[0] == 'r') sentAt = TLineChannel::PollCount();
      if (sentAt == 0 || TLineChannel::PollCount() < sentAt + waitPolls + 5) return;
      F->Sim.ReleaseAnswers();
      release.stop();
    });
    release.start(0);
    const TCtlResult late = RunCtlCaptured({"step", "--port", "COM1", "--step", "100"});
    release.stop();
    QCOMPARE(late.Status, kExitFailed);
    QVERIFY2(late.Err.contains("which was waited for before going on"), qPrintable(late.Err));
    const TCtlResult next = RunCtlCaptured({"params", "--port", "COM1"});
    QVERIFY2(next.Status == kExitOk, qPrintable(next.Err));
  }
};

int main(int argc, char* argv[]) {
  TLongStepsTest steps;
  return ExecOnDesignScreen({&steps}, argc, argv);
}

#include "longsteps_test.moc"
