#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

// JSON text with one rule for every number: the shortest text that reads back as the same
// double, laid out as the tool's tables write numbers (plain decimal from 0.0001 to below
// 1E15, "1E-5" beyond), so that a value reads the same in a table and in JSON and survives a
// trip through any JSON reader exactly.

// Returns the JSON text of a number by that rule; "null" for NaN and the infinities, which
// JSON cannot write.
QString JsonNumberText(double value);

// Returns the text of a JSON value, UTF-8, as a document of the companion prints it: objects
// one key a line (in key order) indented by four spaces, arrays of numbers, texts and the like
// on one line, other arrays one element a line; a line end after the last line.
QByteArray JsonText(const QJsonValue& value);
