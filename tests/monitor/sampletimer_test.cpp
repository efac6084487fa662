// The sampling timer's rules: which changes restart the countdown and which periods tick at all.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "monitor/sampletimer.h"

namespace {

// Processes events for about ms milliseconds, calling each (if given) every stepMs.
void RunFor(int ms, int stepMs = 20, const std::function<void()>& each = {}) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QTest::qWait(stepMs);
    if (each) each();
  }
}

}  // namespace

class TSampleTimerTest : public QObject {
  Q_OBJECT

 private slots:
  void RunsOnlyWhenEnabledWithPositivePeriod_data();
  void RunsOnlyWhenEnabledWithPositivePeriod();
  void SamePeriodKeepsTheCountdown();
  void NewPeriodRestartsTheCountdown();
  void ReEnablingRestartsTheCountdown();
  void ZeroStopsAndPositiveRestarts();
};

void TSampleTimerTest::RunsOnlyWhenEnabledWithPositivePeriod_data() {
  QTest::addColumn<int>("interval");
  QTest::addColumn<bool>("enabled");
  QTest::addColumn<bool>("running");
  QTest::newRow("positive period ticks") << 1000 << true << true;
  QTest::newRow("zero period must not spin on every loop pass") << 0 << true << false;
  QTest::newRow("negative period is taken like zero") << -500 << true << false;
  QTest::newRow("disabled timer does not tick") << 1000 << false << false;
  QTest::newRow("disabled with zero period stays off") << 0 << false << false;
}

void TSampleTimerTest::RunsOnlyWhenEnabledWithPositivePeriod() {
  QFETCH(int, interval);
  QFETCH(bool, enabled);
  QFETCH(bool, running);
  TSampleTimer timer(1000);
  QVERIFY(timer.Running());
  timer.SetEnabled(enabled);
  timer.SetInterval(interval);
  QCOMPARE(timer.Running(), running);
  QCOMPARE(timer.Interval(), interval);
  QCOMPARE(timer.Enabled(), enabled);
  QSignalSpy ticks(&timer, &TSampleTimer::OnTimer);
  RunFor(150);
  if (!running) QCOMPARE(ticks.count(), 0);
}

void TSampleTimerTest::SamePeriodKeepsTheCountdown() {
  // Setting 200 again every 20 ms must not restart the countdown, or no tick would ever come.
  TSampleTimer timer(200);
  QSignalSpy ticks(&timer, &TSampleTimer::OnTimer);
  RunFor(1500, 20, [&] { timer.SetInterval(200); });
  QVERIFY2(ticks.count() >= 2, qPrintable(QString::number(ticks.count())));
}

void TSampleTimerTest::NewPeriodRestartsTheCountdown() {
  // Alternating periods restart the countdown each time, so a 1 s period never elapses.
  TSampleTimer timer(1000);
  QSignalSpy ticks(&timer, &TSampleTimer::OnTimer);
  int n = 0;
  RunFor(2500, 20, [&] { timer.SetInterval(++n % 2 ? 1001 : 1000); });
  QCOMPARE(ticks.count(), 0);
}

void TSampleTimerTest::ReEnablingRestartsTheCountdown() {
  TSampleTimer timer(1000);
  QSignalSpy ticks(&timer, &TSampleTimer::OnTimer);
  RunFor(2500, 20, [&] {
    timer.SetEnabled(false);
    timer.SetEnabled(true);
  });
  QCOMPARE(ticks.count(), 0);
  // Enabling an enabled timer is no change: the countdown goes on.
  RunFor(1500, 20, [&] { timer.SetEnabled(true); });
  QVERIFY(ticks.count() >= 1);
}

void TSampleTimerTest::ZeroStopsAndPositiveRestarts() {
  TSampleTimer timer(100);
  QSignalSpy ticks(&timer, &TSampleTimer::OnTimer);
  timer.SetInterval(0);
  RunFor(400);
  QCOMPARE(ticks.count(), 0);
  timer.SetInterval(100);
  QVERIFY(timer.Running());
  QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 5000);
}

QTEST_MAIN(TSampleTimerTest)
#include "sampletimer_test.moc"
