#include "runstore/runstore.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <sqlite3.h>

#include "parameters/paramtable.h"

namespace {

// SQLite's primary result codes that the messages tell apart.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADatabase = 26;

const std::vector<std::vector<const char*>> kMigrations = {
    // Version 1: one row per run with its figures in columns and its fourteen parameters
    // packed into a blob (little-endian doubles in the parameter table's order), so that
    // listing the history reads a compact table with few columns; the samples, packed the
    // same way, in a table of their own.
    {"CREATE TABLE runs ("
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
     " params BLOB NOT NULL)",
     "CREATE TABLE run_samples ("
     " run_id INTEGER PRIMARY KEY REFERENCES runs(id),"
     " samples BLOB NOT NULL)"},
    // Version 2: the time as UTC milliseconds, so that the history keeps the order in which
    // runs were made across changes of the UTC offset (daylight saving), which the local time
    // text does not.
    {"ALTER TABLE runs ADD COLUMN time_ms INTEGER",
     "UPDATE runs SET time_ms ="
     " CAST(round((julianday(time) - 2440587.5) * 86400000.0) AS INTEGER)",
     "CREATE INDEX runs_by_time ON runs(time_ms, id)"},
    // Version 3: how quietly the loop rests after each run (peak-to-peak of output and error
    // over the settled tail); empty for older runs until they are read with their samples.
    {"ALTER TABLE runs ADD COLUMN rest_output_pp_pct REAL",
     "ALTER TABLE runs ADD COLUMN rest_error_pp REAL"},
    // Version 4: the journal of what a board held before each EEPROM write of the companion,
    // packed as the runs' parameters are; finished_ms stays empty until the board was put back
    // or the change was meant to stay, and the unfinished entries of a port are found by index.
    {"CREATE TABLE journal ("
     " id INTEGER PRIMARY KEY,"
     " time TEXT NOT NULL,"
     " time_ms INTEGER NOT NULL,"
     " port TEXT NOT NULL,"
     " command TEXT NOT NULL,"
     " board BLOB NOT NULL,"
     " planned TEXT NOT NULL,"
     " finished_ms INTEGER,"
     " outcome TEXT)",
     "CREATE INDEX journal_unfinished ON journal(port) WHERE finished_ms IS NULL"},
};

QByteArray PackParams(const TPIDParams& params) {
  QByteArray blob(qsizetype(ParamTable().size() * sizeof(double)), Qt::Uninitialized);
  char* out = blob.data();
  for (const TParamRow& row : ParamTable()) {
    qToLittleEndian(RecordValue(params, row), out);
    out += sizeof(double);
  }
  return blob;
}

// A blob shorter than fourteen values leaves the missing ones at zero.
TPIDParams UnpackParams(const QByteArray& blob) {
  TPIDParams params;
  const char* in = blob.constData();
  const qsizetype count = blob.size() / qsizetype(sizeof(double));
  qsizetype k = 0;
  for (const TParamRow& row : ParamTable())
    if (k < count) StoreAnswer(params, row, qFromLittleEndian<double>(in + sizeof(double) * k++));
  params.Valid = true;
  return params;
}

QByteArray PackSamples(const TStepRun& run) {
  QByteArray blob(qsizetype(run.Errors.size() * 2 * sizeof(double)), Qt::Uninitialized);
  char* out = blob.data();
  for (size_t k = 0; k < run.Errors.size(); ++k) {
    qToLittleEndian(run.Errors[k], out);
    qToLittleEndian(run.Outputs[k], out + sizeof(double));
    out += 2 * sizeof(double);
  }
  return blob;
}

void UnpackSamples(const QByteArray& blob, TStepRun& run) {
  const qsizetype n = blob.size() / qsizetype(2 * sizeof(double));
  const char* in = blob.constData();
  for (qsizetype k = 0; k < n; ++k, in += 2 * sizeof(double)) {
    run.Errors.push_back(qFromLittleEndian<double>(in));
    run.Outputs.push_back(qFromLittleEndian<double>(in + sizeof(double)));
  }
}

// An empty text goes in as '' rather than NULL (Qt binds a null QString as NULL).
QVariant Text(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

QVariant Nullable(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(); }
QVariant Nullable(const std::optional<int>& v) { return v ? QVariant(*v) : QVariant(); }

// The columns a run is read from, a literal so that the statements built of it are literals.
#define ZIRV_RUN_COLUMNS                                                                      \
  "id, time, time_ms, port, label, step, prediv, sample_count, rise_samples, overshoot_pct,"   \
  " peak_sample, settling_samples, steady_state_error, iae, peak_output, saturated, params,"   \
  " rest_output_pp_pct, rest_error_pp"
// The column after those of ZIRV_RUN_COLUMNS when the samples are read too.
constexpr int kSamplesColumn = 19;

// Returns the stored time: the UTC instant with the offset its text was written with, so that
// it shows the clock time of the place and day it was made. Faster than reading the text.
QDateTime StoredTime(const QString& text, qint64 utcMs) {
  int offset = 0;
  const qsizetype n = text.size();
  if (n > 6 && (text[n - 6] == u'+' || text[n - 6] == u'-') && text[n - 3] == u':') {
    offset = text.mid(n - 5, 2).toInt() * 3600 + text.mid(n - 2, 2).toInt() * 60;
    if (text[n - 6] == u'-') offset = -offset;
  }
  return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offset);
}

// The row a reading statement stands on. Its values are what Qt's SQLite layer would give,
// so that a value of any type another program stored reads the same either way: an integer
// as qint64, a real as double, a blob as bytes, NULL as null, anything else as text.
class TRow {
 public:
  explicit TRow(sqlite3_stmt* statement) : FStatement(statement) {}

  QVariant Value(int column) const {
    switch (sqlite3_column_type(FStatement, column)) {
      case SQLITE_INTEGER: return QVariant(qint64(sqlite3_column_int64(FStatement, column)));
      case SQLITE_FLOAT: return QVariant(sqlite3_column_double(FStatement, column));
      case SQLITE_NULL: return QVariant();
      case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(FStatement, column)),
                          sqlite3_column_bytes(FStatement, column));
      default:
        return QString(static_cast<const QChar*>(sqlite3_column_text16(FStatement, column)),
                       sqlite3_column_bytes16(FStatement, column) / qsizetype(sizeof(QChar)));
    }
  }

 private:
  sqlite3_stmt* FStatement;
};

// The error of the connection's last call, as Qt's SQLite layer reports it.
QSqlError ErrorOf(sqlite3* db) {
  return QSqlError(QStringLiteral("Unable to read"),
                   QString(static_cast<const QChar*>(sqlite3_errmsg16(db))),
                   QSqlError::StatementError, QString::number(sqlite3_errcode(db)));
}

// Runs the statement and hands each row to read, then resets it so that it holds no read
// transaction. Returns false (the statement reset too) when SQLite fails.
template <class F>
bool ReadRows(sqlite3_stmt* statement, F read) {
  int code;
  while ((code = sqlite3_step(statement)) == SQLITE_ROW) read(TRow(statement));
  sqlite3_reset(statement);
  return code == SQLITE_DONE;
}

// Binds text; an empty text as '' rather than NULL, as Text() does for Qt's statements.
void BindText(sqlite3_stmt* statement, int index, const QString& text) {
  static const char16_t empty[] = u"";
  const void* chars = text.isEmpty() ? static_cast<const void*>(empty) : text.utf16();
  sqlite3_bind_text16(statement, index, chars, int(text.size() * qsizetype(sizeof(QChar))),
                      SQLITE_TRANSIENT);
}

// Reads the columns of ZIRV_RUN_COLUMNS (in that order) into a run.
TRunListing ReadRow(const TRow& q) {
  TRunListing r;
  TStepRun& run = r.Run;
  run.Id = q.Value(0).toLongLong();
  run.Time = StoredTime(q.Value(1).toString(), q.Value(2).toLongLong());
  run.Port = q.Value(3).toString();
  run.Label = q.Value(4).toString();
  run.Step = q.Value(5).toInt();
  run.Prediv = q.Value(6).toInt();
  r.SampleCount = q.Value(7).toInt();
  TStepFigures& f = run.Figures;
  const QVariant rise = q.Value(8), settling = q.Value(11);
  if (!rise.isNull()) f.RiseSamples = rise.toDouble();
  f.OvershootPct = q.Value(9).toDouble();
  f.PeakSample = q.Value(10).toInt();
  if (!settling.isNull()) f.SettlingSamples = settling.toInt();
  f.SteadyStateError = q.Value(12).toDouble();
  f.Iae = q.Value(13).toDouble();
  f.PeakOutput = q.Value(14).toDouble();
  f.Saturated = q.Value(15).toBool();
  run.Params = UnpackParams(q.Value(16).toByteArray());
  const QVariant restOutput = q.Value(17), restError = q.Value(18);
  if (!restOutput.isNull()) f.RestOutputPpPct = restOutput.toDouble();
  if (!restError.isNull()) f.RestErrorPp = restError.toDouble();
  return r;
}

// Returns why a file of the schema version cannot be used, "" when it can: a version from a
// newer program, or one no program writes (below 0), which would index outside the steps.
QString UnknownVersionMessage(int version) {
  if (version > TRunStore::kSchemaVersion)
    return QStringLiteral("the run history was written by a newer zirv7ctl (schema version %1; "
                          "this one knows up to %2); it is left as it is")
        .arg(version)
        .arg(TRunStore::kSchemaVersion);
  if (version < 0)
    return QStringLiteral("the run history has a schema version no zirv7ctl writes (%1); it is "
                          "left as it is: move it aside to start a new one")
        .arg(version);
  return QString();
}

QString NewConnectionName() {
  static std::atomic<int> counter{0};
  return QStringLiteral("zirv_runstore_%1").arg(++counter);
}

}  // namespace

const std::vector<std::vector<const char*>>& RunStoreMigrations() { return kMigrations; }

QString TRunStore::DefaultPath() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + QStringLiteral("/.local/share");
  return data + QStringLiteral("/zirv7tune/runs.sqlite");
}

TRunStore::TRunStore() : FConnection(NewConnectionName()) {}

TRunStore::~TRunStore() {
  if (!FDb.isValid()) return;
  FinalizeStatements();
  FDb.close();
  FDb = QSqlDatabase();
  QSqlDatabase::removeDatabase(FConnection);
}

QString TRunStore::Describe(const QSqlError& e, const QString& what) const {
  const int code = e.nativeErrorCode().toInt();
  const QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
  if (code == kSqliteBusy || code == kSqliteLocked)
    return QStringLiteral("the run history is in use by another program (%1); %2").arg(text, what);
  if (code == kSqliteCorrupt || code == kSqliteNotADatabase)
    return QStringLiteral("the run history is damaged (%1); it is left as it is: move it aside "
                          "to start a new one")
        .arg(text);
  return QStringLiteral("the run history cannot be used (%1); %2").arg(text, what);
}

bool TRunStore::Prepare(TStatement& statement, const char* sql, QSqlError& e) {
  if (statement.Handle) return true;
  const QVariant handle = FDb.driver()->handle();
  sqlite3* db = qstrcmp(handle.typeName(), "sqlite3*") == 0
                    ? *static_cast<sqlite3* const*>(handle.constData())
                    : nullptr;
  if (!db) {
    e = QSqlError(QStringLiteral("Unable to read"), QStringLiteral("the file is not open"));
    return false;
  }
  if (sqlite3_prepare_v2(db, sql, -1, &statement.Handle, nullptr) == SQLITE_OK) return true;
  e = ErrorOf(db);
  sqlite3_finalize(statement.Handle);
  statement.Handle = nullptr;
  return false;
}

// Every statement of our own is finalized before Qt closes the connection, which SQLite
// refuses to close while one is left.
void TRunStore::FinalizeStatements() {
  for (TStatement* statement :
       {&FListRuns, &FLoadRun, &FFindTable, &FJournal, &FPortJournal, &FJournalEntry}) {
    sqlite3_finalize(statement->Handle);
    statement->Handle = nullptr;
  }
}

// Looks at an existing file without the right to change it: a damaged file or one from a
// newer program is refused before anything could write to it.
bool TRunStore::Probe(const QString& path, QString& error) {
  const QString name = FConnection + QStringLiteral("_probe");
  bool ok = true;
  {
    QSqlDatabase probe = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    probe.setDatabaseName(path);
    probe.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
    QSqlQuery q(probe);
    if (!probe.open() || !q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
      error = Describe(probe.isOpenError() ? probe.lastError() : q.lastError(),
                       QStringLiteral("nothing was changed"));
      ok = false;
    } else if (const QString unknown = UnknownVersionMessage(q.value(0).toInt()); !unknown.isEmpty()) {
      error = unknown;
      ok = false;
    }
    q.finish();
    probe.close();
  }
  QSqlDatabase::removeDatabase(name);
  return ok;
}

bool TRunStore::Open(const QString& path, QString& error, int busyTimeoutMs, TStoreAccess access) {
  if (access == TStoreAccess::ReadOnly) return OpenReadOnly(path, error, busyTimeoutMs);
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (QFileInfo(path).size() > 0 && !Probe(path, error)) return false;
  FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
  FDb.setDatabaseName(path);
  FDb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
  if (!FDb.open()) {
    error = Describe(FDb.lastError(), QStringLiteral("nothing was changed"));
    return false;
  }
  QSqlQuery q(FDb);
  // Every commit reaches the disk before it returns: a journal entry must outlast a power
  // loss right after it, when the board's EEPROM is being written.
  if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
      !q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
    error = Describe(q.lastError(), QStringLiteral("nothing was changed"));
    return false;
  }
  q.finish();
  return Migrate(error);
}

// A read-only disk has no room for SQLite's shared-memory file of a WAL database: when the
// plain read-only open cannot read for that, the file is opened as immutable, which needs none
// (nobody can change a file on such a disk). An absent or empty file reads as an empty history.
bool TRunStore::OpenReadOnly(const QString& path, QString& error, int busyTimeoutMs) {
  if (QFileInfo(path).size() <= 0) return true;
  const QString unchanged = QStringLiteral("nothing was read");
  for (const bool immutable : {false, true}) {
    FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
    if (immutable) {
      FDb.setDatabaseName(QStringLiteral("file:%1?immutable=1")
                              .arg(QString::fromUtf8(QUrl::toPercentEncoding(path, "/"))));
      FDb.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    } else {
      FDb.setDatabaseName(path);
      FDb.setConnectOptions(
          QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    }
    if (!FDb.open()) {
      error = Describe(FDb.lastError(), unchanged);
      return false;
    }
    QSqlQuery q(FDb);
    if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next()) {
      error = UnknownVersionMessage(q.value(0).toInt());
      return error.isEmpty();
    }
    const QSqlError e = q.lastError();
    q.finish();
    FDb.close();
    FDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(FConnection);
    error = Describe(e, unchanged);
    if (e.nativeErrorCode().toInt() != kSqliteCantOpen) return false;
  }
  return false;
}

bool TRunStore::HasTable(const char* table) {
  QSqlError e;
  if (!FDb.isOpen() ||
      !Prepare(FFindTable, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", e))
    return false;
  sqlite3_bind_text(FFindTable.Handle, 1, table, -1, SQLITE_STATIC);
  bool found = false;
  ReadRows(FFindTable.Handle, [&](const TRow&) { found = true; });
  return found;
}

int TRunStore::SchemaVersion() {
  QSqlQuery q(FDb);
  if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) return -1;
  const int version = q.value(0).toInt();
  q.finish();  // a statement left open would keep a transaction from committing
  return version;
}

// Runs each missing step in a transaction of its own, which also sets the new version, so
// that a failed step leaves the file at the version before it.
bool TRunStore::Migrate(QString& error) {
  // An up-to-date file needs no write lock, so that listing works while another program
  // stores a run.
  if (SchemaVersion() == kSchemaVersion) return true;
  QSqlQuery q(FDb);
  const QString unchanged = QStringLiteral("the history was left at its version");
  if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
    error = Describe(q.lastError(), QStringLiteral("nothing was changed"));
    return false;
  }
  // Read under the write lock: another program may have moved the file on meanwhile.
  const int version = SchemaVersion();
  if (const QString unknown = UnknownVersionMessage(version); !unknown.isEmpty()) {
    q.exec(QStringLiteral("ROLLBACK"));
    error = unknown;
    return false;
  }
  for (int v = version; v < kSchemaVersion; ++v) {
    for (const char* statement : kMigrations[size_t(v)]) {
      if (q.exec(QString::fromLatin1(statement))) continue;
      error = Describe(q.lastError(), unchanged);
      q.exec(QStringLiteral("ROLLBACK"));
      return false;
    }
    q.exec(QStringLiteral("PRAGMA user_version = %1").arg(v + 1));
  }
  if (!q.exec(QStringLiteral("COMMIT"))) {
    error = Describe(q.lastError(), unchanged);
    q.exec(QStringLiteral("ROLLBACK"));
    return false;
  }
  return true;
}

bool TRunStore::Insert(TStepRun& run, QString& error) {
  const QString notStored = QStringLiteral("the run was not stored");
  if (!FDb.transaction()) {
    error = Describe(FDb.lastError(), notStored);
    return false;
  }
  QSqlQuery q(FDb);
  q.prepare(QStringLiteral("INSERT INTO runs (time, time_ms, port, label, step, prediv, "
                           "sample_count, rise_samples, overshoot_pct, peak_sample, "
                           "settling_samples, steady_state_error, iae, peak_output, saturated, "
                           "params, rest_output_pp_pct, rest_error_pp) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
  const TStepFigures& f = run.Figures;
  const QVariant values[] = {
      IsoTime(run.Time), run.Time.toMSecsSinceEpoch(), Text(run.Port), Text(run.Label), run.Step,
      run.Prediv, int(run.Errors.size()), Nullable(f.RiseSamples), f.OvershootPct, f.PeakSample,
      Nullable(f.SettlingSamples), f.SteadyStateError, f.Iae, f.PeakOutput, int(f.Saturated),
      PackParams(run.Params), Nullable(f.RestOutputPpPct), Nullable(f.RestErrorPp)};
  for (const QVariant& v : values) q.addBindValue(v);
  QSqlQuery samples(FDb);
  samples.prepare(QStringLiteral("INSERT INTO run_samples (run_id, samples) VALUES (?, ?)"));
  const bool inserted = q.exec();
  if (inserted) {
    samples.addBindValue(q.lastInsertId());
    samples.addBindValue(PackSamples(run));
  }
  if (!inserted || !samples.exec() || !FDb.commit()) {
    const QSqlError e = !inserted ? q.lastError()
                        : samples.lastError().isValid() ? samples.lastError()
                                                        : FDb.lastError();
    error = Describe(e, notStored);
    FDb.rollback();
    return false;
  }
  run.Id = q.lastInsertId().toLongLong();
  return true;
}

bool TRunStore::List(int last, std::vector<TRunListing>& runs, QString& error) {
  runs.clear();
  if (!FDb.isOpen()) return true;  // an absent file, read only
  // The newest `last` runs, read newest first along the time index (no sort, no temporary
  // file), then handed out oldest first.
  QSqlError e;
  if (!Prepare(FListRuns, "SELECT " ZIRV_RUN_COLUMNS " FROM runs"
                          " ORDER BY time_ms DESC, id DESC LIMIT ?", e)) {
    error = Describe(e, QStringLiteral("nothing was listed"));
    return false;
  }
  sqlite3_bind_int(FListRuns.Handle, 1, last > 0 ? last : -1);
  if (!ReadRows(FListRuns.Handle, [&](const TRow& row) { runs.push_back(ReadRow(row)); })) {
    runs.clear();
    error = Describe(ErrorOf(sqlite3_db_handle(FListRuns.Handle)), QStringLiteral("nothing was listed"));
    return false;
  }
  std::reverse(runs.begin(), runs.end());
  return true;
}

bool TRunStore::Load(const std::vector<qint64>& ids, std::vector<TStepRun>& runs,
                     QString& error) {
  runs.clear();
  if (ids.empty()) return true;
  if (!FDb.isOpen()) {
    error = QStringLiteral("there is no run %1 in the history").arg(ids.front());
    return false;
  }
  const QString unshown = QStringLiteral("nothing was shown");
  QSqlError e;
  if (!Prepare(FLoadRun, "SELECT " ZIRV_RUN_COLUMNS ", samples FROM runs"
                         " JOIN run_samples ON run_id = id WHERE id = ?", e)) {
    error = Describe(e, unshown);
    return false;
  }
  for (qint64 id : ids) {
    sqlite3_bind_int64(FLoadRun.Handle, 1, id);
    std::optional<TStepRun> found;
    const bool read = ReadRows(FLoadRun.Handle, [&](const TRow& row) {
      if (found) return;
      found = ReadRow(row).Run;
      UnpackSamples(row.Value(kSamplesColumn).toByteArray(), *found);
    });
    if (!read) {
      runs.clear();
      error = Describe(ErrorOf(sqlite3_db_handle(FLoadRun.Handle)), unshown);
      return false;
    }
    if (!found) {
      runs.clear();
      error = QStringLiteral("there is no run %1 in the history").arg(id);
      return false;
    }
    TStepRun& run = *found;
    // Runs stored before the rest figures existed get them from their samples.
    if (!run.Figures.RestOutputPpPct) {
      const TStepFigures figures = ComputeStepFigures(run.Errors, run.Outputs, StepAmplitude(run.Step, run.Params),
                                                      run.Params.MaxOutput);
      run.Figures.RestOutputPpPct = figures.RestOutputPpPct;
      run.Figures.RestErrorPp = figures.RestErrorPp;
    }
    runs.push_back(std::move(run));
  }
  return true;
}

namespace {

// The columns a journal entry is read from.
#define ZIRV_JOURNAL_COLUMNS \
  "id, time, time_ms, port, command, board, planned, finished_ms, outcome"

TJournalEntry ReadJournalRow(const TRow& q) {
  TJournalEntry e;
  e.Id = q.Value(0).toLongLong();
  e.Time = StoredTime(q.Value(1).toString(), q.Value(2).toLongLong());
  e.Port = q.Value(3).toString();
  e.Command = q.Value(4).toString();
  e.Board = UnpackParams(q.Value(5).toByteArray());
  e.Planned = q.Value(6).toString();
  e.Finished = !q.Value(7).isNull();
  e.Outcome = q.Value(8).toString();
  return e;
}

}  // namespace

bool TRunStore::BeginJournal(TJournalEntry& entry, QString& error) {
  const QString notStored = QStringLiteral("the board's values were not stored");
  if (!FDb.isOpen()) {
    error = QStringLiteral("the run history is not open for writing; %1").arg(notStored);
    return false;
  }
  entry.Time = QDateTime::currentDateTime();
  QSqlQuery q(FDb);
  q.prepare(QStringLiteral("INSERT INTO journal (time, time_ms, port, command, board, planned)"
                           " VALUES (?, ?, ?, ?, ?, ?)"));
  for (const QVariant& v : {QVariant(IsoTime(entry.Time)), QVariant(entry.Time.toMSecsSinceEpoch()),
                            Text(entry.Port), Text(entry.Command), QVariant(PackParams(entry.Board)),
                            Text(entry.Planned)})
    q.addBindValue(v);
  // One statement outside an explicit transaction is a transaction of its own.
  if (!q.exec()) {
    error = Describe(q.lastError(), notStored);
    return false;
  }
  entry.Id = q.lastInsertId().toLongLong();
  entry.Finished = false;
  entry.Outcome.clear();
  return true;
}

bool TRunStore::FinishJournal(qint64 id, const QString& outcome, QString& error) {
  QSqlQuery q(FDb);
  q.prepare(QStringLiteral("UPDATE journal SET finished_ms = ?, outcome = ? WHERE id = ?"));
  q.addBindValue(QDateTime::currentMSecsSinceEpoch());
  q.addBindValue(Text(outcome));
  q.addBindValue(id);
  if (q.exec() && q.numRowsAffected() == 1) return true;
  error = q.lastError().isValid() ? Describe(q.lastError(), QStringLiteral("it stays unfinished"))
                                  : QStringLiteral("there is no backup %1").arg(id);
  return false;
}

bool TRunStore::ListJournal(std::vector<TJournalEntry>& entries, QString& error) {
  return ReadJournal(nullptr, entries, error);
}

bool TRunStore::UnfinishedJournal(const QString& port, std::vector<TJournalEntry>& entries,
                                  QString& error) {
  return ReadJournal(&port, entries, error);
}

// Reads the whole journal, or the unfinished entries of *port.
bool TRunStore::ReadJournal(const QString* port, std::vector<TJournalEntry>& entries, QString& error) {
  entries.clear();
  // An absent file, or an older one read only, has no journal; a journal once seen stays.
  if (!FHasJournal && !(FHasJournal = HasTable("journal"))) return true;
  const QString unlisted = QStringLiteral("nothing was listed");
  TStatement& statement = port ? FPortJournal : FJournal;
  QSqlError e;
  const bool prepared =
      port ? Prepare(statement, "SELECT " ZIRV_JOURNAL_COLUMNS " FROM journal"
                                " WHERE finished_ms IS NULL AND port = ? ORDER BY id", e)
           : Prepare(statement, "SELECT " ZIRV_JOURNAL_COLUMNS " FROM journal ORDER BY id", e);
  if (!prepared) {
    error = Describe(e, unlisted);
    return false;
  }
  if (port) BindText(statement.Handle, 1, *port);
  if (!ReadRows(statement.Handle, [&](const TRow& row) { entries.push_back(ReadJournalRow(row)); })) {
    entries.clear();
    error = Describe(ErrorOf(sqlite3_db_handle(statement.Handle)), unlisted);
    return false;
  }
  return true;
}

bool TRunStore::LoadJournal(qint64 id, TJournalEntry& entry, QString& error) {
  if (FHasJournal || (FHasJournal = HasTable("journal"))) {
    const QString unread = QStringLiteral("nothing was read");
    QSqlError e;
    if (!Prepare(FJournalEntry, "SELECT " ZIRV_JOURNAL_COLUMNS " FROM journal WHERE id = ?", e)) {
      error = Describe(e, unread);
      return false;
    }
    sqlite3_bind_int64(FJournalEntry.Handle, 1, id);
    bool found = false;
    const bool read = ReadRows(FJournalEntry.Handle, [&](const TRow& row) {
      if (!found) entry = ReadJournalRow(row);
      found = true;
    });
    if (!read) {
      error = Describe(ErrorOf(sqlite3_db_handle(FJournalEntry.Handle)), unread);
      return false;
    }
    if (found) return true;
  }
  error = QStringLiteral("there is no backup %1").arg(id);
  return false;
}
