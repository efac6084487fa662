#pragma once

#include <QString>

// Checks that an answer line of the board holds tag and takes the number that ends it.
// The tag is only tested for presence (exact, case-sensitive substring). The number is the
// trailing run of digits, signs and points, scanned backwards from the position given by the
// trimmed length of the line, in the untrimmed line (raw lines may start with LF and end with
// CR). Returns false, leaving value untouched, when the tag is absent or no such run exists.
// A run that is not a number raises EConvertError "'<text>' is not a valid floating point
// value"; so does a number too large for a double.
bool ParseTaggedValue(const QString& line, const QString& tag, double& value);
