// The main window's rules for failures, lost devices, the sampling timer and typed fields,
// driven through its controls against the simulated board. Two suites of one program: CTest
// runs them side by side, as the failure rules spend most of their time waiting.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHash>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <thread>
#include <utility>

#include "mainwindowfixture.h"
#include "monitor/chart.h"
#include "monitor/sampletimer.h"
#include "ui/errorbox.h"
#include "ui/qcolors.h"
#include "ui/spineditbuttons.h"
#include "tests/monitor/manualclock.h"

namespace {

using zirvsim::TFault;

// The sampling period of the failure tests: several ticks fall behind each error box.
constexpr int kPeriodMs = 100;

// Shows each report in the application's own error box, left up for a while as if the user
// were reading it, and records the reports. A failure that repeats behind the box opens a box
// inside it: these tests count such boxes. Past a few reports no more boxes open, so a test of
// that fault ends instead of nesting boxes for ever.
class TErrorBoxes {
 public:
  // Up past the first repeat of a held arrow button, and for seven sampling periods counted on
  // the sampling clock, which moves one period each time the boxes are looked at.
  static constexpr int kBoxMs = TTimerSpeedButton::kFirstDelay + 3 * kPeriodMs;
  static constexpr int kPeriodsUp = 7;
  QStringList Shown;
  // Called once, as the first box is closed: what the user lets go of to press OK.
  std::function<void()> OnClosed;

  explicit TErrorBoxes(TManualClock& clock) : FPrevious(SetErrorReporter({})), FClock(clock) {
    InstallErrorMessageBox();
    FBox = SetErrorReporter([this](const QString& message) {
      Shown << message;
      if (Shown.size() <= 5) FBox(message);
    });
    // The closing runs outside the closer's own tick: a box that it opens (a tick or a release
    // that raises the failure again) is nested in a handler of its own, and the next tick of the
    // closer still closes it. Inside its own tick it would wait for a tick that never comes.
    QObject::connect(&FCloser, &QTimer::timeout,
                     [this] { QMetaObject::invokeMethod(&FCloser, [this] { CloseBoxesUpLongEnough(); }, Qt::QueuedConnection); });
    FCloser.start(50);
  }
  ~TErrorBoxes() { SetErrorReporter(FPrevious); }

  // Returns whether an error box is up.
  static bool BoxUp() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

 private:
  struct TUp {
    QElapsedTimer Since;
    int Periods = 0;
  };

  void CloseBoxesUpLongEnough() {
    QHash<QMessageBox*, TUp> up;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible()) continue;
      up[box] = FUp.value(box);
      if (!up[box].Since.isValid()) up[box].Since.start();
      ++up[box].Periods;
    }
    FUp = up;
    if (up.isEmpty()) return;
    // Ticks that fall due behind the boxes run now, and may open boxes of their own.
    FClock.Advance(kPeriodMs);
    for (auto it = up.cbegin(); it != up.cend(); ++it) {
      if (it->Periods < kPeriodsUp || it->Since.elapsed() < kBoxMs) continue;
      it.key()->done(QMessageBox::Ok);
      // Before the window's events run again, as the user's click on OK comes after letting go.
      if (OnClosed) std::exchange(OnClosed, nullptr)();
    }
  }

  TErrorReporter FPrevious;
  TErrorReporter FBox;
  TManualClock& FClock;
  QTimer FCloser;
  QHash<QMessageBox*, TUp> FUp;
};

// The board's "l" answer for its default parameters, with the line of the same tag replaced
// by tagged ("(a) 2000").
std::vector<std::string> ListAnswerWith(const std::string& tagged) {
  std::vector<std::string> lines = {
      "ZIRV7 servo parameters", "eeprom version: 1", "servo enabled: 1", "(p) 0.2",
      "(i) 0.0005", "(d) 0.0015", "(0) 0", "(1) 0", "(b) 0", "(m) 95", "(f) 1000", "(x) 1",
      "(t) 4", "(h) 50", "(g) 0", "(a) 0", "(c) 3"};
  for (std::string& line : lines)
    if (line.compare(0, 3, tagged, 0, 3) == 0) line = tagged;
  return lines;
}

// The up arrow button of a field.
TTimerSpeedButton* UpButton(QWidget* field) {
  for (auto* button : field->findChildren<TTimerSpeedButton*>())
    if (button->y() == 0) return button;
  return nullptr;
}

// What the user does when the board starts to fail; each names the repeated action whose
// failure must be reported once.
enum class TAction { Tick, SampleStatus, LaunchTest, Set, Stop, Read, Write, HeldSpinButton, HeldSpinButtonSlowEcho };

}  // namespace

Q_DECLARE_METATYPE(TAction)

// A window suite whose tests let the sampling timer tick, on a clock each test moves.
class TSamplingSuite : public TMainWindowSuite {
 protected:
  TManualClock* Clock = nullptr;

  // Puts the sampling timer on a clock that moves only when the test moves it.
  void UseTestClock() { Clock = &UseManualClock(*w->SampleTimer); }

  // Ticks "Automatic" with the given period on the test's clock and lets one period pass.
  void SampleEvery(int ms) {
    UseTestClock();
    w->seSampleInterval->SetText(QString::number(ms));
    w->cbSampleAutomatic->setChecked(true);
    QCOMPARE(Clock->Advance(ms), 1);
    QVERIFY(F->Samples() >= 1);
  }
};

// Failures of the board's link: each is reported once, whatever would repeat it behind its
// report, and a lost device leaves the window disconnected.
class TMainWindowFailuresTest : public TSamplingSuite {
  Q_OBJECT

  void Perform(TAction action) {
    switch (action) {
      case TAction::Tick: Clock->Advance(kPeriodMs); break;
      case TAction::SampleStatus: w->btSampleStatus->click(); break;
      case TAction::LaunchTest: w->btLaunchSITest->click(); break;
      case TAction::Set: w->btSetOscVal->click(); break;
      case TAction::Stop: w->btStop->click(); break;
      case TAction::Read: w->btReadBoardParams->click(); break;
      case TAction::Write: w->btWriteBoardParams->click(); break;
      case TAction::HeldSpinButtonSlowEcho:
        // The echo comes after the repeat timer's next tick, which falls inside the step's
        // exchange: the echo is let go two repeat intervals after the board got the command,
        // and timers fire in the order they fall due, whatever the machine's load.
        F->Sim.HoldAnswerTo("o");
        F->Sim.OnCommand([this](const std::vector<std::string>&) {
          QMetaObject::invokeMethod(w, [this] {
            F->Sim.OnCommand({});
            QTimer::singleShot(2 * TTimerSpeedButton::kRepeatInterval, w, [this] { F->Sim.ReleaseAnswers(); });
          }, Qt::QueuedConnection);
        });
        [[fallthrough]];
      case TAction::HeldSpinButton: QTest::mousePress(UpButton(w->seMovement), Qt::LeftButton);
    }
  }

  // Waits for the first report: its box is up while the report runs, so failures repeated
  // behind it are reported by then. A held arrow button repeats behind the box and is let go
  // as the box closes, as the user's mouse goes to its OK. Then gives the failure three periods
  // more to repeat after the box.
  void WaitOutTheBoxes(TAction action, TErrorBoxes& boxes) {
    if (action == TAction::HeldSpinButton || action == TAction::HeldSpinButtonSlowEcho)
      boxes.OnClosed = [this] { QTest::mouseRelease(UpButton(w->seMovement), Qt::LeftButton); };
    QVERIFY(QTest::qWaitFor([&] { return !boxes.Shown.isEmpty(); }, 10000));
    QVERIFY(QTest::qWaitFor([] { return !TErrorBoxes::BoxUp(); }, 10000));
    Clock->Advance(3 * kPeriodMs);
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
    QTest::newRow("held spin button, the echo slower than a repeat") << TAction::HeldSpinButtonSlowEcho << 0;
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
    // Ticks come only where the test moves the clock: behind the boxes and after them, never
    // inside the action's own exchange, where one would be a failure of its own.
    SampleEvery(kPeriodMs);
    TErrorBoxes boxes(*Clock);
    F->Sim.SetFault(TFault::MalformedNumber, badLine);
    Perform(action);
    WaitOutTheBoxes(action, boxes);
    QCOMPARE(boxes.Shown, QStringList{"'1.2.3' is not a valid floating point value"});
    QVERIFY(!w->cbSampleAutomatic->isChecked() && w->SampleTimer->Enabled());
    QVERIFY(w->ComPort1.Connected());

    F->Sim.SetFault(TFault::None);
    w->Channel.FWaitRS232 = false;  // the idle wait the failure left behind is not at stake here
    const int samples = F->Samples();
    w->cbSampleAutomatic->setChecked(true);
    Clock->Advance(2 * kPeriodMs);
    QVERIFY(F->Samples() > samples);
    w->cbSampleAutomatic->setChecked(false);
  }

  // A sample that fails without an error ("Could not retreive status", here an answer cut
  // short) has nothing to report: "Automatic" stays ticked and the next tick tries again.
  void FailedSampleWithoutAnErrorKeepsSampling() {
    F->ConnectToMonitor();
    F->Sim.SetFault(TFault::CutShort, 1);
    SampleEvery(kPeriodMs);
    QCOMPARE(Clock->Advance(kPeriodMs), 1);
    QCOMPARE(F->Samples(), 2);
    QVERIFY(w->cbSampleAutomatic->isChecked());
    w->cbSampleAutomatic->setChecked(false);
    QVERIFY(F->LogTexts().count(QStringLiteral("Could not retreive status")) >= 2);
    QCOMPARE(w->Chart1->Series1.Count(), 0);
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
    if (how == QLatin1String("sampling")) SampleEvery(kPeriodMs);
    else UseTestClock();
    TErrorBoxes boxes(*Clock);
    if (how == QLatin1String("sampling")) {
      F->Sim.SetFault(TFault::HangUpAfter, 2);
      // Two more samples are answered; a later tick, or the news of the hang-up during its
      // wait, meets the loss.
      for (int tick = 0; tick < 10 && boxes.Shown.isEmpty(); ++tick) Clock->Advance(kPeriodMs);
    } else {
      // Waits without handling events, so the tool has not yet run the news of the hang-up.
      F->Sim.SetFault(TFault::HangUpAfter, 0);
      for (int ms = 0; ms < 10000 && F->Sim.Running(); ms += 10)
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

// The sampling timer around the exchanges, typed fields, and exchanges cut off or cut short.
class TMainWindowRulesTest : public TSamplingSuite {
  Q_OBJECT

 private slots:
  // Each keystroke in "Interval:" applies the partial number at once; an empty text reads 200,
  // 0 stops the ticks, and leaving the field applies its limits.
  void IntervalAppliesEachKeystroke() {
    F->ConnectToMonitor();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->seSampleInterval->setFocus(Qt::TabFocusReason);
    const struct {
      QString Keys;  // "\b" is Backspace
      int Interval;
      bool Running;
    } steps[] = {{"5", 5, true},  {"0", 50, true},    {"0", 500, true}, {"\b", 50, true},
                 {"\b", 5, true}, {"\b", 200, true},  {"0", 0, false},  {"\b", 200, true},
                 {"0", 0, false}, {"\b1", 1, true},   {"0", 10, true},  {"0", 100, true},
                 {"0", 1000, true}};
    for (const auto& step : steps) {
      for (QChar key : step.Keys) {
        if (key == u'\b') QTest::keyClick(w->seSampleInterval, Qt::Key_Backspace);
        else QTest::keyClicks(w->seSampleInterval, QString(key));
      }
      QCOMPARE(w->SampleTimer->Interval(), step.Interval);
      QCOMPARE(w->SampleTimer->Running(), step.Running);
    }
    w->seSampleInterval->selectAll();
    QTest::keyClicks(w->seSampleInterval, QStringLiteral("0"));
    QTest::keyClick(w->seSampleInterval, Qt::Key_Tab);  // leaving clamps 0 to 200
    QCOMPARE(w->seSampleInterval->Text(), QStringLiteral("200"));
    QVERIFY(w->SampleTimer->Interval() == 200 && w->SampleTimer->Running());
  }

  // Typing 0 stops automatic sampling; typing 1000 again starts it with a full period.
  void IntervalZeroStopsTicksAndThousandRestartsThem() {
    F->ConnectToMonitor();
    SampleEvery(200);
    w->seSampleInterval->SetText(QStringLiteral("0"));
    QCOMPARE(Clock->Advance(10000), 0);
    w->seSampleInterval->SetText(QStringLiteral("1000"));
    QCOMPARE(Clock->Advance(999), 0);
    QCOMPARE(Clock->Advance(1), 1);
    QCOMPARE(F->Samples(), 2);
    w->cbSampleAutomatic->setChecked(false);
  }

  void TimerOffDuringLaunchTestAndSet_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("onDuring");
    QTest::addColumn<bool>("silent");  // else the board answers at the serial line's pace
    QTest::newRow("Launch Test, Automatic ticked") << "btLaunchSITest" << true << false << false;
    QTest::newRow("Launch Test, Automatic clear") << "btLaunchSITest" << false << true << false;
    QTest::newRow("Set") << "btSetOscVal" << true << false << true;
    QTest::newRow("Stop") << "btStop" << false << false << true;
  }

  // Launch Test switches the timer off while it waits when "Automatic" is ticked, Set and Stop
  // always; all three leave it on. Each waits long, polled many times: the step answer's 404
  // lines take about a second on the line, a set command waits out its time-out.
  void TimerOffDuringLaunchTestAndSet() {
    QFETCH(QString, button);
    QFETCH(bool, automatic);
    QFETCH(bool, onDuring);
    QFETCH(bool, silent);
    if (!silent) UseBoard(zirvsim::TSimOptions());
    F->ConnectToMonitor();
    if (automatic) SampleEvery(200);
    F->TakeWire();
    if (silent) F->Sim.SetFault(TFault::NoAnswer);
    QList<bool> seen;
    QTimer probe;  // looks at every pass of the event loop, so at every poll of the wait
    connect(&probe, &QTimer::timeout, [&] { seen << w->SampleTimer->Enabled(); });
    probe.start(0);
    w->findChild<QPushButton*>(button)->click();
    probe.stop();
    QVERIFY(seen.size() > 10);
    QCOMPARE(seen.count(onDuring), seen.size());
    QVERIFY(w->SampleTimer->Enabled());
    for (const std::string& command : F->TakeWire()) QVERIFY(command != "s");
    w->cbSampleAutomatic->setChecked(false);
  }

  // With "Set when changing" ticked, typing 100 sends the commands for 1, 10 and 100.
  void MovementTypedSendsEachPartialNumber() {
    F->ConnectToMonitor();
    w->cbLiveSet->setChecked(true);
    TypeInto(w->seMovement, QStringLiteral("100"));
    QCOMPARE(F->TakeWire(), (TWire{"o 2940000", "o 294000", "o 29400"}));
  }

  void DisconnectDuringAnExchangeEndsItLikeATimeout_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("logged");  // the tool's own messages at the end of the log
    QTest::newRow("Set") << "btSetOscVal" << QStringList{"Timeout", "Error"};
    QTest::newRow("Sample status") << "btSampleStatus" << QStringList{"Could not retreive status"};
    QTest::newRow("Read") << "btReadBoardParams" << QStringList{"Error reading params"};
    QTest::newRow("Launch Test") << "btLaunchSITest" << QStringList{"r0c0ok1"};
  }

  // "Disconnect" clicked while an exchange waits closes the port at once; the exchange ends as
  // if the board had not answered, without an error report.
  void DisconnectDuringAnExchangeEndsItLikeATimeout() {
    QFETCH(QString, button);
    QFETCH(QStringList, logged);
    F->ConnectToMonitor();
    F->Sim.SetFault(TFault::NoAnswer);
    // In the first poll of the wait in which the board has the command.
    QTimer disconnect;
    connect(&disconnect, &QTimer::timeout, [&] {
      if (F->Sim.ReceivedCommands().empty()) return;
      disconnect.stop();
      Click(w->btDisconnect);
    });
    disconnect.start(0);
    w->findChild<QPushButton*>(button)->click();
    QVERIFY(!w->ComPort1.Connected() && w->btConnect->isEnabled());
    const QStringList log = F->LogTexts();
    QCOMPARE(log.mid(log.size() - logged.size()), logged);
    QCOMPARE(F->TakeWire().size(), size_t(1));
  }

  void IncompleteStepAnswerPlotsAndLogsNothing_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("linesReceived");
    QTest::newRow("403 of 404 lines") << int(TFault::CutShort) << 403;
    QTest::newRow("no answer") << int(TFault::NoAnswer) << 0;
  }

  // A step test that gets fewer than 404 lines plots nothing and logs nothing of its own: the
  // log holds the command and the board's lines only. The timer is on again afterwards.
  void IncompleteStepAnswerPlotsAndLogsNothing() {
    QFETCH(int, fault);
    QFETCH(int, linesReceived);
    F->ConnectToMonitor();
    F->Sim.SetFault(TFault(fault), 1);
    w->SampleTimer->SetEnabled(false);
    const qsizetype before = F->LogTexts().size();
    Click(w->btLaunchSITest);
    QCOMPARE(w->Chart1->Series1.Count(), 0);
    QCOMPARE(F->LogTexts().size() - before, 1 + linesReceived);
    QCOMPARE(F->LogColour(QStringLiteral("r0c0ok1")), ToQColor(clGreen));
    QVERIFY(w->SampleTimer->Enabled());
  }

  void IntegerFieldPageKeys_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("shown");
    const int up = Qt::Key_PageUp, down = Qt::Key_PageDown;
    QTest::newRow("no limits, up 10") << "seParametersMaxOutput" << "95" << up << "105";
    QTest::newRow("no limits, down 10") << "seParametersFaultError" << "1000" << down << "990";
    QTest::newRow("through zero") << "seParametersStepMultiplier" << "-5" << up << "5";
    QTest::newRow("stops at the upper limit")
        << "seParametersPhaseAdvance" << "1020" << up << "1023";
    QTest::newRow("stops at 1") << "seParametersChargeElcos" << "0" << up << "1";
    QTest::newRow("stops at the lower limit") << "seParametersSVMCycle" << "4" << down << "1";
    QTest::newRow("decimals read as 0") << "seParametersDeadband" << "12.0000000" << up << "10";
    QTest::newRow("whole-number field has none") << "seSampleInterval" << "1000" << up << "1000";
  }

  // Page Up and Page Down step integer fields by 10 within their limits.
  void IntegerFieldPageKeys() {
    QFETCH(QString, field);
    QFETCH(QString, start);
    QFETCH(int, key);
    QFETCH(QString, shown);
    F->Connect();
    auto* edit = w->findChild<TSpinEditBase*>(field);
    edit->SetText(start);
    QTest::keyClick(edit, Qt::Key(key));
    QCOMPARE(edit->text(), shown);
  }

  void BoardValueClampedByAFieldStaysRed_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("shown");
    QTest::newRow("phase advance above 1023") << "(a) 2000" << 12 << "1023";
    QTest::newRow("charge elcos above 1") << "(g) 5" << 11 << "1";
    QTest::newRow("SVM cycle below 1") << "(c) 0" << 13 << "1";
    QTest::newRow("SVM cycle above 4") << "(c) 9" << 13 << "4";
  }

  // A field shows a board value clamped to its limits; it differs from the board's, so it is
  // marked red, and stays red whenever the marks are taken again.
  void BoardValueClampedByAFieldStaysRed() {
    QFETCH(QString, line);
    QFETCH(int, row);
    QFETCH(QString, shown);
    F->Connect();
    F->Sim.ScriptAnswer("l", ListAnswerWith(line.toStdString()));
    Click(w->btReadBoardParams);
    QCOMPARE(w->ParameterFields[row]->Text(), shown);
    QString marks(14, u'G');
    marks[row] = u'R';
    QCOMPARE(F->Marks(), marks);
    w->seParametersP->SetFloatValue(0.25);
    w->seParametersP->SetFloatValue(0.2);
    QCOMPARE(F->Marks(), marks);
  }
};

int main(int argc, char* argv[]) {
  TMainWindowFailuresTest failures;
  TMainWindowRulesTest rules;
  return ExecOnDesignScreen({&failures, &rules}, argc, argv);
}
#include "mainwindow_rules_test.moc"
