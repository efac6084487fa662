#pragma once

#include <QString>

// Whether a file is a parameter file at all, for the commands that write what it holds to a
// board. The window loads any file, a missing key taking its default; a command that writes a
// board's EEPROM refuses a file that is plainly not a parameter file (a picture, a log,
// /proc/self/environ) rather than write fourteen defaults.

// The largest parameter file read: fourteen keys take a few hundred bytes, and a file in
// another hand may carry more sections, but nothing near this.
inline constexpr qint64 kMaxParamFileBytes = 1 << 20;

// Returns "" when fileName is a regular file of at most kMaxParamFileBytes with a section
// "ZIRVParam" holding at least one of the fourteen keys (names matched without regard to
// case, as the file is read), else why not, as a phrase without the file's name. Reads at
// most kMaxParamFileBytes.
QString ParamFileProblem(const QString& fileName);
