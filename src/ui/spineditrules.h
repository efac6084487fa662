#pragma once

// The text rules of the numeric entry fields as plain functions: text in, text, value or
// caret out. The widgets in spinedit.h only translate Qt events into calls of these.

#include <QChar>
#include <QString>
#include <QStringView>
#include <cstdint>

// The working mode of a TAdvSpinEdit: whole numbers or floating-point numbers.
enum TSpinType { sptNormal, sptFloat };

// A selection in a field's text; Length 0 means a plain caret at Start.
struct TSpinSelection {
  int Start = 0;
  int Length = 0;
  friend bool operator==(const TSpinSelection&, const TSpinSelection&) = default;
};

// What a field does with one typed character.
enum class TCharVerdict {
  Accept,  // the character goes into the text (as TCharResult::Char)
  Ignore,  // swallowed without a sound
  Refuse,  // swallowed with the alert sound
};

// The verdict on one typed character (a Unicode code point), the character to insert and
// whether it toggles the sign.
struct TCharResult {
  TCharVerdict Verdict = TCharVerdict::Accept;
  char32_t Char = 0;
  bool ToggleSign = false;
};

// The state of a field's text as the character rules see it: the caret is the selection
// start when something is selected.
struct TSpinEditState {
  QString Text;
  int Caret = 0;
  int SelLength = 0;
};

// Writes an integer in decimal: "-" when negative, no leading zeros, no separators.
QString SpinIntText(int32_t value);

// Writes a double in the fixed format of Precision decimals ("." always), rounded half away
// from zero on its 18-digit decimal form and to at most 15 significant digits. Precision 0
// gives the tool's number text, a negative Precision 4 significant digits.
QString SpinFloatText(double value, int precision);

// Parses a whole 32-bit integer with the tool's integer reader (TryReadInt32): leading spaces,
// optional sign, decimal digits or hexadecimal digits after "$", "x", "X", "0x" or "0X",
// nothing else. Returns false on any failure.
bool TryReadSpinInt(QStringView text, int32_t& value);

// Parses a floating-point text as TryReadNumber does (spaces, sign, digits with at most one
// ".", exponent, spaces); in addition a "." without digits, with optional sign and exponent,
// reads 0 ("-." gives -0). Returns false on any failure, including overflow.
bool TryReadSpinFloat(QStringView text, double& value);

// Reads the integer value of a TAdvSpinEdit: trimmed, empty reads 0, a failure minValue.
int32_t ReadAdvValue(QStringView text, int32_t minValue);

// Reads the floating-point value of a TAdvSpinEdit: empty reads 0, a failure minValue.
double ReadAdvFloatValue(QStringView text, int32_t minValue);

// Reads the value of a TSpinEdit: the untrimmed text, any failure (empty too) reads minValue.
int32_t ReadSpinValue(QStringView text, int32_t minValue);

// Clamps with the integer limits of a TAdvSpinEdit, which are off when both are 0.
int32_t ClampAdvInt(int32_t value, int32_t minValue, int32_t maxValue);

// Clamps with floating-point limits, which are off when both are equal.
double ClampAdvFloat(double value, double minValue, double maxValue);

// Clamps with the limits of a TSpinEdit, which are off when both are equal.
int32_t ClampSpinInt(int32_t value, int32_t minValue, int32_t maxValue);

// Returns whether value lies outside limits that are in force (TAdvSpinEdit: off when both 0;
// TSpinEdit: off when equal, chosen by zeroZeroOff).
bool OutsideIntLimits(int32_t value, int32_t minValue, int32_t maxValue, bool zeroZeroOff);

// Adds a step to an integer, saturating at the ends of the 32-bit range.
int32_t AddIntStep(int32_t value, int64_t step);

// Judges a character typed into a TAdvSpinEdit; thousandsSep is the user's locale separator.
TCharResult AdvCharRule(char32_t ch, TSpinType mode, int precision, bool isSigned,
                        const TSpinEditState& state, QChar thousandsSep);

// Judges a character typed into a TSpinEdit.
TCharResult SpinCharRule(char32_t ch);

// Toggles a leading "-" and moves the caret with it; the selection keeps its length.
TSpinEditState ToggleSign(const TSpinEditState& state);

// Returns the selection after a key step: the one before, fitted into the new text.
TSpinSelection SelectionAfterKeyStep(const QString& after, TSpinSelection before);

// Returns the selection after an arrow-button step: the caret follows a "-" that appeared
// or vanished; when the length changed everything from the caret to the end is selected.
TSpinSelection SelectionAfterButtonStep(const QString& before, const QString& after,
                                        TSpinSelection selection);
