#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

// What a sample timer counts its period on: one countdown at a time that repeats until it is
// stopped, calling OnTick each time it runs out. The window's timer counts on the event loop;
// a test gives it a clock it moves by hand, so that it counts ticks instead of timing them.
class TTickClock {
 public:
  virtual ~TTickClock() = default;
  // Starts a countdown of ms, dropping one that runs; it repeats until Stop.
  virtual void Start(int ms) = 0;
  virtual void Stop() = 0;
  virtual bool Active() const = 0;

  std::function<void()> OnTick;
};

// The event loop's clock: a precise QTimer.
class TEventLoopClock : public TTickClock {
 public:
  TEventLoopClock();
  void Start(int ms) override { FTimer.start(ms); }
  void Stop() override { FTimer.stop(); }
  bool Active() const override { return FTimer.isActive(); }

 private:
  QTimer FTimer;
};

// A periodic timer with the rules the sampling relies on: setting the period it already has
// changes nothing; a different period restarts the countdown; disabling and enabling restarts
// it; a period of 0 or below runs no timer at all, so no tick comes until another period is set.
class TSampleTimer : public QObject {
  Q_OBJECT

 public:
  explicit TSampleTimer(int intervalMs, QObject* parent = nullptr);

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool enabled);
  int Interval() const { return FInterval; }
  void SetInterval(int intervalMs);
  // Returns whether ticks are actually coming (enabled with a positive period).
  bool Running() const { return FClock->Active(); }
  // Counts from now on, with a fresh countdown, on clock instead (the event loop's at first).
  void SetClock(std::unique_ptr<TTickClock> clock);

 signals:
  void OnTimer();

 private:
  void Restart();

  std::unique_ptr<TTickClock> FClock;
  bool FEnabled = true;
  int FInterval;
};
