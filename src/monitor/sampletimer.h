#pragma once

#include <QObject>
#include <QTimer>

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
  bool Running() const { return FTimer.isActive(); }

 signals:
  void OnTimer();

 private:
  void Restart();

  QTimer FTimer;
  bool FEnabled = true;
  int FInterval;
};
