#pragma once

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>

// The section of a parameter file that holds the fourteen keys.
inline constexpr const char* kParamSection = "ZIRVParam";

// One parameter's value as a file holds it: float keys carry Float, integer keys carry Int.
struct TParamFileValue {
  bool IsFloat = false;
  double Float = 0;
  int32_t Int = 0;
};

// The fourteen values in the order of the parameter table.
using TParamFileValues = std::array<TParamFileValue, 14>;

// Returns the values a file without any of the keys loads as (the table's file defaults).
TParamFileValues DefaultParamFileValues();

// Writes the fourteen keys into the section "ZIRVParam" of fileName, keeping every other
// line of an existing file. Each key's kind follows the parameter table. The new file
// replaces the old one as a whole; raises Exception "Unable to write to <file>" on failure,
// leaving the old file as it was.
void WriteParamFile(const QString& fileName, const TParamFileValues& values);

// Reads the fourteen keys of fileName; a missing file, section or key and a malformed value
// each give that key's default. Never raises for the file's content.
TParamFileValues ReadParamFile(const QString& fileName);

// Returns the text a float key is written with: the tool's number text.
QString FloatKeyText(double value);

// Returns the text an integer key is written with: decimal, "-" when negative.
QString IntKeyText(int32_t value);

// Reads a float key's value text (number text with "." as decimal point). Returns false,
// leaving value untouched, for empty or malformed text and for magnitudes beyond a double.
bool ReadFloatKey(QStringView text, double& value);

// Reads an integer key's value text: optional leading spaces, optional sign, then decimal
// digits or hexadecimal digits after "$", "x", "X", "0x" or "0X", nothing else. Decimal
// values must lie in the 32-bit signed range; hexadecimal ones may use all 32 bits and are
// taken as their two's complement ("$FFFFFFFF" is -1). Returns false, leaving value
// untouched, for anything else.
bool ReadIntKey(QStringView text, int32_t& value);
