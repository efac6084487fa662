// The sampling timer's rules, counted on a clock the test moves: which changes restart the
// countdown and which periods tick at all.
#include <QSignalSpy>
#include <QTest>

#include "manualclock.h"
#include "monitor/sampletimer.h"

class TSampleTimerTest : public QObject {
  Q_OBJECT

 private slots:
  void CountdownRules() {
    constexpr int kPeriod = 400, kStep = 20, kSteps = 48;  // 960 ms: two periods and more
    const struct {
      const char* Name;
      std::function<void(TSampleTimer&, int)> Each;  // called every kStep ms
      bool Running;
      int Ticks;
    } rows[] = {
        // Setting the period at every keystroke must not restart it, or no tick would come.
        {"same period again", [](auto& t, int) { t.SetInterval(kPeriod); }, true, 2},
        {"enabling an enabled timer", [](auto& t, int) { t.SetEnabled(true); }, true, 2},
        {"new period", [](auto& t, int n) { t.SetInterval(kPeriod + n % 2); }, true, 0},
        {"disabling and enabling restarts",
         [](auto& t, int) { for (bool on : {false, true}) t.SetEnabled(on); }, true, 0},
        {"disabled", [](auto& t, int) { t.SetEnabled(false); }, false, 0},
        // A zero period must not fire on every pass of the event loop.
        {"zero period", [](auto& t, int) { t.SetInterval(0); }, false, 0},
        {"negative period like zero", [](auto& t, int) { t.SetInterval(-kPeriod); }, false, 0},
        // Started again 20 ms in: ticks at 420 and 820 ms.
        {"positive after zero", [](auto& t, int n) { t.SetInterval(n ? kPeriod : 0); }, true, 2},
    };
    for (const auto& row : rows) {
      TSampleTimer timer(kPeriod);
      TManualClock& clock = UseManualClock(timer);
      QSignalSpy ticks(&timer, &TSampleTimer::OnTimer);
      for (int n = 0; n < kSteps; ++n) {
        row.Each(timer, n);
        clock.Advance(kStep);
      }
      QVERIFY2(ticks.size() == row.Ticks, row.Name);
      QVERIFY2(timer.Running() == row.Running, row.Name);
    }
  }

  // The window's timer counts on the event loop.
  void TicksOnTheEventLoop() {
    TSampleTimer timer(10);
    QSignalSpy ticks(&timer, &TSampleTimer::OnTimer);
    QVERIFY(ticks.wait(5000));
    timer.SetInterval(0);
    QVERIFY(!timer.Running());
  }
};

QTEST_MAIN(TSampleTimerTest)
#include "sampletimer_test.moc"
