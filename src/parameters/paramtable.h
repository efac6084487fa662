#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "globals/records.h"

// How a row's value travels between entry field, record, board and file.
enum class TRowClass {
  Float,       // float field, record double, board double, float file key
  MaxOutput,   // integer field compared through its float value with the record double
  FaultError,  // integer field compared with the record double rounded
  Integer      // integer field, record integer (board answer rounded), integer file key
};

// One controller parameter: its caption and entry field on the "Parameters" page, its
// protocol letter and answer tag, its line in the "l" answer, its record field, its file key
// and the configuration of its entry field. Texts are UTF-8 (one unit label holds "°"). The
// entry field's configuration defaults to the one most rows share.
struct TParamRow {
  const char* Caption;    // "P:"
  const char* Unit = "";  // unit label, "" when there is none
  const char* Group;      // framed box on the page
  const char* FieldName;  // entry field, "seParametersP"
  char Letter;            // command letter, 'p'
  const char* Tag;        // answer tag, "(p)"
  int ListLine;           // line of the "l" answer, counting from 0
  double TPIDParams::*DoubleField = nullptr;  // record field when it is a double
  int32_t TPIDParams::*IntField = nullptr;    // record field when it is an integer
  const char* FileKey;     // key in the parameter file
  bool FileFloat;          // written with the number text (true) or as an integer
  double FileDefault = 0;  // value when the file lacks the key or it is malformed
  // Entry field configuration.
  bool FloatMode = false;           // float mode (true) or integer mode
  int Precision = 7;                // decimals
  int Increment = 1;                // integer arrow step
  int IncrementPage = 10;           // integer page step
  double IncrementFloat = 0.00001;  // float arrow step: the double nearest to 10^-5
  double IncrementFloatPage = 1.0;  // float page step
  int MinValue = 0;                 // limits; 0, 0 means none
  int MaxValue = 0;
  int InitialValue = 0;             // value the field starts with
  TRowClass Class;
};

// The number of the board's servo-loop parameters: the rows of ParamTable().
inline constexpr size_t kParamCount = 14;

// Returns the fourteen parameters in their fixed order (writing, saving, loading).
const std::array<TParamRow, kParamCount>& ParamTable();

// Returns the row's place in ParamTable(), counting from 0.
inline size_t RowIndex(const TParamRow& row) { return size_t(&row - ParamTable().data()); }

// Returns the place in ParamTable() of the row with the file key ("FF0"), kParamCount when no
// row has it.
size_t RowIndexOf(std::string_view fileKey);

// Returns the record's value for row as a double (an integer field converted exactly).
double RecordValue(const TPIDParams& params, const TParamRow& row);

// Stores a board answer in the record: double fields take it as parsed, integer fields take
// it rounded half-even and clamped to the 32-bit range.
void StoreAnswer(TPIDParams& params, const TParamRow& row, double answer);

// Returns whether value differs from the board's value of row, as the "Parameters" page marks
// a field changed: the float rows and "Max Output (m):" exactly, the other integer rows and
// "Fault Error (f):" after rounding both to the nearest integer. value is what the row sends
// to the board (a field's FloatValue for the float rows, its Value for the integer rows).
bool ValueDiffers(const TParamRow& row, double value, const TPIDParams& board);

// Returns the value the row's entry field holds after showing value: a float field (and
// "Deadband (b):", shown through its float value) the value of its text of Precision decimals,
// an integer field the value rounded half-even. A value the companion writes is one of these,
// so that a Read in the window finds every field equal to the board's value.
double FieldShownValue(const TParamRow& row, double value);

// The range within which the board keeps a row's value, as far as it is known.
struct TBoardRange {
  double Min;
  double Max;
};

// Returns the range the board keeps a row's value in, where it is known: "Max Output (m):" is a
// share of the drive, 0 to 100 %; "Deadband (b):" and "Fault Error (f):" count encoder pulses,
// never below 0; the BLDC rows with limited entry fields keep to those limits. Nothing for the
// other rows: what the board does with their values is not known.
std::optional<TBoardRange> BoardRange(const TParamRow& row);

// Returns whether held, the value the board answered it holds after sent was sent, is the
// row's known limit that sent lies beyond: the board limited the value, as it may.
bool LimitedByBoard(const TParamRow& row, double sent, double held);
