#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "globals/records.h"

class TLineChannel;
struct TParamRow;

// What one parameter write sent and what the board answered it holds.
struct TParamWrite {
  const TParamRow* Row;
  double Sent;
  double Echoed;
};

// Writes parameters to the board in the parameter table's order: for each row that
// valueToSend gives a value for, SetBoardValue with the row's letter and tag, then the board's
// answer goes into board (doubles as parsed, integers rounded), and onWritten, when given, is
// told. Stops at the first write that fails and returns false: the rows before it stay written
// and stored. Returns true when every write succeeded (also when there was nothing to write).
// Values are sent as FormatNumber writes them, or as textOf does when it is given.
bool WriteParameterRows(TLineChannel& channel, TPIDParams& board,
                        const std::function<std::optional<double>(const TParamRow&)>& valueToSend,
                        const std::function<void(const TParamWrite&)>& onWritten = {},
                        QString (*textOf)(double) = nullptr);
