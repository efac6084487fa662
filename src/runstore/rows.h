#pragma once

// The history's rows as the store reads and writes them through SQLite directly: the columns
// of each table, in the order the statements name them, and the readers of both layouts the
// store meets (version 5's columns, and the packed values of versions 3 and 4).

#include <QString>
#include <QVariant>
#include <optional>
#include <sqlite3.h>

#include "runstore/runstore.h"

// The fourteen parameter columns, named as the parameter file's keys, in the parameter
// table's order. Literals, so that the statements built of them are literals.
#define ZIRV_PARAM_COLUMNS                                                                    \
  "P, I, D, Deadband, MaxOutput, FF0, FF1, FaultError, StepMultiplier, TPSC, HallTimeout,"     \
  " ChargeElcos, PhaseAdvance, SVMCycle"
#define ZIRV_PARAM_VALUES "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?"

// A run's columns before its parameters.
#define ZIRV_RUN_COLUMNS                                                                      \
  "id, time, time_ms, port, label, step, prediv, sample_count, rise_samples, overshoot_pct,"   \
  " peak_sample, settling_samples, steady_state_error, iae, peak_output, saturated,"           \
  " rest_output_pp_pct, rest_error_pp"
inline constexpr int kRunParamsColumn = 18;

// A journal entry's columns before the board's values, and version 4's, which had neither
// kind nor device.
#define ZIRV_JOURNAL_COLUMNS \
  "id, kind, time, time_ms, port, device, command, planned, finished_ms, outcome"
#define ZIRV_V4_JOURNAL_COLUMNS \
  "id, 'write', time, time_ms, port, NULL, command, planned, finished_ms, outcome"
inline constexpr int kJournalBoardColumn = 10;

// A trial's columns before its gains.
#define ZIRV_TRIAL_COLUMNS \
  "id, journal_id, number, forward_run, reverse_run, rest_run, verdict, cost, dangerous"
inline constexpr int kTrialGainsColumn = 9;

// Where a row keeps its fourteen values: a column each (version 5), or one blob of
// little-endian doubles in the parameter table's order (versions 1 to 4).
enum class TParamLayout { Columns, Packed };

// The row a reading statement stands on. Its values are what Qt's SQLite layer would give,
// so that a value of any type another program stored reads the same either way: an integer
// as qint64, a real as double, a blob as bytes, NULL as null, anything else as text.
class TRow {
 public:
  explicit TRow(sqlite3_stmt* statement) : FStatement(statement) {}
  QVariant Value(int column) const;
  // The value as a number, as Value(column).toDouble() gives it (NULL as 0), without the
  // detour through a variant for the numbers that columns of numbers hold.
  double Number(int column) const;
  // The fourteen values from column on, in the layout given.
  TPIDParams Params(int column, TParamLayout layout) const;

 private:
  sqlite3_stmt* FStatement;
};

// Runs the statement and hands each row to read, then resets it so that it holds no read
// transaction. Returns false (the statement reset too) when SQLite fails.
template <class F>
bool ReadRows(sqlite3_stmt* statement, F read) {
  int code;
  while ((code = sqlite3_step(statement)) == SQLITE_ROW) read(TRow(statement));
  sqlite3_reset(statement);
  return code == SQLITE_DONE;
}

// Binds text; an empty text as '' rather than NULL (Qt binds a null QString as NULL).
void BindText(sqlite3_stmt* statement, int index, const QString& text);
// Binds text, and an empty text as NULL.
void BindTextOrNull(sqlite3_stmt* statement, int index, const QString& text);
void BindOptional(sqlite3_stmt* statement, int index, const std::optional<double>& value);
void BindOptional(sqlite3_stmt* statement, int index, const std::optional<int>& value);
// Binds the fourteen values from index on: doubles as reals, bit for bit, and the integer
// parameters as integers.
void BindParams(sqlite3_stmt* statement, int index, const TPIDParams& params);

// Reads the columns of ZIRV_RUN_COLUMNS (in that order), then the parameters.
TRunListing ReadRunRow(const TRow& row, TParamLayout layout);
// Reads the columns of ZIRV_JOURNAL_COLUMNS (in that order), then the board's values.
TJournalEntry ReadJournalRow(const TRow& row, TParamLayout layout);
// Reads the columns of ZIRV_TRIAL_COLUMNS (in that order), then the gains.
TTrial ReadTrialRow(const TRow& row);

// Appends the samples packed in a blob of versions 1 to 4: pairs of little-endian doubles,
// error then output; a blob's odd end is left out.
void UnpackSamples(const QByteArray& blob, TStepRun& run);

// Returns the time of sample idx in seconds from the step: idx x TPSC x (prediv + 1) / 10000
// (each servo cycle TPSC x 100 us); empty when the run's TPSC is not positive.
std::optional<double> SampleSeconds(const TStepRun& run, int idx);

// Gives a run stored before the rest figures existed the rest figures of its samples.
void FillRestFigures(TStepRun& run);
