#pragma once

#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "globals/records.h"
#include "parameters/paramfile.h"
#include "protocol/paramwrite.h"

class TBoardLink;
class TLineChannel;
struct TParamRow;

// A parameter set to put on the board: one value per row of the parameter table, as the set
// command sends it.
using TParamValues = std::array<double, 14>;

// Returns the values a parameter file puts on the board: float keys as read, integer keys as
// integers, limited as the tool's entry fields limit them when the file is loaded.
TParamValues ParamValuesFromFile(const TParamFileValues& file);

// Returns the record's values (to put a record back on the board exactly).
TParamValues ParamValuesOf(const TPIDParams& params);

// Returns whether value differs from the board's value of row, compared as the tool marks a
// field changed: exactly for the float rows and "Max Output (m):", after rounding for the
// integer rows and "Fault Error (f):".
bool RowDiffers(const TParamRow& row, double value, const TPIDParams& board);

// One write a parameter set needs: the row, the board's value and the value to send.
struct TPlannedWrite {
  const TParamRow* Row;
  double From;
  double To;
};

// Returns the writes that would put target on a board holding board, in table order.
std::vector<TPlannedWrite> PlanWrites(const TPIDParams& board, const TParamValues& target);

// Writes the rows of target that differ from board, in table order, with the tool's set
// commands and answer checks; board takes each answer. Returns false at the first failed
// write (the rows before it are written). Errors the port raises pass through.
bool WriteParamValues(TLineChannel& channel, TPIDParams& board, const TParamValues& target,
                      const std::function<void(const TParamWrite&)>& onWritten = {});

// Puts original back on the board: writes every row where board (the board's values as last
// known) differs from it, then reads the parameters again and checks each row. A failed
// attempt is tried again, up to three in all, after reading what the board holds, unless the
// device is gone. Returns false with the last reason in failure when every attempt failed (a
// write, the read or a row that does not match). board ends as the board's values last read
// or written.
bool RestoreParameters(TBoardLink& link, TPIDParams& board, const TPIDParams& original,
                       QString& failure);

// Returns "P 0.2 -> 0.3" style text of a write: the row's file key, from, to.
QString DescribeWrite(const TPlannedWrite& write);
