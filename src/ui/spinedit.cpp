#include "ui/spinedit.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QStyle>
#include <limits>
#include <utility>

#include "globals/numtext.h"
#include "ui/qcolors.h"

namespace {

std::function<void()>& AlertSound() {
  static std::function<void()> sound;
  return sound;
}

std::optional<QLocale>& UserLocaleOverride() {
  static std::optional<QLocale> locale;
  return locale;
}

bool IsReturnKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

// Keys the line edit handles by itself: they move the caret or delete, they type nothing.
bool IsEditingKey(int key) {
  switch (key) {
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Insert:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- TSpinEditBase ----------------------------------------------------------------------

TSpinEditBase::TSpinEditBase(QWidget* parent) : QLineEdit(parent) {
  QLineEdit::setText(QStringLiteral("0"));
  connect(this, &QLineEdit::textChanged, this, &TSpinEditBase::TextEdited);
}

void TSpinEditBase::AttachButtons(TSpinButton* buttons) {
  FButtons = buttons;
  connect(FButtons, &TSpinButton::UpClick, this, [this] { Step(TStep::Up, true); });
  connect(FButtons, &TSpinButton::DownClick, this, [this] { Step(TStep::Down, true); });
  connect(FButtons, &TSpinButton::Pressed, this, &TSpinEditBase::ButtonPressed);
  // The text area ends left of the buttons.
  setTextMargins(0, 0, TSpinButton::kWidth, 0);
}

void TSpinEditBase::SetText(const QString& text) { WriteText(text); }

TColor TSpinEditBase::FontColor() const {
  if (FFontColor) return *FFontColor;
  return FromQColor(palette().color(QPalette::Text));
}

void TSpinEditBase::SetFontColor(TColor color) {
  FFontColor = color;
  // Only the text role changes: the buttons draw with their own roles, the base stays.
  QPalette pal = palette();
  pal.setColor(QPalette::Active, QPalette::Text, ToQColor(color));
  pal.setColor(QPalette::Inactive, QPalette::Text, ToQColor(color));
  setPalette(pal);
}

void TSpinEditBase::Loaded() { FLoaded = true; }

void TSpinEditBase::SetAlertSound(std::function<void()> sound) {
  AlertSound() = std::move(sound);
}

void TSpinEditBase::Alert() {
  if (AlertSound()) {
    AlertSound()();
    return;
  }
  QApplication::beep();
}

void TSpinEditBase::WriteText(const QString& text, std::optional<TSpinSelection> selection,
                              bool caretAtStart) {
  // A write that leaves the text as it was changes nothing and notifies nobody.
  if (text == this->text()) return;
  // Qt's own change signal is muted so the notification comes once, after the selection.
  ++FWriting;
  QLineEdit::setText(text);
  if (selection) ApplySelection(*selection, caretAtStart);
  --FWriting;
  if (FLoaded) emit OnChange(this);
}

void TSpinEditBase::TextEdited() {
  // Typing, deleting, cut, paste and undo: one notification per change of the text.
  if (FWriting == 0 && FLoaded) emit OnChange(this);
}

TSpinEditState TSpinEditBase::EditState() const {
  const TSpinSelection sel = CurrentSelection();
  return {text(), sel.Start, sel.Length};
}

TSpinSelection TSpinEditBase::CurrentSelection() const {
  if (!hasSelectedText()) return {cursorPosition(), 0};
  return {selectionStart(), int(selectionLength())};
}

void TSpinEditBase::ApplySelection(TSpinSelection selection, bool caretAtStart) {
  if (selection.Length == 0) {
    setCursorPosition(selection.Start);
  } else if (caretAtStart) {
    setSelection(selection.Start + selection.Length, -selection.Length);
  } else {
    setSelection(selection.Start, selection.Length);
  }
}

void TSpinEditBase::Step(TStep step, bool byButton) {
  const std::optional<QString> stepped = SteppedText(step);
  if (!stepped) return;
  const QString before = text();
  const TSpinSelection sel = CurrentSelection();
  if (byButton) {
    WriteText(*stepped, SelectionAfterButtonStep(before, *stepped, sel));
    return;
  }
  // A key step puts caret and selection back where they were, on the same side.
  const bool caretAtStart = hasSelectedText() && cursorPosition() == selectionStart();
  WriteText(*stepped, SelectionAfterKeyStep(*stepped, sel), caretAtStart);
}

std::optional<TSpinEditBase::TStep> TSpinEditBase::StepOfKey(const QKeyEvent* event) const {
  if (event->key() == Qt::Key_Up) return TStep::Up;
  if (event->key() == Qt::Key_Down) return TStep::Down;
  return std::nullopt;
}

void TSpinEditBase::keyPressEvent(QKeyEvent* event) {
  // Every key-down steps once, the auto-repeated ones included.
  if (const auto step = StepOfKey(event)) {
    Step(*step, false);
    event->accept();
    return;
  }
  const bool typesText = !event->text().isEmpty() || IsReturnKey(event->key());
  if (IsEditingKey(event->key()) || !typesText) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  if (event->text().size() > 1 && !IsReturnKey(event->key())) {
    event->accept();
    TypeText(event->text());
    return;
  }
  TypeChar(event);
}

std::optional<char32_t> TSpinEditBase::Judge(char32_t ch) {
  const TCharResult result = CheckChar(ch);
  if (result.ToggleSign) {
    const TSpinEditState toggled = ToggleSign(EditState());
    WriteText(toggled.Text, TSpinSelection{toggled.Caret, toggled.SelLength});
  }
  switch (result.Verdict) {
    case TCharVerdict::Refuse:
      Alert();
      return std::nullopt;
    case TCharVerdict::Ignore:
      return std::nullopt;
    case TCharVerdict::Accept:
      break;
  }
  return result.Char;
}

void TSpinEditBase::TypeChar(QKeyEvent* event) {
  char32_t ch = event->text().isEmpty() ? 0 : event->text().at(0).unicode();
  // Return comes as CR; with Ctrl held it is a line feed, an ordinary control character.
  if (IsReturnKey(event->key()))
    ch = event->modifiers() & Qt::ControlModifier ? U'\n' : U'\r';
  event->accept();
  const std::optional<char32_t> accepted = Judge(ch);
  if (!accepted) return;
  // The line edit types the key itself, and acts on control keys (the clipboard shortcuts).
  if (*accepted == ch) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  insert(QString::fromUcs4(&*accepted, 1));  // the thousands separator typed as "."
}

// Types text that came as one piece (a key giving several characters, an input-method commit)
// one character at a time, each judged as a typed key is and each accepted one a change of its
// own. Control characters are judged but, as with keys, never inserted.
void TSpinEditBase::TypeText(QStringView text) {
  for (const char32_t ch : text.toUcs4()) {
    const std::optional<char32_t> accepted = Judge(ch);
    if (accepted && QChar::isPrint(*accepted)) insert(QString::fromUcs4(&*accepted, 1));
  }
}

void TSpinEditBase::inputMethodEvent(QInputMethodEvent* event) {
  if (event->commitString().isEmpty()) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  // The line edit takes the range the input method replaces and the text still being composed;
  // the committed text in between is typed.
  if (event->replacementLength() != 0) {
    QInputMethodEvent replacement;
    replacement.setCommitString(QString(), event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&replacement);
  }
  TypeText(event->commitString());
  QInputMethodEvent composing(event->preeditString(), event->attributes());
  QLineEdit::inputMethodEvent(&composing);
  event->accept();
}

namespace {

// Focus changes that do not move the focus between controls of the window: another application
// came forward, a popup opened, or the keyboard went to the menu bar (Alt, Alt+F).
bool IsAwayToMenuOrElsewhere(Qt::FocusReason reason) {
  return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
         reason == Qt::MenuBarFocusReason;
}

}  // namespace

void TSpinEditBase::focusInEvent(QFocusEvent* event) {
  QObject::disconnect(FFocusWatch);
  const auto selection = std::exchange(FSelectionBeforeMenu, std::nullopt);
  QLineEdit::focusInEvent(event);
  // A click into the text places the caret; entering any other way selects everything.
  // Coming back from another application or a menu is not entering: caret and selection stay.
  switch (event->reason()) {
    case Qt::MouseFocusReason:
      // Qt gives the focus before the press reaches the arrow buttons; they decide.
      FMouseFocusPending = true;
      return;
    case Qt::MenuBarFocusReason:
      if (selection) ApplySelection(selection->first, selection->second);
      return;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
      return;
    default:
      selectAll();
  }
}

void TSpinEditBase::mousePressEvent(QMouseEvent* event) {
  FMouseFocusPending = false;  // a click into the text: the caret goes where it points
  QLineEdit::mousePressEvent(event);
}

void TSpinEditBase::ButtonPressed() {
  // A press on the arrow buttons that brought the focus is not a click into the text.
  if (FMouseFocusPending) selectAll();
  FMouseFocusPending = false;
}

void TSpinEditBase::focusOutEvent(QFocusEvent* event) {
  FMouseFocusPending = false;
  // Only a move of the focus to another control of the window is leaving the field.
  const Qt::FocusReason reason = event->reason();
  if (IsAwayToMenuOrElsewhere(reason)) {
    WatchFocusAfterMenu();
    // The line edit drops the selection when the menu bar takes the keys; it comes back with them.
    if (reason == Qt::MenuBarFocusReason)
      FSelectionBeforeMenu = {CurrentSelection(),
                              hasSelectedText() && cursorPosition() == selectionStart()};
  } else {
    DoExit();
  }
  QLineEdit::focusOutEvent(event);
}

// While the menu bar, a popup or another window holds the focus, the field has not been left;
// it is left when the focus goes on from there to another control of this window (a click or
// Tab while the menu bar has the keys), and not when it comes back.
void TSpinEditBase::WatchFocusAfterMenu() {
  if (FFocusWatch) return;
  FFocusWatch = connect(qApp, &QApplication::focusChanged, this,
                        [this](QWidget*, QWidget* now) { FocusMoved(now); });
}

void TSpinEditBase::FocusMoved(QWidget* now) {
  if (now == this) return;  // focusInEvent ends the watch
  if (!now || now->window() != window() || qobject_cast<QMenuBar*>(now)) return;
  QObject::disconnect(FFocusWatch);
  FSelectionBeforeMenu.reset();
  DoExit();
}

void TSpinEditBase::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  if (!FButtons) return;
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  FButtons->setGeometry(width() - frame - TSpinButton::kWidth, frame, TSpinButton::kWidth,
                        height() - 2 * frame);
}

void TSpinEditBase::wheelEvent(QWheelEvent* event) {
  // The wheel never steps; it goes on to the parent (which may scroll).
  event->ignore();
}

// ---- TAdvSpinEdit -----------------------------------------------------------------------

TAdvSpinEdit::TAdvSpinEdit(QWidget* parent) : TSpinEditBase(parent) {
  AttachButtons(new TAdvSpinButton(this));
}

int TAdvSpinEdit::Value() const { return ReadAdvValue(text(), FMinValue); }

void TAdvSpinEdit::SetValue(int value) { WriteText(IntText(value)); }

double TAdvSpinEdit::FloatValue() const { return ReadAdvFloatValue(text(), FMinValue); }

void TAdvSpinEdit::SetFloatValue(double value) { WriteText(FloatText(value)); }

QString TAdvSpinEdit::IntText(int64_t value) const {
  return SpinIntText(ClampAdvInt(AddIntStep(0, value), FMinValue, FMaxValue));
}

QString TAdvSpinEdit::FloatText(double value) const {
  return SpinFloatText(ClampAdvFloat(value, FMinFloatValue, FMaxFloatValue), FPrecision);
}

void TAdvSpinEdit::Loaded() {
  // The first texts are formed through the mode, with "." whatever the locale.
  if (FSpinType == sptFloat) {
    SetFloatValue(FloatValue());
  } else {
    SetValue(Value());
  }
  TSpinEditBase::Loaded();
}

std::optional<QString> TAdvSpinEdit::SteppedText(TStep step) {
  const bool page = step == TStep::PageUp || step == TStep::PageDown;
  const int sign = (step == TStep::Up || step == TStep::PageUp) ? 1 : -1;
  if (FSpinType == sptFloat)
    return FloatText(FloatValue() + sign * (page ? FIncrementFloatPage : FIncrementFloat));
  return IntText(int64_t(Value()) + int64_t(sign) * (page ? FIncrementPage : FIncrement));
}

std::optional<TSpinEditBase::TStep> TAdvSpinEdit::StepOfKey(const QKeyEvent* event) const {
  if (event->key() == Qt::Key_PageUp) return TStep::PageUp;
  if (event->key() == Qt::Key_PageDown) return TStep::PageDown;
  if (IsReturnKey(event->key()) && (event->modifiers() & Qt::ControlModifier)) return TStep::Up;
  return TSpinEditBase::StepOfKey(event);
}

TCharResult TAdvSpinEdit::CheckChar(char32_t ch) const {
  return AdvCharRule(ch, FSpinType, FPrecision, FSigned, EditState(), UserThousandsSeparator());
}

void TAdvSpinEdit::DoExit() {
  if (text().isEmpty()) return;  // an empty field stays empty
  if (FSpinType == sptFloat) {
    SetFloatValue(FloatValue());
    return;
  }
  const int value = Value();
  if (OutsideIntLimits(value, FMinValue, FMaxValue, true)) SetValue(value);
}

void TAdvSpinEdit::SetUserLocale(std::optional<QLocale> locale) {
  UserLocaleOverride() = std::move(locale);
}

QChar TAdvSpinEdit::UserThousandsSeparator() {
  const QLocale locale = UserLocaleOverride().value_or(QLocale::system());
  const QString separator = locale.groupSeparator();
  return separator.size() == 1 ? separator.at(0) : QChar();
}

// ---- TSpinEdit --------------------------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget* parent) : TSpinEditBase(parent) {
  AttachButtons(new TSpinButton(this));
}

int TSpinEdit::Value() const { return ReadSpinValue(text(), FMinValue); }

void TSpinEdit::SetValue(int value) {
  WriteText(SpinIntText(ClampSpinInt(value, FMinValue, FMaxValue)));
}

std::optional<QString> TSpinEdit::SteppedText(TStep step) {
  if (step != TStep::Up && step != TStep::Down) return std::nullopt;
  const int32_t value = AddIntStep(Value(), step == TStep::Up ? FIncrement : -int64_t(FIncrement));
  return SpinIntText(ClampSpinInt(value, FMinValue, FMaxValue));
}

TCharResult TSpinEdit::CheckChar(char32_t ch) const { return SpinCharRule(ch); }

void TSpinEdit::DoExit() {
  const int value = Value();
  if (OutsideIntLimits(value, FMinValue, FMaxValue, false)) SetValue(value);
}

#include "moc_spinedit.cpp"
