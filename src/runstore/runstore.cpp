#include "runstore/runstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

#include "runstore/rows.h"

namespace {

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

// Returns the failure of an SQLite error: its message for the user, and what it left undone.
TFailure Describe(const QSqlError& e, const QString& what) {
  const int code = e.nativeErrorCode().toInt();
  const QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
    return {QStringLiteral("the run history is in use by another program (%1); %2").arg(text, what), {}};
  if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
    return {QStringLiteral("the run history is damaged (%1); it is left as it is: move it aside "
                           "to start a new one")
                .arg(text),
            {}};
  return {QStringLiteral("the run history cannot be used (%1); %2").arg(text, what), {}};
}

// The failure of a change to a history opened only to read, or not at all.
TFailure NotWritable(const QString& what) {
  return {QStringLiteral("the run history is not open for writing; %1").arg(what), {}};
}

// Refuses a history that is not a regular file (a link to /dev/null, a folder, a pipe):
// SQLite would read a device as an empty file and write its journal beside the device.
TResult<void> CheckRegularFile(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0 || S_ISREG(info.st_mode)) return {};
  const char* kind = S_ISDIR(info.st_mode)                              ? "a folder"
                     : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                     : S_ISFIFO(info.st_mode)                         ? "a pipe"
                                                                      : "not a regular file";
  return TFailure{
      QStringLiteral("the run history is %1, not a file; it is left as it is").arg(QLatin1String(kind)),
      QStringLiteral("The run history must be a regular file. Remove what stands at its name (a link "
                     "to a device, say) to start a new history there, or set XDG_DATA_HOME to another "
                     "folder.")};
}

// Returns whether the existing file and its folder can be written (SQLite writes its
// write-ahead log beside the file). An absent file counts as writable: opening it creates it.
bool FileWritable(const QString& path) {
  if (!QFileInfo::exists(path)) return true;
  return ::access(QFile::encodeName(path).constData(), W_OK) == 0 &&
         ::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK) == 0;
}

QString NewConnectionName() {
  static std::atomic<int> counter{0};
  return QStringLiteral("zirv_runstore_%1").arg(++counter);
}

// Returns the SQLite connection under a Qt one, null when there is none.
sqlite3* HandleOf(const QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  return qstrcmp(handle.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3* const*>(handle.constData())
                                                     : nullptr;
}

// The error of the connection's last call, as Qt's SQLite layer reports it.
QSqlError ErrorOf(sqlite3* db) {
  return QSqlError(QStringLiteral("Unable to execute"),
                   QString(static_cast<const QChar*>(sqlite3_errmsg16(db))),
                   QSqlError::StatementError, QString::number(sqlite3_errcode(db)));
}

// Returns the file's PRAGMA user_version; empty when it cannot be read (the error stays on
// the connection).
std::optional<int> UserVersion(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  std::optional<int> version;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    version = sqlite3_column_int(statement, 0);
  sqlite3_finalize(statement);
  return version;
}

}  // namespace

TResult<QString> TRunStore::DefaultPath() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (!QDir::isAbsolutePath(data)) {
    const QString home = qEnvironmentVariable("HOME");
    if (!QDir::isAbsolutePath(home))
      return TFailure{QStringLiteral("the run history has no place: neither XDG_DATA_HOME nor HOME "
                                     "names a folder"),
                      QStringLiteral("Set HOME to your home folder (or XDG_DATA_HOME to the folder "
                                     "for your programs' data); the history is kept under it in "
                                     "zirv7tune/runs.sqlite.")};
    data = home + QStringLiteral("/.local/share");
  }
  return data + QStringLiteral("/zirv7tune/runs.sqlite");
}

TRunStore::TRunStore() : FConnection(NewConnectionName()) {}

TRunStore::~TRunStore() { Close(); }

// Every statement of our own is finalized before Qt closes the connection, which SQLite
// refuses to close while one is left.
void TRunStore::Close() {
  for (auto& [sql, statement] : FStatements) sqlite3_finalize(statement);
  FStatements.clear();
  FHandle = nullptr;
  if (!FDb.isValid()) return;
  FDb.close();
  FDb = QSqlDatabase();
  QSqlDatabase::removeDatabase(FConnection);
}

TFailure TRunStore::LastFailure(const QString& what) const {
  if (!FHandle) return NotWritable(what);
  return Describe(ErrorOf(FHandle), what);
}

TResult<sqlite3_stmt*> TRunStore::Statement(const char* sql, const QString& what) {
  if (const auto found = FStatements.find(sql); found != FStatements.end()) return found->second;
  sqlite3_stmt* statement = nullptr;
  if (!FHandle || sqlite3_prepare_v2(FHandle, sql, -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return LastFailure(what);
  }
  FStatements.emplace(sql, statement);
  return statement;
}

bool TRunStore::Run(sqlite3_stmt* statement) {
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return done;
}

bool TRunStore::Exec(const char* sql) {
  return FHandle && sqlite3_exec(FHandle, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

template <class T, class F>
TResult<std::vector<T>> TRunStore::ReadAll(sqlite3_stmt* statement, const QString& what, F read) {
  std::vector<T> items;
  if (!ReadRows(statement, [&](const TRow& row) { items.push_back(read(row)); })) return LastFailure(what);
  return items;
}

// Looks at an existing file without the right to change it: a damaged file or one from a
// newer program is refused before anything could write to it.
TResult<void> TRunStore::Probe(const QString& path) {
  const QString name = FConnection + QStringLiteral("_probe");
  TResult<void> result;
  {
    QSqlDatabase probe = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    probe.setDatabaseName(path);
    probe.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
    QSqlQuery q(probe);
    if (!probe.open() || !q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
      result = Describe(probe.isOpenError() ? probe.lastError() : q.lastError(),
                        QStringLiteral("nothing was changed"));
    else if (const QString unknown = UnknownVersionMessage(q.value(0).toInt()); !unknown.isEmpty())
      result = TFailure{unknown, {}};
    q.finish();
    probe.close();
  }
  QSqlDatabase::removeDatabase(name);
  return result;
}

TResult<void> TRunStore::Open(const QString& path, TStoreAccess access, int busyTimeoutMs) {
  if (TResult<void> file = CheckRegularFile(path); !file) return file;
  if (access == TStoreAccess::WriteWherePossible)
    access = FileWritable(path) ? TStoreAccess::ReadWrite : TStoreAccess::ReadOnly;
  if (access == TStoreAccess::ReadOnly) return OpenReadOnly(path, busyTimeoutMs);
  return OpenReadWrite(path, busyTimeoutMs);
}

TResult<void> TRunStore::OpenReadWrite(const QString& path, int busyTimeoutMs) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (QFileInfo(path).size() > 0)
    if (TResult<void> probe = Probe(path); !probe) return probe;
  const QString unchanged = QStringLiteral("nothing was changed");
  FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
  FDb.setDatabaseName(path);
  FDb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
  if (!FDb.open()) return Describe(FDb.lastError(), unchanged);
  FHandle = HandleOf(FDb);
  FWritable = true;
  // Every commit reaches the disk before it returns: a journal entry must outlast a power
  // loss right after it, when the board's EEPROM is being written.
  if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL")) return LastFailure(unchanged);
  return Migrate();
}

// A read-only disk has no room for SQLite's shared-memory file of a WAL database: when the
// plain read-only open cannot read for that, the file is opened as immutable, which needs none
// (nobody can change a file on such a disk). An absent or empty file reads as an empty history.
TResult<void> TRunStore::OpenReadOnly(const QString& path, int busyTimeoutMs) {
  FWritable = false;
  if (QFileInfo(path).size() <= 0) return {};
  const QString unchanged = QStringLiteral("nothing was read");
  TFailure failure;
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
    if (!FDb.open()) return Describe(FDb.lastError(), unchanged);
    FHandle = HandleOf(FDb);
    if (const std::optional<int> version = UserVersion(FHandle)) {
      FVersion = *version;
      const QString unknown = UnknownVersionMessage(FVersion);
      if (unknown.isEmpty()) return {};
      return TFailure{unknown, {}};
    }
    const int code = sqlite3_errcode(FHandle);
    failure = LastFailure(unchanged);
    Close();
    if (code != SQLITE_CANTOPEN) return failure;
  }
  return failure;
}

// Runs the missing steps, and sets the new version, in one transaction: a step that fails
// leaves the file as it was, at its version.
TResult<void> TRunStore::Migrate() {
  // An up-to-date file needs no write lock, so that listing works while another program
  // stores a run.
  if (UserVersion(FHandle) == kSchemaVersion) {
    FVersion = kSchemaVersion;
    return {};
  }
  if (!Exec("BEGIN IMMEDIATE")) return LastFailure(QStringLiteral("nothing was changed"));
  // Read under the write lock: another program may have moved the file on meanwhile.
  const std::optional<int> read = UserVersion(FHandle);
  if (!read) {
    const TFailure failure = LastFailure(QStringLiteral("nothing was changed"));
    Exec("ROLLBACK");
    return failure;
  }
  const int version = *read;
  if (const QString unknown = UnknownVersionMessage(version); !unknown.isEmpty()) {
    Exec("ROLLBACK");
    return TFailure{unknown, {}};
  }
  const QString unchanged = QStringLiteral("the history was left at its version");
  const auto fail = [&] {
    const TFailure failure = LastFailure(unchanged);
    Exec("ROLLBACK");
    return failure;
  };
  for (int v = version; v < kSchemaVersion; ++v) {
    for (const TMigrationStatement& statement : RunStoreMigrations()[size_t(v)])
      if (statement.Sql ? !Exec(statement.Sql) : !statement.Convert(FHandle)) return fail();
    if (!Exec(QStringLiteral("PRAGMA user_version = %1").arg(v + 1).toLatin1().constData())) return fail();
  }
  if (!Exec("COMMIT")) return fail();
  FVersion = kSchemaVersion;
  return {};
}

TResult<void> TRunStore::Insert(TStepRun& run) {
  const QString notStored = QStringLiteral("the run was not stored");
  if (!FWritable) return NotWritable(notStored);
  TResult<sqlite3_stmt*> insert = Statement(
      "INSERT INTO runs (time, time_ms, port, label, step, prediv, sample_count, rise_samples,"
      " overshoot_pct, peak_sample, settling_samples, steady_state_error, iae, peak_output,"
      " saturated, rest_output_pp_pct, rest_error_pp, " ZIRV_PARAM_COLUMNS ") VALUES"
      " (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, " ZIRV_PARAM_VALUES ")",
      notStored);
  if (!insert) return insert.Failure();
  TResult<sqlite3_stmt*> sample = Statement(
      "INSERT INTO samples (run_id, idx, time, error, output) VALUES (?, ?, ?, ?, ?)", notStored);
  if (!sample) return sample.Failure();
  if (!Exec("BEGIN IMMEDIATE")) return LastFailure(notStored);
  sqlite3_stmt* q = *insert;
  const TStepFigures& f = run.Figures;
  BindText(q, 1, IsoTime(run.Time));
  sqlite3_bind_int64(q, 2, run.Time.toMSecsSinceEpoch());
  BindText(q, 3, run.Port);
  BindText(q, 4, run.Label);
  sqlite3_bind_int(q, 5, run.Step);
  sqlite3_bind_int(q, 6, run.Prediv);
  sqlite3_bind_int(q, 7, int(run.Errors.size()));
  BindOptional(q, 8, f.RiseSamples);
  sqlite3_bind_double(q, 9, f.OvershootPct);
  sqlite3_bind_int(q, 10, f.PeakSample);
  BindOptional(q, 11, f.SettlingSamples);
  sqlite3_bind_double(q, 12, f.SteadyStateError);
  sqlite3_bind_double(q, 13, f.Iae);
  sqlite3_bind_double(q, 14, f.PeakOutput);
  sqlite3_bind_int(q, 15, int(f.Saturated));
  BindOptional(q, 16, f.RestOutputPpPct);
  BindOptional(q, 17, f.RestErrorPp);
  BindParams(q, 18, run.Params);
  bool stored = Run(q);
  const qint64 id = sqlite3_last_insert_rowid(FHandle);
  sqlite3_stmt* s = *sample;
  for (size_t k = 0; stored && k < run.Errors.size(); ++k) {
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, qint64(k));
    BindOptional(s, 3, SampleSeconds(run, int(k)));
    sqlite3_bind_double(s, 4, run.Errors[k]);
    sqlite3_bind_double(s, 5, run.Outputs[k]);
    stored = Run(s);
  }
  if (!stored || !Exec("COMMIT")) {
    const TFailure failure = LastFailure(notStored);
    Exec("ROLLBACK");
    return failure;
  }
  run.Id = id;
  return {};
}

TParamLayout TRunStore::Layout() const {
  return FVersion < 5 ? TParamLayout::Packed : TParamLayout::Columns;
}

TResult<sqlite3_stmt*> TRunStore::StatementFor(const char* packedSql, const char* sql, const QString& what) {
  return Statement(Layout() == TParamLayout::Packed ? packedSql : sql, what);
}

TResult<std::vector<TRunListing>> TRunStore::List(int last) {
  if (FVersion == 0) return std::vector<TRunListing>();  // an absent file, read only
  const QString unlisted = QStringLiteral("nothing was listed");
  // The newest `last` runs, read newest first along the time index (no sort, no temporary
  // file), then handed out oldest first.
  TResult<sqlite3_stmt*> list = StatementFor(
      "SELECT " ZIRV_RUN_COLUMNS ", params FROM runs ORDER BY time_ms DESC, id DESC LIMIT ?",
      "SELECT " ZIRV_RUN_COLUMNS ", " ZIRV_PARAM_COLUMNS " FROM runs ORDER BY time_ms DESC, id DESC LIMIT ?",
      unlisted);
  if (!list) return list.Failure();
  sqlite3_bind_int(*list, 1, last > 0 ? last : -1);
  const TParamLayout layout = Layout();
  TResult<std::vector<TRunListing>> runs =
      ReadAll<TRunListing>(*list, unlisted, [&](const TRow& row) { return ReadRunRow(row, layout); });
  if (runs) std::reverse(runs->begin(), runs->end());
  return runs;
}

TResult<std::vector<TStepRun>> TRunStore::Load(const std::vector<qint64>& ids) {
  std::vector<TStepRun> runs;
  if (ids.empty()) return runs;
  const auto absent = [](qint64 id) { return TFailure{QStringLiteral("there is no run %1 in the history").arg(id), {}}; };
  if (FVersion == 0) return absent(ids.front());
  const QString unshown = QStringLiteral("nothing was shown");
  // Version 5 keeps the samples as rows of their own, older versions packed beside the run.
  const TParamLayout layout = Layout();
  const bool packed = layout == TParamLayout::Packed;
  TResult<sqlite3_stmt*> load = StatementFor(
      "SELECT " ZIRV_RUN_COLUMNS ", params, samples FROM runs JOIN run_samples ON run_id = id WHERE id = ?",
      "SELECT " ZIRV_RUN_COLUMNS ", " ZIRV_PARAM_COLUMNS " FROM runs WHERE id = ?", unshown);
  if (!load) return load.Failure();
  TResult<sqlite3_stmt*> samples =
      packed ? TResult<sqlite3_stmt*>(nullptr)
             : Statement("SELECT error, output FROM samples WHERE run_id = ? ORDER BY idx", unshown);
  if (!samples) return samples.Failure();
  for (qint64 id : ids) {
    sqlite3_bind_int64(*load, 1, id);
    std::optional<TRunListing> found;
    const bool read = ReadRows(*load, [&](const TRow& row) {
      if (found) return;
      found = ReadRunRow(row, layout);
      if (packed) UnpackSamples(row.Value(kRunParamsColumn + 1).toByteArray(), found->Run);
    });
    if (!read) return LastFailure(unshown);
    if (!found) return absent(id);
    TStepRun& run = found->Run;
    // Room for the samples the run says it has (a damaged count gets no more than a board sends).
    run.Errors.reserve(size_t(std::clamp(found->SampleCount, 0, 4096)));
    run.Outputs.reserve(run.Errors.capacity());
    sqlite3_bind_int64(*samples, 1, id);
    if (!packed && !ReadRows(*samples, [&](const TRow& row) {
          run.Errors.push_back(row.Number(0));
          run.Outputs.push_back(row.Number(1));
        }))
      return LastFailure(unshown);
    // Runs stored before the rest figures existed get them from their samples.
    FillRestFigures(run);
    runs.push_back(std::move(run));
  }
  return runs;
}

TResult<void> TRunStore::BeginJournal(TJournalEntry& entry) {
  const QString notStored = QStringLiteral("the board's values were not stored");
  if (!FWritable) return NotWritable(notStored);
  TResult<sqlite3_stmt*> insert = Statement(
      "INSERT INTO journal (kind, time, time_ms, port, device, command, planned, " ZIRV_PARAM_COLUMNS ")"
      " VALUES (?, ?, ?, ?, ?, ?, ?, " ZIRV_PARAM_VALUES ")",
      notStored);
  if (!insert) return insert.Failure();
  const QDateTime time = QDateTime::currentDateTime();
  sqlite3_stmt* q = *insert;
  sqlite3_bind_text(q, 1, entry.Kind == TJournalKind::Move ? "move" : "write", -1, SQLITE_STATIC);
  BindText(q, 2, IsoTime(time));
  sqlite3_bind_int64(q, 3, time.toMSecsSinceEpoch());
  BindText(q, 4, entry.Port);
  BindTextOrNull(q, 5, entry.Device);
  BindText(q, 6, entry.Command);
  BindText(q, 7, entry.Planned);
  BindParams(q, 8, entry.Board);
  // One statement outside an explicit transaction is a transaction of its own.
  if (!Run(q)) return LastFailure(notStored);
  entry.Id = sqlite3_last_insert_rowid(FHandle);
  entry.Time = time;
  entry.Finished = false;
  entry.Outcome.clear();
  return {};
}

TResult<void> TRunStore::FinishJournal(qint64 id, const QString& outcome) {
  const QString unfinished = QStringLiteral("it stays unfinished");
  if (!FWritable) return NotWritable(unfinished);
  TResult<sqlite3_stmt*> update =
      Statement("UPDATE journal SET finished_ms = ?, outcome = ? WHERE id = ?", unfinished);
  if (!update) return update.Failure();
  sqlite3_bind_int64(*update, 1, QDateTime::currentMSecsSinceEpoch());
  BindText(*update, 2, outcome);
  sqlite3_bind_int64(*update, 3, id);
  if (!Run(*update)) return LastFailure(unfinished);
  if (sqlite3_changes(FHandle) != 1) return TFailure{QStringLiteral("there is no backup %1").arg(id), {}};
  return {};
}

// The select lists of the journal's entries, in each layout.
#define ZIRV_SELECT_V4_JOURNAL "SELECT " ZIRV_V4_JOURNAL_COLUMNS ", board FROM journal"
#define ZIRV_SELECT_JOURNAL "SELECT " ZIRV_JOURNAL_COLUMNS ", " ZIRV_PARAM_COLUMNS " FROM journal"

template <class Bind>
TResult<std::vector<TJournalEntry>> TRunStore::ReadJournal(const char* packedSql, const char* sql, Bind bind) {
  // An absent file, or one older than the journal read only, has none.
  if (FVersion < 4) return std::vector<TJournalEntry>();
  const QString unread = QStringLiteral("nothing was read");
  TResult<sqlite3_stmt*> statement = StatementFor(packedSql, sql, unread);
  if (!statement) return statement.Failure();
  bind(*statement);
  const TParamLayout layout = Layout();
  return ReadAll<TJournalEntry>(*statement, unread, [&](const TRow& row) { return ReadJournalRow(row, layout); });
}

TResult<std::vector<TJournalEntry>> TRunStore::ListJournal() {
  return ReadJournal(ZIRV_SELECT_V4_JOURNAL " ORDER BY id", ZIRV_SELECT_JOURNAL " ORDER BY id", [](sqlite3_stmt*) {});
}

TResult<std::vector<TJournalEntry>> TRunStore::UnfinishedJournal(const QString& device, const QString& port) {
  // Version 4 knew no devices: its entries are all found by their port.
  return ReadJournal(ZIRV_SELECT_V4_JOURNAL " WHERE finished_ms IS NULL AND port = ?2 ORDER BY id",
                     ZIRV_SELECT_JOURNAL " WHERE finished_ms IS NULL"
                                         " AND (device = ?1 OR ((device IS NULL OR ?1 IS NULL) AND port = ?2))"
                                         " ORDER BY id",
                     [&](sqlite3_stmt* statement) {
                       BindTextOrNull(statement, 1, device);
                       BindText(statement, 2, port);
                     });
}

TResult<TJournalEntry> TRunStore::LoadJournal(qint64 id) {
  TResult<std::vector<TJournalEntry>> entries =
      ReadJournal(ZIRV_SELECT_V4_JOURNAL " WHERE id = ?", ZIRV_SELECT_JOURNAL " WHERE id = ?",
                  [&](sqlite3_stmt* statement) { sqlite3_bind_int64(statement, 1, id); });
  if (!entries) return entries.Failure();
  if (entries->empty()) return TFailure{QStringLiteral("there is no backup %1").arg(id), {}};
  return std::move(entries->front());
}

TResult<void> TRunStore::AddTrial(TTrial& trial) {
  const QString notStored = QStringLiteral("the trial was not stored");
  if (!FWritable) return NotWritable(notStored);
  TResult<sqlite3_stmt*> insert = Statement(
      "INSERT INTO trials (journal_id, number, forward_run, reverse_run, rest_run, verdict, cost,"
      " dangerous, " ZIRV_PARAM_COLUMNS ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, " ZIRV_PARAM_VALUES ")",
      notStored);
  if (!insert) return insert.Failure();
  sqlite3_stmt* q = *insert;
  sqlite3_bind_int64(q, 1, trial.JournalId);
  sqlite3_bind_int(q, 2, trial.Number);
  int index = 3;
  for (const qint64 run : {trial.ForwardRun, trial.ReverseRun, trial.RestRun}) {
    if (run > 0)
      sqlite3_bind_int64(q, index++, run);
    else
      sqlite3_bind_null(q, index++);
  }
  BindText(q, 6, trial.Verdict);
  BindOptional(q, 7, trial.Cost);
  sqlite3_bind_int(q, 8, int(trial.Dangerous));
  BindParams(q, 9, trial.Gains);
  if (!Run(q)) return LastFailure(notStored);
  trial.Id = sqlite3_last_insert_rowid(FHandle);
  return {};
}

TResult<std::vector<TTrial>> TRunStore::LoadTrials(qint64 journalId) {
  if (FVersion < 5) return std::vector<TTrial>();  // no search was kept before
  const QString unread = QStringLiteral("nothing was read");
  TResult<sqlite3_stmt*> load = Statement("SELECT " ZIRV_TRIAL_COLUMNS ", " ZIRV_PARAM_COLUMNS
                                          " FROM trials WHERE journal_id = ? ORDER BY number", unread);
  if (!load) return load.Failure();
  sqlite3_bind_int64(*load, 1, journalId);
  return ReadAll<TTrial>(*load, unread, ReadTrialRow);
}
