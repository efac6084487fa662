#include "ui/spineditbuttons.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

TTimerSpeedButton::TTimerSpeedButton(TDirection direction, QWidget* parent)
    : QWidget(parent), FDirection(direction) {
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  FRepeat.setTimerType(Qt::PreciseTimer);
  connect(&FRepeat, &QTimer::timeout, this, &TTimerSpeedButton::RepeatTick);
}

void TTimerSpeedButton::mousePressEvent(QMouseEvent* event) {
  // Only the left button acts; the others leave the field alone.
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  FHeld = true;
  FOver = true;
  // A modal box that comes up while the button is held (an error report of its own step)
  // takes the mouse: the release never reaches the button. The window tells when it is blocked.
  window()->installEventFilter(this);
  emit Pressed();
  FRepeat.start(kFirstDelay);
  update();
}

void TTimerSpeedButton::mouseMoveEvent(QMouseEvent* event) {
  if (!FHeld) return;
  const bool over = rect().contains(event->position().toPoint());
  if (over == FOver) return;
  FOver = over;
  update();
}

void TTimerSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !FHeld) return;
  const bool over = rect().contains(event->position().toPoint());
  LetGo();
  if (over) emit Fired();
}

void TTimerSpeedButton::LetGo() {
  FHeld = false;
  FOver = false;
  FRepeat.stop();
  window()->removeEventFilter(this);
  update();
}

bool TTimerSpeedButton::eventFilter(QObject* watched, QEvent* event) {
  // Without letting go, the button would step on behind the box, and its release after the
  // box, over the button, would step once more.
  if (event->type() == QEvent::WindowBlocked && FHeld) LetGo();
  return QWidget::eventFilter(watched, event);
}

void TTimerSpeedButton::RepeatTick() {
  // A disabled button never gets its release.
  if (!isEnabled()) {
    LetGo();
    return;
  }
  // After the first delay the timer runs on at the repeat interval until the release.
  if (FRepeat.interval() != kRepeatInterval) FRepeat.setInterval(kRepeatInterval);
  // A step whose exchange with a slow board still waits runs the event loop: a tick inside it
  // is skipped, so that a second step never starts in the middle of the first one's exchange.
  if (!FHeld || !FOver || FStepping) return;
  FStepping = true;
  emit Fired();
  FStepping = false;
}

void TTimerSpeedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  option.state |= QStyle::State_Raised;
  if (FHeld && FOver) option.state = (option.state & ~QStyle::State_Raised) | QStyle::State_Sunken;
  style()->drawPrimitive(QStyle::PE_PanelButtonTool, &option, &painter, this);
  option.rect = rect().adjusted(3, 1, -3, -1);
  const auto arrow = FDirection == Up ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown;
  style()->drawPrimitive(arrow, &option, &painter, this);
}

TSpinButton::TSpinButton(QWidget* focusControl)
    : TSpinButton(focusControl, new TTimerSpeedButton(TTimerSpeedButton::Up, nullptr),
                  new TTimerSpeedButton(TTimerSpeedButton::Down, nullptr)) {}

TSpinButton::TSpinButton(QWidget* focusControl, TTimerSpeedButton* up, TTimerSpeedButton* down)
    : QWidget(focusControl), FFocusControl(focusControl), FUp(up), FDown(down) {
  setFocusPolicy(Qt::NoFocus);
  FUp->setParent(this);
  FDown->setParent(this);
  for (TTimerSpeedButton* button : {FUp, FDown})
    connect(button, &TTimerSpeedButton::Pressed, this, &TSpinButton::FocusControl);
  connect(FUp, &TTimerSpeedButton::Fired, this, &TSpinButton::UpClick);
  connect(FDown, &TTimerSpeedButton::Fired, this, &TSpinButton::DownClick);
}

void TSpinButton::FocusControl() {
  // Entering the field this way is not a click into its text, so it selects all.
  if (FFocusControl && !FFocusControl->hasFocus()) FFocusControl->setFocus(Qt::OtherFocusReason);
  emit Pressed();
}

void TSpinButton::resizeEvent(QResizeEvent*) {
  const int upHeight = height() / 2;
  FUp->setGeometry(0, 0, width(), upHeight);
  FDown->setGeometry(0, upHeight, width(), height() - upHeight);
}

TAdvSpinButton::TAdvSpinButton(QWidget* focusControl)
    : TSpinButton(focusControl, new TAdvTimerSpeedButton(TTimerSpeedButton::Up, nullptr),
                  new TAdvTimerSpeedButton(TTimerSpeedButton::Down, nullptr)) {}

#include "moc_spineditbuttons.cpp"
