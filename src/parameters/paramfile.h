#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>

#include "globals/result.h"
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

// Returns the bytes WriteParamFile would write into a file that holds old ("" for a new one):
// old with the fourteen keys set, every other line kept.
QByteArray ParamFileContent(const QString& fileName, const QByteArray& old, const TParamFileValues& values);

// The largest parameter file read strictly: fourteen keys take a few hundred bytes, and a file
// in another hand may carry more sections, but nothing near this.
inline constexpr qint64 kMaxParamFileBytes = 1 << 20;

// Reads the fourteen keys of fileName for a program that writes them to a board, where a
// default the file does not give must never go. Reads the value texts ReadParamFile reads, and
// refuses every case where ReadParamFile would load a default or pass over a line: a value that
// is no number (a note after it, a decimal comma) or is empty, a missing key, a key twice (in
// any letter case), the section twice. Refuses as well a missing file, one that is not a
// regular file or larger than kMaxParamFileBytes (read no further), and one without a section
// "ZIRVParam" holding any of the keys ("not a parameter file"). The failure's message names the
// file, and the line and the key where there are such ("a.pset:5: MaxOutput: ..."); its
// explanation says what the window would load instead and how to mend the file.
TResult<TParamFileValues> ReadParamFileStrictly(const QString& fileName);

// Reads an integer key's value text with the tool's 32-bit integer reader (TryReadInt32):
// decimal in the signed range or hexadecimal after "$", "x", "X", "0x" or "0X" as a 32-bit
// pattern. Returns false, leaving value untouched, for anything else.
bool ReadIntKey(QStringView text, int32_t& value);
