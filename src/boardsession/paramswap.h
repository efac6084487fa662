#pragma once

#include <QString>
#include <array>
#include <vector>

#include "globals/records.h"
#include "parameters/paramfile.h"
#include "parameters/paramtable.h"

struct TParamRow;

// How a value goes to the board as text.
enum class TValueText {
  Shown,  // as the window's fields send it (FormatNumber): values from a file, or chosen by the tool
  Exact   // with every digit it needs to read back the same (ExactNumberText): values the board
          // gave, going back to it
};

// Returns the value's text as it goes to the board.
QString ValueTextOf(double value, TValueText text);

// A parameter set to put on the board: one value per row of the parameter table, as the set
// command sends it.
using TParamValues = std::array<double, kParamCount>;

// Returns the values a parameter file puts on the board: float keys as read, integer keys as
// integers, limited as the tool's entry fields limit them when the file is loaded.
TParamValues ParamValuesFromFile(const TParamFileValues& file);

// Returns the record's values (to put a record back on the board exactly).
TParamValues ParamValuesOf(const TPIDParams& params);

// One write a parameter set needs: the row, the board's value and the value to send.
struct TPlannedWrite {
  const TParamRow* Row;
  double From;
  double To;
};

// Returns the writes that would put target on a board holding board, in table order.
std::vector<TPlannedWrite> PlanWrites(const TPIDParams& board, const TParamValues& target);

// Returns "P 0.2 -> 0.3" style text of a write: the row's file key, from, to; the value sent
// as it goes to the board.
QString DescribeWrite(const TPlannedWrite& write, TValueText text = TValueText::Shown);

// Returns the writes on one line, as plans are shown and journaled: "P 0.2 -> 0.3, D 0.0015 ->
// 0.002"; "" when there are none.
QString DescribeWrites(const std::vector<TPlannedWrite>& writes, TValueText text = TValueText::Shown);
