// The main window's rules for failures, lost devices, the sampling timer and typed fields,
// driven through its controls against the simulated board.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHash>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <thread>

#include "mainfixture.h"
#include "monitor/chart.h"
#include "monitor/sampletimer.h"
#include "ui/errorbox.h"
#include "ui/spineditbuttons.h"

namespace {

using zirvsim::TFault;

// Shows each report in the application's own error box, left up for a while as if the user
// were reading it, and records the reports. A failure that repeats behind the box opens a box
// inside it: these tests count such boxes. Past a few reports no more boxes open, so a test of
// that fault ends instead of nesting boxes for ever.
class TErrorBoxes {
 public:
  static constexpr int kBoxMs = 700;
  QStringList Shown;

  TErrorBoxes() : FPrevious(SetErrorReporter({})) {
    InstallErrorMessageBox();
    FBox = SetErrorReporter([this](const QString& message) {
      Shown << message;
      if (Shown.size() <= 5) FBox(message);
    });
    QObject::connect(&FCloser, &QTimer::timeout, [this] { CloseBoxesUpLongEnough(); });
    FCloser.start(50);
  }
  ~TErrorBoxes() { SetErrorReporter(FPrevious); }

  // Returns whether an error box is up.
  static bool BoxUp() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

 private:
  void CloseBoxesUpLongEnough() {
    QHash<QMessageBox*, QElapsedTimer> up;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible()) continue;
      up[box] = FUp.value(box);
      if (!up[box].isValid()) up[box].start();
      if (up[box].elapsed() >= kBoxMs) box->done(QMessageBox::Ok);
    }
    FUp = up;
  }

  TErrorReporter FPrevious;
  TErrorReporter FBox;
  QTimer FCloser;
  QHash<QMessageBox*, QElapsedTimer> FUp;
};

// The up arrow button of a field.
TTimerSpeedButton* UpButton(QWidget* field) {
  for (auto* button : field->findChildren<TTimerSpeedButton*>())
    if (button->y() == 0) return button;
  return nullptr;
}

// What the user does when the board starts to fail; each names the repeated action whose
// failure must be reported once.
enum class TAction { Tick, SampleStatus, LaunchTest, Set, Stop, Read, Write, HeldSpinButton };

}  // namespace

Q_DECLARE_METATYPE(TAction)

class TMainWindowRulesTest : public TMainWindowSuite {
  Q_OBJECT

  // Ticks "Automatic" at 200 ms and waits for a sample, so failures have ticks behind them.
  void SampleEvery200ms() {
    w->seSampleInterval->SetText(QStringLiteral("200"));
    w->cbSampleAutomatic->setChecked(true);
    QVERIFY(QTest::qWaitFor([&] { return F->Samples() >= 1; }));
  }

  void Perform(TAction action) {
    switch (action) {
      case TAction::Tick: break;  // the next tick meets the fault
      case TAction::SampleStatus: w->btSampleStatus->click(); break;
      case TAction::LaunchTest: w->btLaunchSITest->click(); break;
      case TAction::Set: w->btSetOscVal->click(); break;
      case TAction::Stop: w->btStop->click(); break;
      case TAction::Read: w->btReadBoardParams->click(); break;
      case TAction::Write: w->btWriteBoardParams->click(); break;
      case TAction::HeldSpinButton: QTest::mousePress(UpButton(w->seMovement), Qt::LeftButton);
    }
  }

  // Waits until the failures have had time to repeat behind a box, then lets go of the mouse.
  void WaitOutTheBoxes(TAction action, const TErrorBoxes& boxes) {
    QVERIFY(QTest::qWaitFor([&] { return !boxes.Shown.isEmpty(); }, 5000));
    QTest::qWait(TErrorBoxes::kBoxMs + 600);
    QVERIFY(QTest::qWaitFor([] { return !TErrorBoxes::BoxUp(); }, 10000));
    if (action == TAction::HeldSpinButton)
      QTest::mouseRelease(UpButton(w->seMovement), Qt::LeftButton);
  }

 private slots:
  void OneFailureOneReport_data() {
    QTest::addColumn<TAction>("action");
    QTest::addColumn<int>("badLine");  // the answer line that carries "1.2.3"
    QTest::newRow("tick: bad status number") << TAction::Tick << 2;
    QTest::newRow("Sample status") << TAction::SampleStatus << 2;
    QTest::newRow("Launch Test: bad step number") << TAction::LaunchTest << 5;
    QTest::newRow("Set: bad echo") << TAction::Set << 0;
    QTest::newRow("Stop with Set when changing: bad echo") << TAction::Stop << 0;
    QTest::newRow("Read: bad parameter number") << TAction::Read << 3;
    QTest::newRow("Write: bad echo") << TAction::Write << 0;
    QTest::newRow("held spin button with Set when changing") << TAction::HeldSpinButton << 0;
  }

  // A failing action gives one error box; no tick, held button or second send behind it may
  // raise the failure again. "Automatic" is cleared and the timer left on, so ticking
  // "Automatic" again resumes sampling.
  void OneFailureOneReport() {
    QFETCH(TAction, action);
    QFETCH(int, badLine);
    F->ConnectToMonitor();
    w->seMovement->SetValue(100);
    w->seParametersP->SetFloatValue(0.5);  // a changed field for Write to send
    w->cbLiveSet->setChecked(true);
    SampleEvery200ms();
    TErrorBoxes boxes;
    F->Sim.SetFault(TFault::MalformedNumber, badLine);
    Perform(action);
    WaitOutTheBoxes(action, boxes);
    QCOMPARE(boxes.Shown, QStringList{"'1.2.3' is not a valid floating point value"});
    QVERIFY(!w->cbSampleAutomatic->isChecked() && w->SampleTimer->Enabled());
    QVERIFY(w->ComPort1.Connected());

    F->Sim.SetFault(TFault::None);
    const int samples = F->Samples();
    w->cbSampleAutomatic->setChecked(true);
    QVERIFY(QTest::qWaitFor([&] { return F->Samples() > samples; }, 5000));
    w->cbSampleAutomatic->setChecked(false);
  }

  void LossShowsTheDisconnectedState_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("report");  // empty: whichever transfer meets the loss first
    QTest::newRow("hang-up while idle") << "idle" << "ReadFile function failed (Error: 5)";
    QTest::newRow("hang-up while sampling") << "sampling" << "";
    QTest::newRow("Set after an unnoticed hang-up") << "set"
                                                    << "PurgeComm function failed (Error: 5)";
  }

  // A lost device is reported once; the window then shows the disconnected state, sampling
  // has stopped, and "Connect" works again once the device is back.
  void LossShowsTheDisconnectedState() {
    QFETCH(QString, how);
    QFETCH(QString, report);
    F->ConnectToMonitor();
    TErrorBoxes boxes;
    if (how == QLatin1String("sampling")) {
      SampleEvery200ms();
      F->Sim.SetFault(TFault::HangUpAfter, 2);
    } else {
      // Waits without handling events, so the tool has not yet run the news of the hang-up.
      F->Sim.SetFault(TFault::HangUpAfter, 0);
      for (int ms = 0; ms < 2000 && F->Sim.Running(); ms += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      QVERIFY(!F->Sim.Running());
    }
    if (how == QLatin1String("set")) {
      w->btSetOscVal->click();  // its purge meets the loss first
    }
    WaitOutTheBoxes(TAction::Tick, boxes);
    QCOMPARE(boxes.Shown.size(), 1);
    if (report.isEmpty())
      QVERIFY2(boxes.Shown[0].endsWith(QStringLiteral(" (Error: 5)")), qPrintable(boxes.Shown[0]));
    else
      QCOMPARE(boxes.Shown[0], report);
    QVERIFY(!w->ComPort1.Connected() && !w->cbSampleAutomatic->isChecked());
    QVERIFY(w->btConnect->isEnabled() && w->cbPort->isEnabled() && !w->btDisconnect->isEnabled());
    QVERIFY(!w->tsParameters->isEnabled() && !w->tsRTMonitor->isEnabled());

    F->Sim.SetFault(TFault::None);
    F->Sim.Start();
    zirvsim::CreatePortAlias(zirvsim::PortAliasPath("COM1"), F->Sim.DevicePath(), true);
    F->ConnectToMonitor();
    Click(w->btSampleStatus);
    QCOMPARE(F->TakeWire(), TWire{"s"});
    QCOMPARE(boxes.Shown.size(), 1);
    QVERIFY(w->lbStatusError->text() != QStringLiteral("No data received yet"));
  }
};

int main(int argc, char* argv[]) {
  TMainWindowRulesTest test;
  return ExecOnDesignScreen(test, argc, argv);
}
#include "main_window_rules_test.moc"
