#pragma once

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>

#include "parameters/paramtable.h"

// The section of a parameter file that holds the fourteen keys.
inline constexpr const char* kParamSection = "ZIRVParam";

// One parameter's value as a file holds it: float keys carry Float, integer keys carry Int.
struct TParamFileValue {
  double Float = 0;
  int32_t Int = 0;
};

// The fourteen values in the order of the parameter table.
using TParamFileValues = std::array<TParamFileValue, kParamCount>;

// Returns the values a file without any of the keys loads as (the table's file defaults).
TParamFileValues DefaultParamFileValues();

// Writes the fourteen keys into the section "ZIRVParam" of fileName, keeping every other
// line of an existing file. Each key's kind follows the parameter table. The new content
// replaces the old as a whole (SaveFileContent); raises Exception "Unable to write to <file>"
// on failure, leaving the old file as it was.
void WriteParamFile(const QString& fileName, const TParamFileValues& values);

// Reads the fourteen keys of fileName; a missing file, section or key and a malformed value
// each give that key's default. Never raises for the file's content.
TParamFileValues ReadParamFile(const QString& fileName);

class TProfileFile;
// Reads the fourteen keys of an open profile as ReadParamFile reads them from a file.
TParamFileValues ReadParamValues(TProfileFile& file);

// Reads an integer key's value text with the tool's 32-bit integer reader (TryReadInt32):
// decimal in the signed range or hexadecimal after "$", "x", "X", "0x" or "0X" as a 32-bit
// pattern. Returns false, leaving value untouched, for anything else.
bool ReadIntKey(QStringView text, int32_t& value);
