#pragma once

// The numeric entry fields: a one-line text box with an arrow-button pair in its right end.
// The text is the value: reading a value parses the text, writing one formats the text.

#include <QLineEdit>
#include <QLocale>
#include <functional>
#include <optional>

#include "globals/colors.h"
#include "ui/spineditbuttons.h"
#include "ui/spineditrules.h"

// What both numeric entry fields share: the text with its change notification, the text
// colour, the steps by keys and arrow buttons, the typed-character filter, entering and leaving.
class TSpinEditBase : public QLineEdit {
  Q_OBJECT
 public:
  // Returns the field's text, the only store of its value.
  QString Text() const { return text(); }
  // Writes the text as given (no limits); OnChange follows when it differs.
  void SetText(const QString& text);

  // Returns the text colour last written, or the window's text colour before the first write.
  TColor FontColor() const;
  // Recolours the text at once; the arrow buttons and background keep theirs. No OnChange.
  void SetFontColor(TColor color);

  // Ends window building; from then on each change of the text raises OnChange.
  virtual void Loaded();

  // Returns the arrow-button pair (for tests that press it).
  TSpinButton* Buttons() const { return FButtons; }

  // Replaces the alert sound of refused keys (tests count it); an empty function restores it.
  static void SetAlertSound(std::function<void()> sound);

 signals:
  // Raised with the field as sender after each change of its text, once the window is built.
  void OnChange(QObject* Sender);

 protected:
  // The kinds of step a key or an arrow button can ask for.
  enum class TStep { Up, Down, PageUp, PageDown };

  // Creates the field with the text "0"; the derived kind attaches its button pair.
  explicit TSpinEditBase(QWidget* parent);
  // Takes the arrow-button pair (a child of this field) and connects its steps.
  void AttachButtons(TSpinButton* buttons);

  // Writes a text and sets the selection (caret at its start or end); OnChange follows,
  // after the selection is set, when the text differs.
  void WriteText(const QString& text, std::optional<TSpinSelection> selection = std::nullopt,
                 bool caretAtStart = false);
  // Returns the text a step gives, or nothing when this kind has no such step.
  virtual std::optional<QString> SteppedText(TStep step) = 0;
  // Returns the step a key asks for, if any (Up and Down here).
  virtual std::optional<TStep> StepOfKey(const QKeyEvent* event) const;
  // Judges one typed character (a Unicode code point).
  virtual TCharResult CheckChar(char32_t ch) const = 0;
  // Rewrites the text as leaving the field requires.
  virtual void DoExit() = 0;
  // Returns the character-rule view of the current text and selection.
  TSpinEditState EditState() const;
  // Returns whether window building is over.
  bool IsLoaded() const { return FLoaded; }
  // Plays the alert sound.
  static void Alert();

  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void Step(TStep step, bool byButton);
  void TypeChar(QKeyEvent* event);
  void TypeText(QStringView text);
  std::optional<char32_t> Judge(char32_t ch);
  void WatchFocusAfterMenu();
  void FocusMoved(QWidget* now);
  TSpinSelection CurrentSelection() const;
  void ApplySelection(TSpinSelection selection, bool caretAtStart);
  void TextEdited();
  void ButtonPressed();

  TSpinButton* FButtons = nullptr;
  bool FLoaded = false;
  int FWriting = 0;
  bool FMouseFocusPending = false;  // focus came with a press not yet seen by text or buttons
  QMetaObject::Connection FFocusWatch;  // follows the focus while a menu or popup holds it
  std::optional<std::pair<TSpinSelection, bool>> FSelectionBeforeMenu;  // and caret at start
  std::optional<TColor> FFontColor;
};

// The field for the controller parameters, in integer mode (sptNormal) or floating-point
// mode (sptFloat).
class TAdvSpinEdit : public TSpinEditBase {
  Q_OBJECT
 public:
  // Creates a field with the text "0"; building (no OnChange) lasts until Loaded().
  explicit TAdvSpinEdit(QWidget* parent = nullptr);

  // Sets the mode: integer (sptNormal) or floating-point (sptFloat).
  void SetSpinType(TSpinType type) { FSpinType = type; }
  TSpinType SpinType() const { return FSpinType; }
  // Sets the decimals written by SetFloatValue and the typed-decimals limit of float mode.
  void SetPrecision(int precision) { FPrecision = precision; }
  int Precision() const { return FPrecision; }
  // Sets the integer-mode steps of the arrows and of the page keys.
  void SetIncrement(int increment) { FIncrement = increment; }
  void SetIncrementPage(int increment) { FIncrementPage = increment; }
  // Sets the float-mode steps of the arrows and of the page keys.
  void SetIncrementFloat(double increment) { FIncrementFloat = increment; }
  void SetIncrementFloatPage(double increment) { FIncrementFloatPage = increment; }
  // Sets the integer limits (off when both are 0); MinValue is also the failed-parse value.
  void SetMinValue(int value) { FMinValue = value; }
  void SetMaxValue(int value) { FMaxValue = value; }
  int MinValue() const { return FMinValue; }
  int MaxValue() const { return FMaxValue; }
  // Sets the floating-point limits (off when both are equal).
  void SetMinFloatValue(double value) { FMinFloatValue = value; }
  void SetMaxFloatValue(double value) { FMaxFloatValue = value; }
  // Sets whether the minus key toggles the sign (off on every field of the tool).
  void SetSigned(bool isSigned) { FSigned = isSigned; }

  // Returns the integer value of the text: empty reads 0, unparsable MinValue, no limits.
  int Value() const;
  // Writes the value, limited, in decimal; OnChange follows when the text changed.
  void SetValue(int value);
  // Returns the floating-point value of the text: empty reads 0, unparsable MinValue.
  double FloatValue() const;
  // Writes the value, limited, with Precision decimals; OnChange follows on a change.
  void SetFloatValue(double value);

  // Rewrites the text once through the mode, then ends building.
  void Loaded() override;

  // Overrides the user's locale whose thousands separator float mode takes as "." (tests);
  // nothing restores the system locale.
  static void SetUserLocale(std::optional<QLocale> locale);
  // Returns the thousands separator of the user's locale, or a null character.
  static QChar UserThousandsSeparator();

 protected:
  std::optional<QString> SteppedText(TStep step) override;
  std::optional<TStep> StepOfKey(const QKeyEvent* event) const override;
  TCharResult CheckChar(char32_t ch) const override;
  void DoExit() override;

 private:
  QString IntText(int64_t value) const;
  QString FloatText(double value) const;

  TSpinType FSpinType = sptNormal;
  int FPrecision = 0;
  int FIncrement = 1;
  int FIncrementPage = 10;
  double FIncrementFloat = 0.1;
  double FIncrementFloatPage = 1.0;
  int FMinValue = 0;
  int FMaxValue = 0;
  double FMinFloatValue = 0;
  double FMaxFloatValue = 0;
  bool FSigned = false;
};

// The whole-number field of the monitor tab: arrow steps only, limits off when equal.
class TSpinEdit : public TSpinEditBase {
  Q_OBJECT
 public:
  // Creates a field with the text "0"; building (no OnChange) lasts until Loaded().
  explicit TSpinEdit(QWidget* parent = nullptr);

  // Sets the step of the arrow keys and buttons.
  void SetIncrement(int increment) { FIncrement = increment; }
  // Sets the limits (off when equal); MinValue is also the failed-parse value.
  void SetMinValue(int value) { FMinValue = value; }
  void SetMaxValue(int value) { FMaxValue = value; }
  int MinValue() const { return FMinValue; }
  int MaxValue() const { return FMaxValue; }

  // Returns the value of the text; any failure (an empty text too) reads MinValue.
  int Value() const;
  // Writes the value, limited, in decimal; OnChange follows when the text changed.
  void SetValue(int value);

 protected:
  std::optional<QString> SteppedText(TStep step) override;
  TCharResult CheckChar(char32_t ch) const override;
  void DoExit() override;

 private:
  int FIncrement = 1;
  int FMinValue = 0;
  int FMaxValue = 0;
};
