// The sampling timer's rules, all timers running side by side through one short wait: which
// changes restart the countdown and which periods tick at all.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <deque>

#include "monitor/sampletimer.h"

class TSampleTimerTest : public QObject {
  Q_OBJECT

 private slots:
  void CountdownRules() {
    constexpr int kPeriod = 400;
    const struct {
      const char* Name;
      std::function<void(TSampleTimer&, int)> Each;  // called every 20 ms
      bool Running, Ticks;
    } rows[] = {
        // Setting the period at every keystroke must not restart it, or no tick would come.
        {"same period again", [](auto& t, int) { t.SetInterval(kPeriod); }, true, true},
        {"enabling an enabled timer", [](auto& t, int) { t.SetEnabled(true); }, true, true},
        {"new period", [](auto& t, int n) { t.SetInterval(kPeriod + n % 2); }, true, false},
        {"disabling and enabling restarts",
         [](auto& t, int) { for (bool on : {false, true}) t.SetEnabled(on); }, true, false},
        {"disabled", [](auto& t, int) { t.SetEnabled(false); }, false, false},
        // A zero period must not fire on every pass of the event loop.
        {"zero period", [](auto& t, int) { t.SetInterval(0); }, false, false},
        {"negative period like zero", [](auto& t, int) { t.SetInterval(-kPeriod); }, false, false},
        {"positive after zero", [](auto& t, int n) { t.SetInterval(n ? kPeriod : 0); }, true, true},
    };
    std::deque<TSampleTimer> timers;
    std::deque<QSignalSpy> ticks;
    for (size_t k = 0; k < std::size(rows); ++k)
      ticks.emplace_back(&timers.emplace_back(kPeriod), &TSampleTimer::OnTimer);
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; clock.elapsed() < 2 * kPeriod + 150; ++n, QTest::qWait(20))
      for (size_t k = 0; k < std::size(rows); ++k) rows[k].Each(timers[k], n);
    for (size_t k = 0; k < std::size(rows); ++k) {
      QVERIFY2(ticks[k].isEmpty() != rows[k].Ticks, rows[k].Name);
      QVERIFY2(timers[k].Running() == rows[k].Running, rows[k].Name);
    }
  }
};

QTEST_MAIN(TSampleTimerTest)
#include "sampletimer_test.moc"
