// The history's schema, version by version, and the conversion of version 4's packed values.
#include "runstore/rows.h"

namespace {

// The fourteen parameter columns of version 5's tables. The double parameters have no
// declared type: a column of type REAL would keep -0 as 0, and every value is kept bit for
// bit (SQLite stores a double as a real either way).
#define ZIRV_PARAM_SCHEMA                                                                     \
  " P /* double */, I /* double */, D /* double */, Deadband /* double */,"                    \
  " MaxOutput /* double */, FF0 /* double */, FF1 /* double */, FaultError /* double */,"      \
  " StepMultiplier INTEGER, TPSC INTEGER, HallTimeout INTEGER, ChargeElcos INTEGER,"           \
  " PhaseAdvance INTEGER, SVMCycle INTEGER"

// Runs a statement that returns no rows and resets it.
bool Done(sqlite3_stmt* statement) {
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  return done;
}

// A statement finalized when it goes out of scope.
class TScopedStatement {
 public:
  TScopedStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &FHandle, nullptr); }
  ~TScopedStatement() { sqlite3_finalize(FHandle); }
  TScopedStatement(const TScopedStatement&) = delete;
  TScopedStatement& operator=(const TScopedStatement&) = delete;
  sqlite3_stmt* Handle() const { return FHandle; }

 private:
  sqlite3_stmt* FHandle = nullptr;
};

// Copies version 4's runs (read as version 4 read them) into version 5's tables: the columns
// as they are, the parameters and samples decoded, each sample with its time. A run stored
// before the rest figures existed gets them from its samples, as loading it always gave them.
bool ConvertRuns(sqlite3* db) {
  const TScopedStatement read(db, "SELECT " ZIRV_RUN_COLUMNS ", params, s.samples FROM v4_runs"
                                  " LEFT JOIN v4_run_samples s ON s.run_id = id ORDER BY id");
  const TScopedStatement copy(
      db, "INSERT INTO runs (" ZIRV_RUN_COLUMNS ", " ZIRV_PARAM_COLUMNS ")"
          " SELECT id, time, time_ms, port, label, step, prediv, sample_count, rise_samples,"
          " overshoot_pct, peak_sample, settling_samples, steady_state_error, iae, peak_output,"
          " saturated, ?, ?, " ZIRV_PARAM_VALUES " FROM v4_runs WHERE id = ?");
  const TScopedStatement sample(db, "INSERT INTO samples (run_id, idx, time, error, output)"
                                    " VALUES (?, ?, ?, ?, ?)");
  if (!read.Handle() || !copy.Handle() || !sample.Handle()) return false;
  bool ok = true;
  const bool readAll = ReadRows(read.Handle(), [&](const TRow& row) {
    if (!ok) return;
    TStepRun run = ReadRunRow(row, TParamLayout::Packed).Run;
    UnpackSamples(row.Value(kRunParamsColumn + 1).toByteArray(), run);
    FillRestFigures(run);
    const qint64 id = row.Value(0).toLongLong();
    BindOptional(copy.Handle(), 1, run.Figures.RestOutputPpPct);
    BindOptional(copy.Handle(), 2, run.Figures.RestErrorPp);
    BindParams(copy.Handle(), 3, run.Params);
    sqlite3_bind_int64(copy.Handle(), 17, id);
    ok = Done(copy.Handle());
    sqlite3_bind_int64(sample.Handle(), 1, id);
    for (size_t k = 0; ok && k < run.Errors.size(); ++k) {
      sqlite3_bind_int64(sample.Handle(), 2, qint64(k));
      BindOptional(sample.Handle(), 3, SampleSeconds(run, int(k)));
      sqlite3_bind_double(sample.Handle(), 4, run.Errors[k]);
      sqlite3_bind_double(sample.Handle(), 5, run.Outputs[k]);
      ok = Done(sample.Handle());
    }
  });
  return ok && readAll;
}

// Copies version 4's journal into version 5's: every entry was a write, begun where the
// device was not recorded.
bool ConvertJournal(sqlite3* db) {
  const TScopedStatement read(db, "SELECT " ZIRV_V4_JOURNAL_COLUMNS ", board FROM v4_journal");
  const TScopedStatement copy(
      db, "INSERT INTO journal (" ZIRV_JOURNAL_COLUMNS ", " ZIRV_PARAM_COLUMNS ")"
          " SELECT " ZIRV_V4_JOURNAL_COLUMNS ", " ZIRV_PARAM_VALUES " FROM v4_journal WHERE id = ?");
  if (!read.Handle() || !copy.Handle()) return false;
  bool ok = true;
  const bool readAll = ReadRows(read.Handle(), [&](const TRow& row) {
    if (!ok) return;
    BindParams(copy.Handle(), 1, ReadJournalRow(row, TParamLayout::Packed).Board);
    sqlite3_bind_int64(copy.Handle(), 15, row.Value(0).toLongLong());
    ok = Done(copy.Handle());
  });
  return ok && readAll;
}

bool ConvertPackedValues(sqlite3* db) { return ConvertRuns(db) && ConvertJournal(db); }

const std::vector<std::vector<TMigrationStatement>> kMigrations = {
    // Version 1: one row per run with its figures in columns and its fourteen parameters
    // packed into a blob (little-endian doubles in the parameter table's order), so that
    // listing the history reads a compact table with few columns; the samples, packed the
    // same way, in a table of their own.
    {{"CREATE TABLE runs ("
      " id INTEGER PRIMARY KEY,"
      " time TEXT NOT NULL,"
      " port TEXT NOT NULL,"
      " label TEXT NOT NULL,"
      " step INTEGER NOT NULL,"
      " prediv INTEGER NOT NULL,"
      " sample_count INTEGER NOT NULL,"
      " rise_samples REAL,"
      " overshoot_pct REAL NOT NULL,"
      " peak_sample INTEGER NOT NULL,"
      " settling_samples INTEGER,"
      " steady_state_error REAL NOT NULL,"
      " iae REAL NOT NULL,"
      " peak_output REAL NOT NULL,"
      " saturated INTEGER NOT NULL,"
      " params BLOB NOT NULL)"},
     {"CREATE TABLE run_samples ("
      " run_id INTEGER PRIMARY KEY REFERENCES runs(id),"
      " samples BLOB NOT NULL)"}},
    // Version 2: the time as UTC milliseconds, so that the history keeps the order in which
    // runs were made across changes of the UTC offset (daylight saving), which the local time
    // text does not.
    {{"ALTER TABLE runs ADD COLUMN time_ms INTEGER"},
     {"UPDATE runs SET time_ms ="
      " CAST(round((julianday(time) - 2440587.5) * 86400000.0) AS INTEGER)"},
     {"CREATE INDEX runs_by_time ON runs(time_ms, id)"}},
    // Version 3: how quietly the loop rests after each run (peak-to-peak of output and error
    // over the settled tail); empty for older runs until they are read with their samples.
    {{"ALTER TABLE runs ADD COLUMN rest_output_pp_pct REAL"},
     {"ALTER TABLE runs ADD COLUMN rest_error_pp REAL"}},
    // Version 4: the journal of what a board held before each EEPROM write of the companion,
    // packed as the runs' parameters are; finished_ms stays empty until the board was put back
    // or the change was meant to stay, and the unfinished entries of a port are found by index.
    {{"CREATE TABLE journal ("
      " id INTEGER PRIMARY KEY,"
      " time TEXT NOT NULL,"
      " time_ms INTEGER NOT NULL,"
      " port TEXT NOT NULL,"
      " command TEXT NOT NULL,"
      " board BLOB NOT NULL,"
      " planned TEXT NOT NULL,"
      " finished_ms INTEGER,"
      " outcome TEXT)"},
     {"CREATE INDEX journal_unfinished ON journal(port) WHERE finished_ms IS NULL"}},
    // Version 5: every value in a column of its own, so that plain SQL reads the history: the
    // parameters under the parameter file's keys, each sample a row with its time in seconds
    // from the step. The journal knows the device a port led to (a port's spelling changes,
    // the device does not) and what its entry was for (a write, or a move of the test
    // oscillator). The trials of a tuning search, one journaled write, each with its gains,
    // runs and verdict. The tables of version 4 are renamed, copied and dropped.
    {{"DROP INDEX runs_by_time"},
     {"DROP INDEX journal_unfinished"},
     {"ALTER TABLE runs RENAME TO v4_runs"},
     {"ALTER TABLE run_samples RENAME TO v4_run_samples"},
     {"ALTER TABLE journal RENAME TO v4_journal"},
     {"CREATE TABLE runs ("
      " id INTEGER PRIMARY KEY,"
      " time TEXT NOT NULL,"
      " time_ms INTEGER,"
      " port TEXT NOT NULL,"
      " label TEXT NOT NULL,"
      " step INTEGER NOT NULL,"
      " prediv INTEGER NOT NULL,"
      " sample_count INTEGER NOT NULL,"
      " rise_samples REAL,"
      " overshoot_pct REAL NOT NULL,"
      " peak_sample INTEGER NOT NULL,"
      " settling_samples INTEGER,"
      " steady_state_error REAL NOT NULL,"
      " iae REAL NOT NULL,"
      " peak_output REAL NOT NULL,"
      " saturated INTEGER NOT NULL,"
      " rest_output_pp_pct REAL,"
      " rest_error_pp REAL," ZIRV_PARAM_SCHEMA ")"},
     {"CREATE INDEX runs_by_time ON runs(time_ms, id)"},
     {"CREATE TABLE samples ("
      " run_id INTEGER NOT NULL REFERENCES runs(id),"
      " idx INTEGER NOT NULL,"
      " time REAL,"
      " error /* double */,"
      " output /* double */,"
      " PRIMARY KEY (run_id, idx)) WITHOUT ROWID"},
     {"CREATE TABLE journal ("
      " id INTEGER PRIMARY KEY,"
      " kind TEXT NOT NULL,"
      " time TEXT NOT NULL,"
      " time_ms INTEGER NOT NULL,"
      " port TEXT NOT NULL,"
      " device TEXT,"
      " command TEXT NOT NULL,"
      " planned TEXT NOT NULL,"
      " finished_ms INTEGER,"
      " outcome TEXT," ZIRV_PARAM_SCHEMA ")"},
     {"CREATE INDEX journal_unfinished ON journal(device, port) WHERE finished_ms IS NULL"},
     {"CREATE TABLE trials ("
      " id INTEGER PRIMARY KEY,"
      " journal_id INTEGER NOT NULL REFERENCES journal(id),"
      " number INTEGER NOT NULL,"
      " forward_run INTEGER REFERENCES runs(id),"
      " reverse_run INTEGER REFERENCES runs(id),"
      " rest_run INTEGER REFERENCES runs(id),"
      " verdict TEXT NOT NULL,"
      " cost REAL,"
      " dangerous INTEGER NOT NULL," ZIRV_PARAM_SCHEMA ","
      " UNIQUE (journal_id, number))"},
     {nullptr, ConvertPackedValues},
     {"DROP TABLE v4_run_samples"},
     {"DROP TABLE v4_runs"},
     {"DROP TABLE v4_journal"}},
};

}  // namespace

const std::vector<std::vector<TMigrationStatement>>& RunStoreMigrations() { return kMigrations; }
