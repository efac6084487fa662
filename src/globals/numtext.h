#pragma once

#include <QString>
#include <QStringView>
#include <cmath>
#include <cstdint>

// Number text as the tool writes it (values sent to the board, status labels, float keys of
// parameter files): rounded to 15 significant digits, "." as decimal point whatever the
// locale, fixed notation for magnitudes 1E-4 up to below 1E15, else "d.dddE-x" (never "+").
// Zero is "0"; an integer value has no point ("95").
QString FormatNumber(double value);

// As FormatNumber, but with as many significant digits as the value needs to read back as the
// same double (at most 17): the text that puts a value read from the board back exactly.
QString ExactNumberText(double value);

// Number text as the tool reads it: optional spaces, optional sign, digits with an optional
// "." and fraction, optional exponent, optional spaces, nothing else. ".5" and "5." are read;
// "inf", "nan", hex floats and separators are not. A value beyond the range of a double is not
// a number. Returns false and leaves value untouched when the text does not have this form.
bool TryReadNumber(QStringView text, double& value);

// As TryReadNumber, but raises EConvertError "'<text>' is not a valid floating point value".
double ReadNumber(QStringView text);

// Reads a 32-bit integer text: optional leading spaces, optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", nothing else (no trailing spaces).
// Decimal values must lie in the 32-bit signed range; hexadecimal ones may use all 32 bits and
// are taken as their two's complement ("$FFFFFFFF" is -1, "-$80000000" the smallest value).
// Returns false and leaves value untouched when the text does not have this form.
bool TryReadInt32(QStringView text, int32_t& value);

// Rounds to the nearest integer, ties to even, as everywhere in the tool (in the current
// rounding mode, which the tool never changes from its default). Inline because the chart's
// pixel mapping calls it for every point.
inline double RoundHalfEven(double value) { return std::nearbyint(value); }

// Rounds to the nearest integer, ties to even, clamped to the 32-bit signed range (a board
// value beyond it becomes the nearest end rather than undefined behaviour); NaN gives 0.
int32_t RoundToInt32(double value);

// Removes leading and trailing characters with codes 0 to 32.
QStringView TrimControls(QStringView text);

// Writes a value in fixed notation with the given decimals ("0.27"), "." whatever the locale,
// as the companion's tables and reports show figures. A magnitude of 1E15 and more, which only
// damaged data holds, is written as FormatNumber writes it ("1.5E300"), so that the text stays
// a few characters long instead of hundreds of digits.
QString FixedNumberText(double value, int decimals);

// Writes a double in fixed notation with the given decimals (1 or more), as a numeric entry
// field shows it: rounded half away from zero on its 18-digit decimal form and to at most 15
// significant digits, "." always, "-" only before a value that does not round to zero. For
// magnitudes below 1E15.
QString FieldFixedText(double value, int precision);
