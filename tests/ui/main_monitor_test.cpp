// The "RT Monitor" page through the whole window: status sampling, automatic sampling with its
// timer, the step-response test and the movement oscillator, against the simulated board.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "mainfixture.h"
#include "monitor/chart.h"
#include "monitor/sampletimer.h"
#include "ui/logview.h"
#include "ui/spinedit.h"

namespace {

using zirvsim::TFault;

// Returns how many lines of the wire equal command.
int CountOf(const std::vector<std::string>& wire, const std::string& command) {
  return int(std::count(wire.begin(), wire.end(), command));
}

// Returns the colour of the last log entry whose text is text, or an invalid colour.
QColor LogColour(TMainFixture& f, const QString& text) {
  const QStringList lines = f.Window->Panel2->PlainText().split(QLatin1Char('\n'));
  qsizetype start = 0;
  QColor found;
  for (const QString& line : lines) {
    if (line.endsWith(QStringLiteral("  ") + text)) found = f.Window->Panel2->reLog->ColourAt(start + line.size() - 1);
    start += line.size() + 1;
  }
  return found;
}

// Processes events for about ms milliseconds.
void RunFor(int ms) {
  TMainFixture::WaitFor([] { return false; }, ms);
}

// A connected window showing the "RT Monitor" page, with the wire emptied.
struct TMonitorFixture : TMainFixture {
  explicit TMonitorFixture(zirvsim::TSimOptions options = FastBoard()) : TMainFixture(options) {
    Connect();
    Window->PageControl1->setCurrentWidget(Window->tsRTMonitor);
    TakeWire();
  }
  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  // Returns the (error) points of the chart as y values, in x order.
  std::vector<double> ErrorPoints() const { return Window->Chart1->Series1.YValues(); }
};

// Returns the largest excursion of the error beyond zero against the direction of a positive
// step: how far the motor overshot the new command.
double Overshoot(const std::vector<double>& errors) {
  const double lowest = *std::min_element(errors.begin(), errors.end());
  return std::max(0.0, -lowest);
}

// Runs one step test of 100 counts with the board's P set to p and returns its overshoot.
double StepOvershoot(double p) {
  TMonitorFixture f;
  auto params = f.Sim.Params();
  params.P = p;
  f.Sim.SetParams(params);
  f.Window->seSICommandStep->SetValue(100);
  f.Click(f.Window->btLaunchSITest);
  if (f.Window->Chart1->Series1.Count() != 199) return -1;
  return Overshoot(f.ErrorPoints());
}

}  // namespace

class TMainMonitorTest : public QObject {
  Q_OBJECT

 private slots:
  void SampleShowsStatusAndAddsNextPoint();
  void FailedSampleKeepsLabelsAndChart_data();
  void FailedSampleKeepsLabelsAndChart();
  void AutomaticSamplesAtThePeriod();
  void IntervalThatStopsTicksAndRestart_data();
  void IntervalThatStopsTicksAndRestart();
  void DisconnectWhileAutomaticRecoversAfterReconnect();
  void AutomaticTriesAgainAfterAFailedSample();
  void IntervalFollowsTheTextAsItStands_data();
  void IntervalFollowsTheTextAsItStands();
  void TypedIntervalAppliesEachKeystrokeAndLimitsOnLeaving();
  void TypingASpeedSendsEachPartialValue();
  void StepTestAddsItsPointsInOneRepaint();
  void AutoFwdRevFlipsTheStep();
  void FailedStepTestPlotsNothing();
  void BadStepLineKeepsThePointsBefore_data();
  void BadStepLineKeepsThePointsBefore();
  void HigherPOvershootsMore();
  void OscillatorCommand_data();
  void OscillatorCommand();
  void StopSendsZero_data();
  void StopSendsZero();
  void OperationsEnableTheTimer_data();
  void OperationsEnableTheTimer();
  void NestedOscillatorCommandEndsOuterWithError();
};

void TMainMonitorTest::SampleShowsStatusAndAddsNextPoint() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.Chart1->AddChartPoint(1, 2);
  w.Chart1->AddChartPoint(3, 4);
  zirvsim::TStatusOverride status;
  status.Command = 1200;
  status.Feedback = -17;
  status.Error = -3.25;
  status.ErrorI = 0.5;
  status.ErrorD = -0.0625;
  status.Output = 41.5;
  status.LimitState = 1;
  status.Enabled = 0;
  status.TestOsc = 29400;
  f.Sim.SetStatusOverride(status);
  f.Click(w.btSampleStatus);
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
  QCOMPARE(f.TakeWire(), std::vector<std::string>{"s"});

  const std::pair<QLabel*, const char*> shown[] = {
      {w.lbStatusEnabled, "0"},  {w.lbStatusError, "-3.25"},    {w.lbStatusErrorI, "0.5"},
      {w.lbStatusErrorD, "-0.0625"}, {w.lbStatusEncoder, "-17"},   {w.lbStatusCommand, "1200"},
      {w.lbStatusOutput, "41.5"}, {w.lbStatusOutputLimited, "1"}, {w.lbStatusTestOsc, "29400"},
  };
  for (const auto& [label, text] : shown) QCOMPARE(label->text(), QString::fromLatin1(text));

  QCOMPARE(w.Chart1->Series1.Count(), 3);
  QCOMPARE(w.Chart1->Series2.Count(), 3);
  QCOMPARE(w.Chart1->Series1.XValues().back(), 3.0);
  QCOMPARE(w.Chart1->Series1.YValues().back(), -3.25);
  QCOMPARE(w.Chart1->Series2.XValues().back(), 3.0);
  QCOMPARE(w.Chart1->Series2.YValues().back(), 41.5);
  QVERIFY(!f.LogTexts().contains(QStringLiteral("Could not retreive status")));
}

void TMainMonitorTest::FailedSampleKeepsLabelsAndChart_data() {
  QTest::addColumn<int>("fault");
  QTest::addColumn<int>("param");
  QTest::newRow("silent board") << int(TFault::NoAnswer) << 0;
  QTest::newRow("answer one line short") << int(TFault::CutShort) << 1;
  QTest::newRow("error line without its tag") << int(TFault::MissingTag) << 3;
}

void TMainMonitorTest::FailedSampleKeepsLabelsAndChart() {
  QFETCH(int, fault);
  QFETCH(int, param);
  TMonitorFixture f;
  TfMain& w = *f.Window;
  f.Sim.SetFault(TFault(fault), param);
  f.Click(w.btSampleStatus);
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
  QCOMPARE(LogColour(f, QStringLiteral("Could not retreive status")), ToQColor(clRed));
  QCOMPARE(w.lbStatusError->text(), QStringLiteral("No data received yet"));
  QCOMPARE(w.lbStatusTestOsc->text(), QStringLiteral("No data received yet"));
  QCOMPARE(w.Chart1->Series1.Count(), 0);
  QCOMPARE(w.Chart1->Series2.Count(), 0);
  QVERIFY(w.SampleTimer->Enabled());  // the button leaves the timer alone

  // The board recovers: the next sample works, after the idle wait the failure left behind.
  f.Sim.SetFault(TFault::None);
  f.Click(w.btSampleStatus);
  QCOMPARE(w.Chart1->Series1.Count(), 1);
  QVERIFY(w.lbStatusError->text() != QStringLiteral("No data received yet"));
}

void TMainMonitorTest::AutomaticSamplesAtThePeriod() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seSampleInterval->SetText(QStringLiteral("200"));
  QCOMPARE(w.SampleTimer->Interval(), 200);
  w.cbSampleAutomatic->setChecked(true);
  RunFor(3000);
  w.cbSampleAutomatic->setChecked(false);
  // 3 s at one sample per 200 ms plus the sample's own time: about 14. A period that never
  // applied (1000 ms) gives 3; a timer restarted too early gives more than 15.
  const int samples = CountOf(f.TakeWire(), "s");
  QVERIFY2(samples >= 7 && samples <= 16, qPrintable(QString::number(samples)));
  QVERIFY(f.Errors.isEmpty());
  QCOMPARE(w.Chart1->Series1.Count(), samples);
}

void TMainMonitorTest::IntervalThatStopsTicksAndRestart_data() {
  QTest::addColumn<QString>("stopping");
  QTest::newRow("zero runs no timer") << QStringLiteral("0");
  QTest::newRow("negative period treated like zero") << QStringLiteral("-200");
}

void TMainMonitorTest::IntervalThatStopsTicksAndRestart() {
  QFETCH(QString, stopping);
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seSampleInterval->SetText(QStringLiteral("200"));
  w.cbSampleAutomatic->setChecked(true);
  QVERIFY(f.WaitFor([&] { return CountOf(f.Sim.ReceivedCommands(), "s") >= 1; }));

  w.seSampleInterval->SetText(stopping);
  QVERIFY(!w.SampleTimer->Running());
  f.TakeWire();
  RunFor(1500);
  QCOMPARE(CountOf(f.TakeWire(), "s"), 0);

  w.seSampleInterval->SetText(QStringLiteral("1000"));
  QVERIFY(w.SampleTimer->Running());
  QVERIFY(f.WaitFor([&] { return CountOf(f.Sim.ReceivedCommands(), "s") >= 2; }, 10000));
  QVERIFY(f.Errors.isEmpty());
}

void TMainMonitorTest::DisconnectWhileAutomaticRecoversAfterReconnect() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seSampleInterval->SetText(QStringLiteral("200"));
  w.cbSampleAutomatic->setChecked(true);
  QVERIFY(f.WaitFor([&] { return CountOf(f.Sim.ReceivedCommands(), "s") >= 1; }));

  f.Click(w.btDisconnect);
  QVERIFY(f.WaitFor([&] { return !w.cbSampleAutomatic->isChecked(); }));
  RunFor(1000);  // later ticks find "Automatic" clear and do nothing
  QCOMPARE(f.Errors, QStringList{QStringLiteral("Port Not Open")});
  QVERIFY(w.SampleTimer->Enabled());

  f.Connect();
  w.PageControl1->setCurrentWidget(w.tsRTMonitor);
  f.TakeWire();
  w.cbSampleAutomatic->setChecked(true);
  QVERIFY(f.WaitFor([&] { return CountOf(f.Sim.ReceivedCommands(), "s") >= 2; }));
  QCOMPARE(f.Errors.size(), 1);
}

void TMainMonitorTest::AutomaticTriesAgainAfterAFailedSample() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  f.Sim.SetFault(TFault::CutShort, 2);
  w.seSampleInterval->SetText(QStringLiteral("200"));
  w.cbSampleAutomatic->setChecked(true);
  QVERIFY(f.WaitFor([&] { return CountOf(f.Sim.ReceivedCommands(), "s") >= 3; }, 15000));
  w.cbSampleAutomatic->setChecked(false);
  QVERIFY(f.LogTexts().count(QStringLiteral("Could not retreive status")) >= 2);
  QCOMPARE(w.Chart1->Series1.Count(), 0);
  QVERIFY(f.Errors.isEmpty());
}

void TMainMonitorTest::IntervalFollowsTheTextAsItStands_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("interval");
  QTest::newRow("partial number applies below the limit") << QStringLiteral("5") << 5;
  QTest::newRow("no upper limit while typing") << QStringLiteral("250000") << 250000;
  QTest::newRow("empty text reads the minimum") << QString() << 200;
  QTest::newRow("lone minus reads the minimum") << QStringLiteral("-") << 200;
  QTest::newRow("unparsable text reads the minimum") << QStringLiteral("1x") << 200;
}

void TMainMonitorTest::IntervalFollowsTheTextAsItStands() {
  QFETCH(QString, text);
  QFETCH(int, interval);
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seSampleInterval->SetText(text);
  QCOMPARE(w.SampleTimer->Interval(), interval);
  QVERIFY(w.SampleTimer->Running());
  QVERIFY(f.TakeWire().empty());  // "Automatic" is clear: ticks sample nothing
}

void TMainMonitorTest::TypedIntervalAppliesEachKeystrokeAndLimitsOnLeaving() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  QApplication::setActiveWindow(&w);
  QVERIFY(QTest::qWaitForWindowActive(&w));
  w.seSampleInterval->setFocus(Qt::TabFocusReason);
  w.seSampleInterval->selectAll();
  QList<int> applied;
  QObject::connect(w.seSampleInterval, &TSpinEdit::OnChange,
                   [&] { applied.append(w.SampleTimer->Interval()); });
  QTest::keyClicks(w.seSampleInterval, QStringLiteral("50"));
  QCOMPARE(applied, (QList<int>{5, 50}));
  w.seSICommandStep->setFocus(Qt::TabFocusReason);  // leaving applies the limits
  QCOMPARE(w.seSampleInterval->Text(), QStringLiteral("200"));
  QCOMPARE(w.SampleTimer->Interval(), 200);
}

void TMainMonitorTest::TypingASpeedSendsEachPartialValue() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seMovement->SetText(QString());
  w.cbLiveSet->setChecked(true);
  QTest::keyClicks(w.seMovement, QStringLiteral("100"));
  const std::vector<std::string> expected{"o 2940000", "o 294000", "o 29400"};
  QCOMPARE(f.TakeWire(), expected);
  QCOMPARE(f.Sim.OscillatorValue(), 29400);
  // A step of the arrow key sends the stepped value.
  QTest::keyClick(w.seMovement, Qt::Key_Up);
  QCOMPARE(f.TakeWire(), std::vector<std::string>{"o 26727"});
  QVERIFY(f.Errors.isEmpty());
}

void TMainMonitorTest::StepTestAddsItsPointsInOneRepaint() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  f.Click(w.btSampleStatus);
  f.Click(w.btSampleStatus);
  QCOMPARE(w.Chart1->Series1.Count(), 2);
  QVERIFY(f.WaitFor([&] { return w.Chart1->PaintCount() > 0; }));
  RunFor(200);
  f.TakeWire();

  w.seSICommandStep->SetValue(50);
  w.seSIPrediv->SetValue(2);
  f.Click(w.btLaunchSITest);
  const int paintsBefore = w.Chart1->PaintCount();
  QCOMPARE(f.TakeWire(), std::vector<std::string>{"r2c50ok1"});
  QCOMPARE(w.Chart1->Series1.Count(), 201);
  QCOMPARE(w.Chart1->Series2.Count(), 201);
  for (int i = 0; i < 201; ++i) {
    QCOMPARE(w.Chart1->Series1.XValues()[i], double(i + 1));
    QCOMPARE(w.Chart1->Series2.XValues()[i], double(i + 1));
  }
  QVERIFY(f.WaitFor([&] { return w.Chart1->PaintCount() > paintsBefore; }));
  RunFor(300);
  QCOMPARE(w.Chart1->PaintCount(), paintsBefore + 1);
  QVERIFY(f.Errors.isEmpty());
  QCOMPARE(w.seSICommandStep->Text(), QStringLiteral("50"));  // "auto Fw/Rev:" is clear
}

void TMainMonitorTest::AutoFwdRevFlipsTheStep() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.cbSIAutoFwdRev->setChecked(true);
  w.seSICommandStep->SetValue(100);
  f.Click(w.btLaunchSITest);
  QCOMPARE(w.seSICommandStep->Text(), QStringLiteral("-100"));
  f.Click(w.btLaunchSITest);
  QCOMPARE(w.seSICommandStep->Text(), QStringLiteral("100"));
  const std::vector<std::string> expected{"r0c100ok1", "r0c-100ok1"};
  QCOMPARE(f.TakeWire(), expected);
  QCOMPARE(w.Chart1->Series1.Count(), 398);
  QCOMPARE(w.Chart1->Series1.XValues().back(), 398.0);
}

void TMainMonitorTest::FailedStepTestPlotsNothing() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  f.Sim.SetFault(TFault::CutShort, 1);
  w.SampleTimer->SetEnabled(false);
  f.Click(w.btLaunchSITest);
  QCOMPARE(w.Chart1->Series1.Count(), 0);
  QVERIFY(w.SampleTimer->Enabled());
  QVERIFY(f.Errors.isEmpty());
  QVERIFY(!f.LogTexts().contains(QStringLiteral("Error")));
}

void TMainMonitorTest::BadStepLineKeepsThePointsBefore_data() {
  QTest::addColumn<int>("fault");
  QTest::addColumn<int>("errors");
  // Line 10 of the answer is the error of the fourth pair.
  QTest::newRow("tag missing ends the parse quietly") << int(TFault::MissingTag) << 0;
  QTest::newRow("unreadable number must not lose the earlier points")
      << int(TFault::MalformedNumber) << 1;
}

void TMainMonitorTest::BadStepLineKeepsThePointsBefore() {
  QFETCH(int, fault);
  QFETCH(int, errors);
  TMonitorFixture f;
  TfMain& w = *f.Window;
  f.Click(w.btSampleStatus);
  f.Sim.SetFault(TFault(fault), 10);
  w.SampleTimer->SetEnabled(false);
  f.Click(w.btLaunchSITest);
  QCOMPARE(w.Chart1->Series1.Count(), 4);
  QCOMPARE(w.Chart1->Series2.Count(), 4);
  QCOMPARE(w.Chart1->Series2.XValues().back(), 4.0);
  QCOMPARE(f.Errors.size(), errors);
  if (errors) QCOMPARE(f.Errors[0], QStringLiteral("'1.2.3' is not a valid floating point value"));
  QVERIFY(w.SampleTimer->Enabled());  // enabled again even when the error ends the click
}

void TMainMonitorTest::HigherPOvershootsMore() {
  const double low = StepOvershoot(0.05);
  const double high = StepOvershoot(2.0);
  qInfo("overshoot of a 100-count step: P 0.05 -> %g, P 2 -> %g", low, high);
  QVERIFY(low >= 0);
  QVERIFY2(high > low + 5, qPrintable(QStringLiteral("%1 vs %2").arg(high).arg(low)));
}

void TMainMonitorTest::OscillatorCommand_data() {
  QTest::addColumn<int>("speed");
  QTest::addColumn<QString>("sent");
  QTest::newRow("exact quotient") << 7 << QStringLiteral("o 420000");
  QTest::newRow("exact quotient 3") << 3 << QStringLiteral("o 980000");
  QTest::newRow("2.94 rounds down") << 1000000 << QStringLiteral("o 3");
  QTest::newRow("0.5 ties to even 0") << 5880000 << QStringLiteral("o 0");
  QTest::newRow("2.5 ties to even, not away from zero") << 1176000 << QStringLiteral("o 2");
  QTest::newRow("-2.5 ties to even") << -1176000 << QStringLiteral("o -2");
  QTest::newRow("negative speed") << -1 << QStringLiteral("o -2940000");
  QTest::newRow("speed 100") << 100 << QStringLiteral("o 29400");
  QTest::newRow("zero stops, no division") << 0 << QStringLiteral("o 0");
}

void TMainMonitorTest::OscillatorCommand() {
  QFETCH(int, speed);
  QFETCH(QString, sent);
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seMovement->SetValue(speed);
  QVERIFY(f.TakeWire().empty());  // "Set when changing" is clear
  f.Click(w.btSetOscVal);
  QCOMPARE(f.TakeWire(), std::vector<std::string>{sent.toStdString()});
  QVERIFY(f.Errors.isEmpty());
  QVERIFY(!f.LogTexts().contains(QStringLiteral("Error")));
  QVERIFY(!w.Channel.FWaitRS232);
}

void TMainMonitorTest::StopSendsZero_data() {
  QTest::addColumn<bool>("liveSet");
  QTest::addColumn<int>("before");
  QTest::addColumn<int>("zeros");
  QTest::newRow("live set and moving: the change and Stop each send") << true << 100 << 2;
  QTest::newRow("live set but already 0: no change, one send") << true << 0 << 1;
  QTest::newRow("no live set: Stop alone sends") << false << 100 << 1;
}

void TMainMonitorTest::StopSendsZero() {
  QFETCH(bool, liveSet);
  QFETCH(int, before);
  QFETCH(int, zeros);
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seMovement->SetValue(before);
  w.cbLiveSet->setChecked(liveSet);
  f.Click(w.btStop);
  QCOMPARE(w.seMovement->Text(), QStringLiteral("0"));
  QCOMPARE(f.TakeWire(), std::vector<std::string>(zeros, "o 0"));
  QCOMPARE(f.Sim.OscillatorValue(), 0);
  QVERIFY(f.Errors.isEmpty());
}

void TMainMonitorTest::OperationsEnableTheTimer_data() {
  QTest::addColumn<int>("button");  // 0 "Launch Test", 1 "Set", 2 "Stop"
  QTest::addColumn<bool>("automatic");
  QTest::addColumn<bool>("silent");
  const char* names[] = {"Launch Test", "Set", "Stop"};
  for (int b = 0; b < 3; ++b) {
    QTest::addRow("%s, timer left off", names[b]) << b << false << false;
    QTest::addRow("%s, Automatic ticked", names[b]) << b << true << false;
    QTest::addRow("%s, board silent", names[b]) << b << false << true;
  }
}

void TMainMonitorTest::OperationsEnableTheTimer() {
  QFETCH(int, button);
  QFETCH(bool, automatic);
  QFETCH(bool, silent);
  TMonitorFixture f;
  TfMain& w = *f.Window;
  // A long period keeps automatic ticks out of the way of the operation under test.
  w.seSampleInterval->SetText(QStringLiteral("100000"));
  w.cbSampleAutomatic->setChecked(automatic);
  w.SampleTimer->SetEnabled(false);
  if (silent) f.Sim.SetFault(TFault::NoAnswer);
  f.Click(QList<QPushButton*>{w.btLaunchSITest, w.btSetOscVal, w.btStop}[button]);
  QVERIFY(w.SampleTimer->Enabled());
  QVERIFY(w.SampleTimer->Running());
  QVERIFY(f.Errors.isEmpty());
}

void TMainMonitorTest::NestedOscillatorCommandEndsOuterWithError() {
  TMonitorFixture f;
  TfMain& w = *f.Window;
  w.seMovement->SetValue(100);
  w.cbLiveSet->setChecked(true);
  f.Sim.ScriptAnswer("o 29400", {});  // the outer command waits for an answer that never comes
  // While the outer command waits, a step of the field runs the inner command.
  QTimer::singleShot(100, w.seMovement, [&] { QTest::keyClick(w.seMovement, Qt::Key_Up); });
  f.Click(w.btSetOscVal);

  const std::vector<std::string> expected{"o 29400", "o 26727"};
  QCOMPARE(f.TakeWire(), expected);
  QCOMPARE(w.seMovement->Text(), QStringLiteral("110"));
  QCOMPARE(f.Sim.OscillatorValue(), 26727);
  const QStringList log = f.LogTexts();
  QVERIFY(log.contains(QStringLiteral("(o) 26727")));
  QCOMPARE(log.count(QStringLiteral("Error")), 1);
  QCOMPARE(LogColour(f, QStringLiteral("Error")), ToQColor(clRed));
  QVERIFY(!w.Channel.FWaitRS232);
  QVERIFY(w.SampleTimer->Enabled());
  QVERIFY(f.Errors.isEmpty());
}

QTEST_MAIN(TMainMonitorTest)
#include "main_monitor_test.moc"
