#pragma once

// The arrow buttons inside the right end of a numeric entry field: a pair, up above down,
// each with a repeat timer that keeps stepping while the button is held.

#include <QTimer>
#include <QWidget>

// One arrow button that fires on release over it and, while held, on each repeat tick:
// the first tick 400 ms after the press, each later one 100 ms after the previous.
class TTimerSpeedButton : public QWidget {
  Q_OBJECT
 public:
  // Which way the arrow points.
  enum TDirection { Up, Down };

  // Creates an arrow button; it never takes the keyboard focus.
  TTimerSpeedButton(TDirection direction, QWidget* parent);

  // Delay from the press to the first repeat tick, and between later ticks (ms).
  static constexpr int kFirstDelay = 400;
  static constexpr int kRepeatInterval = 100;

 signals:
  // Raised on a left press, before any step, so the field can take the focus first.
  void Pressed();
  // Raised for each step: at each repeat tick while held over it, and on release over it.
  void Fired();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  // Lets go of a hold when a modal box blocks the button's window.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void RepeatTick();
  // Ends a hold: no more repeat ticks, the button drawn raised.
  void LetGo();

  TDirection FDirection;
  QTimer FRepeat;
  bool FHeld = false;
  bool FOver = false;
  bool FStepping = false;  // a repeat tick's step runs (its exchange may run the event loop)
};

// The arrow button of a TAdvSpinEdit; behaves as TTimerSpeedButton.
class TAdvTimerSpeedButton : public TTimerSpeedButton {
  Q_OBJECT
 public:
  // Creates an arrow button of a TAdvSpinEdit.
  using TTimerSpeedButton::TTimerSpeedButton;
};

// The pair of arrow buttons owned by a field. It knows the field as the control to focus:
// a press gives that control the keyboard focus when it does not have it.
class TSpinButton : public QWidget {
  Q_OBJECT
 public:
  // Creates the pair as a child of its field, which it also focuses on a press.
  explicit TSpinButton(QWidget* focusControl);

  // The up and down buttons, for tests that press them.
  TTimerSpeedButton* UpButton() const { return FUp; }
  TTimerSpeedButton* DownButton() const { return FDown; }

  // The width the field reserves for the pair at its right end.
  static constexpr int kWidth = 17;

 signals:
  // A button was pressed (after the focus moved to the field).
  void Pressed();
  // The up button fired.
  void UpClick();
  // The down button fired.
  void DownClick();

 protected:
  // Builds the pair with buttons made by the derived kind.
  TSpinButton(QWidget* focusControl, TTimerSpeedButton* up, TTimerSpeedButton* down);
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FocusControl();

  QWidget* FFocusControl;
  TTimerSpeedButton* FUp;
  TTimerSpeedButton* FDown;
};

// The button pair of a TAdvSpinEdit.
class TAdvSpinButton : public TSpinButton {
  Q_OBJECT
 public:
  // Creates the pair as a child of its TAdvSpinEdit.
  explicit TAdvSpinButton(QWidget* focusControl);
};
