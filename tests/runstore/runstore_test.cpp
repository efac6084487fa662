// The run history: storing and reading runs, the journal and a search's trials, migrations,
// plain SQL on the file, and files and places it must refuse untouched.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtEndian>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <sys/stat.h>

#include "parameters/paramtable.h"
#include "runstore/runstore.h"

namespace {

TStepRun MakeRun(const QString& time, const QString& label, int step) {
  TStepRun run;
  run.Time = QDateTime::fromString(time, Qt::ISODateWithMs);
  run.Port = QStringLiteral("COM1");
  run.Label = label;
  run.Step = step;
  run.Prediv = 1;
  run.Params.P = 0.125;
  run.Params.MaxOutput = 95;
  run.Params.Multiplier = 1;
  run.Params.TicksPerServo = 4;
  for (int k = 0; k < 199; ++k) {
    run.Errors.push_back(step * std::exp(-k / 17.0) + 1e-7 * k);
    run.Outputs.push_back(-3.25 + k * 0.5);
  }
  UpdateFigures(run);
  return run;
}

// Values whose bits a store could lose: a negative zero, the smallest subnormal, a sum with
// its last bit set, the largest finite double and an infinity.
const double kAwkward[] = {-0.0, 5e-324, 0.1 + 0.2, 1.7976931348623157e308, -INFINITY};

// A run whose parameters and samples hold the awkward values.
TStepRun AwkwardRun(const QString& time) {
  TStepRun run = MakeRun(time, "awkward", 100);
  run.Params.P = kAwkward[0];
  run.Params.I = kAwkward[1];
  run.Params.D = kAwkward[2];
  run.Params.FF1 = kAwkward[3];
  run.Params.SVMCycle = 3;
  run.Params.PhaseAdvance = -7;
  for (size_t k = 0; k < std::size(kAwkward); ++k) {
    run.Errors[k] = kAwkward[k];
    run.Outputs[k + 5] = kAwkward[k];
  }
  return run;
}

std::vector<quint64> Bits(const std::vector<double>& values) {
  std::vector<quint64> bits;
  for (double v : values) bits.push_back(std::bit_cast<quint64>(v));
  return bits;
}

std::vector<quint64> Bits(const TPIDParams& params) {
  std::vector<double> values;
  for (const TParamRow& row : ParamTable()) values.push_back(RecordValue(params, row));
  return Bits(values);
}

// Expects two runs to hold the same values, bit for bit.
void ExpectSameRun(const TStepRun& a, const TStepRun& b) {
  EXPECT_EQ(a.Id, b.Id);
  EXPECT_EQ(IsoTime(a.Time), IsoTime(b.Time));
  EXPECT_EQ(a.Label, b.Label);
  EXPECT_EQ(Bits(a.Params), Bits(b.Params));
  EXPECT_EQ(Bits(a.Errors), Bits(b.Errors));
  EXPECT_EQ(Bits(a.Outputs), Bits(b.Outputs));
  EXPECT_EQ(RunJson(a), RunJson(b));
}

QByteArray FileHash(const QString& path) {
  if (!QFileInfo(path).isFile()) return "not a file";  // a pipe would not be read to its end
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A connection of another program to the same file.
class TOtherProgram {
 public:
  explicit TOtherProgram(const QString& path) {
    FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    FDb.setDatabaseName(path);
    FDb.open();
  }
  ~TOtherProgram() {
    FDb.close();
    FDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
  }
  bool Exec(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery q(FDb);
    q.prepare(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    return q.exec();
  }
  // Returns the first row of a query, each column as text ("NULL" for NULL); empty when none.
  QStringList Row(const QString& sql) {
    QSqlQuery q(FDb);
    QStringList row;
    if (!q.exec(sql) || !q.next()) return row;
    for (int k = 0; k < q.record().count(); ++k)
      row << (q.value(k).isNull() ? QStringLiteral("NULL") : q.value(k).toString());
    return row;
  }
  QVariant Value(const QString& sql) {
    QSqlQuery q(FDb);
    return q.exec(sql) && q.next() ? q.value(0) : QVariant();
  }

 private:
  QSqlDatabase FDb;
};

// The fourteen values packed as versions 1 to 4 kept them.
QByteArray Packed(const std::vector<double>& values) {
  QByteArray blob(qsizetype(values.size() * sizeof(double)), Qt::Uninitialized);
  for (size_t k = 0; k < values.size(); ++k) qToLittleEndian(values[k], blob.data() + k * sizeof(double));
  return blob;
}

QByteArray PackedParams(const TPIDParams& params) {
  std::vector<double> values;
  for (const TParamRow& row : ParamTable()) values.push_back(RecordValue(params, row));
  return Packed(values);
}

// A file as version 4 left it, made through its own schema steps and statements.
class TVersion4File {
 public:
  explicit TVersion4File(const QString& path) : FDb(path) {
    for (int v = 0; v < 4; ++v)
      for (const TMigrationStatement& statement : RunStoreMigrations()[size_t(v)])
        EXPECT_TRUE(FDb.Exec(QLatin1String(statement.Sql))) << statement.Sql;
    FDb.Exec(QStringLiteral("PRAGMA user_version = 4"));
    FDb.Exec(QStringLiteral("PRAGMA journal_mode = WAL"));
  }
  // Stores the run as version 4 did, its rest figures left empty as version 2 left them.
  void AddRun(const TStepRun& run) {
    const TStepFigures& f = run.Figures;
    EXPECT_TRUE(FDb.Exec(
        "INSERT INTO runs (id, time, time_ms, port, label, step, prediv, sample_count, rise_samples,"
        " overshoot_pct, peak_sample, settling_samples, steady_state_error, iae, peak_output,"
        " saturated, params) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {run.Id, IsoTime(run.Time), run.Time.toMSecsSinceEpoch(), run.Port, run.Label, run.Step,
         run.Prediv, int(run.Errors.size()), f.RiseSamples ? QVariant(*f.RiseSamples) : QVariant(),
         f.OvershootPct, f.PeakSample,
         f.SettlingSamples ? QVariant(*f.SettlingSamples) : QVariant(), f.SteadyStateError, f.Iae,
         f.PeakOutput, int(f.Saturated), PackedParams(run.Params)}));
    std::vector<double> samples;
    for (size_t k = 0; k < run.Errors.size(); ++k) samples.insert(samples.end(), {run.Errors[k], run.Outputs[k]});
    EXPECT_TRUE(FDb.Exec("INSERT INTO run_samples (run_id, samples) VALUES (?, ?)", {run.Id, Packed(samples)}));
  }
  void AddEntry(qint64 id, const QString& port, const TPIDParams& board, bool finished) {
    EXPECT_TRUE(FDb.Exec(
        "INSERT INTO journal (id, time, time_ms, port, command, board, planned, finished_ms, outcome)"
        " VALUES (?, '2024-05-02T09:15:00.000+02:00', 1714634100000, ?, ?, ?, 'P 0.2 -> 0.3', ?, ?)",
        {id, port, "write --port " + port, PackedParams(board),
         finished ? QVariant(qint64(1714634200000)) : QVariant(), finished ? QVariant("kept") : QVariant()}));
  }

 private:
  TOtherProgram FDb;
};

class RunStoreTest : public testing::Test {
 protected:
  QTemporaryDir FDir;
  QString Path() const { return FDir.filePath(QStringLiteral("zirv7tune/runs.sqlite")); }
  void MakeFolder() const { QDir().mkpath(QFileInfo(Path()).absolutePath()); }

  // Opens the store, failing the test with the store's message when it cannot.
  static void Open(TRunStore& store, const QString& path, TStoreAccess access = TStoreAccess::ReadWrite) {
    const TResult<void> opened = store.Open(path, access);
    ASSERT_TRUE(opened) << opened.Failure().Message.toStdString();
  }
  template <class T>
  static T Get(TResult<T>&& result) {
    EXPECT_TRUE(result) << (result ? "" : result.Failure().Message.toStdString());
    return result ? std::move(result).Value() : T();
  }
};

TEST_F(RunStoreTest, StoredRunsComeBackWhole) {
  TRunStore store;
  Open(store, Path());
  EXPECT_EQ(store.SchemaVersion(), TRunStore::kSchemaVersion);
  TStepRun first = MakeRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"), {}, 100);
  TStepRun second = AwkwardRun(QStringLiteral("2024-05-03T18:00:00.000-05:00"));
  ASSERT_TRUE(store.Insert(first));
  ASSERT_TRUE(store.Insert(second));
  EXPECT_GT(second.Id, first.Id);

  const std::vector<TStepRun> loaded = Get(store.Load({second.Id, first.Id}));
  ASSERT_EQ(loaded.size(), 2u);
  // The time keeps its own day, clock time and offset, whatever the zone of the reader.
  EXPECT_EQ(IsoTime(loaded[0].Time), QStringLiteral("2024-05-03T18:00:00.000-05:00"));
  ExpectSameRun(loaded[0], second);
  EXPECT_EQ(loaded[1].Label, QString());

  const std::vector<TRunListing> list = Get(store.List(1));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Run.Id, second.Id);
  EXPECT_EQ(list[0].SampleCount, 199);
  EXPECT_EQ(RunJson(list[0].Run, 199), RunJson(second, 199));
  const TResult<std::vector<TStepRun>> absent = store.Load({second.Id + 100});
  ASSERT_FALSE(absent);
  EXPECT_TRUE(absent.Failure().Message.contains(QStringLiteral("no run"))) << absent.Failure().Message.toStdString();
}

// Text order of local times with offsets is not the order of events: 02:30+02:00 (00:30 UTC)
// came before 02:10+01:00 (01:10 UTC), the night the clocks went back.
TEST_F(RunStoreTest, HistoryFollowsUtcTimeAcrossOffsetChanges) {
  TRunStore store;
  Open(store, Path());
  TStepRun later = MakeRun(QStringLiteral("2024-10-27T02:10:00.000+01:00"), "later", 100);
  TStepRun earlier = MakeRun(QStringLiteral("2024-10-27T02:30:00.000+02:00"), "earlier", 100);
  ASSERT_TRUE(store.Insert(later));
  ASSERT_TRUE(store.Insert(earlier));
  const std::vector<TRunListing> list = Get(store.List(0));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("earlier"));
  EXPECT_EQ(list[1].Run.Label, QStringLiteral("later"));
}

// A file made by the first schema version, with a run in it, is brought up to date in order
// and keeps its run.
TEST_F(RunStoreTest, FirstVersionFileIsMigratedAndKeepsItsRuns) {
  MakeFolder();
  {
    TOtherProgram v1(Path());
    for (const TMigrationStatement& statement : RunStoreMigrations()[0]) ASSERT_TRUE(v1.Exec(statement.Sql));
    // Fourteen little-endian doubles, P = 0.5 first.
    const QString params = QStringLiteral("000000000000E03F") + QString(13 * 16, u'0');
    ASSERT_TRUE(v1.Exec(QStringLiteral(
        "INSERT INTO runs (time, port, label, step, prediv, sample_count, overshoot_pct,"
        " peak_sample, steady_state_error, iae, peak_output, saturated, params) VALUES"
        " ('2024-03-30T23:30:00.500+01:00', 'COM2', 'old', 50, 0, 0, 0, 0, 0, 0, 0, 0, x'%1')")
                            .arg(params)));
    ASSERT_TRUE(v1.Exec(QStringLiteral("PRAGMA user_version = 1")));
  }
  TRunStore store;
  Open(store, Path());
  EXPECT_EQ(store.SchemaVersion(), TRunStore::kSchemaVersion);
  std::vector<TRunListing> list = Get(store.List(0));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("old"));
  EXPECT_EQ(list[0].Run.Params.P, 0.5);
  EXPECT_EQ(IsoTime(list[0].Run.Time), QStringLiteral("2024-03-30T23:30:00.500+01:00"));
  // The new run sorts after the old one by the UTC time the migration worked out.
  TStepRun run = MakeRun(QStringLiteral("2024-03-30T23:00:00.000Z"), "new", 100);
  ASSERT_TRUE(store.Insert(run));
  list = Get(store.List(0));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("old"));
}

// Version 4's runs and journal, read as version 4 read them (a history opened only to read),
// are the same to the last bit once migrated; the rest figures that loading worked out are
// kept in their columns, and version 4's tables are gone.
TEST_F(RunStoreTest, Version4FileIsMigratedBitForBit) {
  MakeFolder();
  TStepRun awkward = AwkwardRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"));
  awkward.Id = 3;
  TStepRun plain = MakeRun(QStringLiteral("2024-05-02T10:00:00.000+02:00"), "plain", -40);
  plain.Id = 7;
  {
    TVersion4File v4(Path());
    v4.AddRun(awkward);
    v4.AddRun(plain);
    v4.AddEntry(1, "COM5", awkward.Params, true);
    v4.AddEntry(2, "/dev/pts/4", plain.Params, false);
  }
  const QByteArray before = FileHash(Path());
  std::vector<TStepRun> runs[2];
  std::vector<TRunListing> lists[2];
  std::vector<TJournalEntry> journals[2];
  for (const TStoreAccess access : {TStoreAccess::ReadOnly, TStoreAccess::ReadWrite}) {
    const int k = access == TStoreAccess::ReadOnly ? 0 : 1;
    TRunStore store;
    Open(store, Path(), access);
    EXPECT_EQ(store.SchemaVersion(), k == 0 ? 4 : TRunStore::kSchemaVersion);
    if (k == 0) {
      EXPECT_EQ(FileHash(Path()), before) << "read only, yet changed";
    }
    runs[k] = Get(store.Load({3, 7}));
    lists[k] = Get(store.List(0));
    journals[k] = Get(store.ListJournal());
  }
  ASSERT_EQ(runs[1].size(), 2u);
  for (size_t r = 0; r < 2; ++r) ExpectSameRun(runs[1][r], runs[0][r]);
  ExpectSameRun(runs[1][0], awkward);
  ASSERT_EQ(lists[1].size(), 2u);
  EXPECT_EQ(lists[1][1].Run.Figures.RestOutputPpPct, runs[0][1].Figures.RestOutputPpPct);
  EXPECT_EQ(Bits(lists[1][0].Run.Params), Bits(lists[0][0].Run.Params));
  ASSERT_EQ(journals[1].size(), 2u);
  for (size_t e = 0; e < 2; ++e) {
    const TJournalEntry &old = journals[0][e], &now = journals[1][e];
    EXPECT_EQ(now.Id, old.Id);
    EXPECT_EQ(now.Port, old.Port);
    EXPECT_EQ(now.Device, QString());
    EXPECT_EQ(now.Kind, TJournalKind::Write);
    EXPECT_EQ(now.Finished, old.Finished);
    EXPECT_EQ(now.Outcome, old.Outcome);
    EXPECT_EQ(IsoTime(now.Time), IsoTime(old.Time));
    EXPECT_EQ(Bits(now.Board), Bits(old.Board));
  }
  TOtherProgram sql(Path());
  EXPECT_EQ(sql.Value("SELECT group_concat(name) FROM sqlite_master WHERE name LIKE 'v4%' OR name = 'run_samples'")
                .toString(),
            QString());
  EXPECT_EQ(sql.Value("SELECT count(*) FROM runs WHERE rest_output_pp_pct IS NULL").toInt(), 0);
}

// What other programs (sqlite3, a script) see: the parameters under the parameter file's
// keys, the samples as rows with their time, the journal's values and device, and the queries
// the manual page shows.
TEST_F(RunStoreTest, PlainSqlReadsEveryValue) {
  TRunStore store;
  Open(store, Path());
  TStepRun run = AwkwardRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"));
  ASSERT_TRUE(store.Insert(run));
  TJournalEntry entry;
  entry.Kind = TJournalKind::Move;
  entry.Port = "COM3";
  entry.Device = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
  entry.Board = run.Params;
  ASSERT_TRUE(store.BeginJournal(entry));
  TOtherProgram sql(Path());
  for (const TParamRow& row : ParamTable()) {
    SCOPED_TRACE(row.FileKey);
    for (const char* table : {"runs", "journal"}) {
      const QVariant value = sql.Value(QStringLiteral("SELECT %1 FROM %2").arg(row.FileKey, table));
      EXPECT_EQ(std::bit_cast<quint64>(value.toDouble()), std::bit_cast<quint64>(RecordValue(run.Params, row)));
    }
  }
  const struct {
    const char* Query;
    QStringList Row;
  } cases[] = {
      {"SELECT count(*), min(idx), max(idx) FROM samples WHERE run_id = 1", {"199", "0", "198"}},
      // TPSC 4 at prediv 1: a sample every 0.8 ms.
      {"SELECT time, output FROM samples WHERE run_id = 1 AND idx = 10", {"0.008", "1.75"}},
      {"SELECT typeof(P), typeof(TPSC), typeof(error) FROM runs JOIN samples ON run_id = id LIMIT 1",
       {"real", "integer", "real"}},
      {"SELECT kind, device, port FROM journal", {"move", entry.Device, "COM3"}},
      // The manual page's examples.
      {"SELECT id, time, P, I, D, overshoot_pct, settling_samples FROM runs ORDER BY time_ms DESC LIMIT 10",
       {"1", "2024-05-02T09:15:00.125+02:00", "0", "5e-324", "0.30000000000000004", QString::number(run.Figures.OvershootPct),
        QString::number(*run.Figures.SettlingSamples)}},
      {"SELECT idx, time, error, output FROM samples WHERE run_id = 1 ORDER BY idx LIMIT 1 OFFSET 2",
       {"2", "0.0016", "0.30000000000000004", "-2.25"}},
  };
  for (const auto& c : cases) EXPECT_EQ(sql.Row(c.Query), c.Row) << c.Query;
}

// A journal entry belongs to the device the port led to, whatever the port's spelling; an
// entry kept before the journal knew devices belongs to its port's spelling.
TEST_F(RunStoreTest, UnfinishedEntriesAreFoundByDeviceElseByPort) {
  const QString adapter = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
  MakeFolder();
  {
    TVersion4File v4(Path());
    v4.AddEntry(1, "COM5", {}, false);
    v4.AddEntry(2, "COM5", {}, true);
  }
  TRunStore store;
  Open(store, Path());
  for (const auto& [port, device, finish] : {std::tuple<QString, QString, bool>{"/dev/ttyUSB0", adapter, false},
                                             {"COM7", adapter, false},
                                             {"COM7", "/dev/ttyS6", false},
                                             {"COM9", adapter, true},
                                             {"COM5", "", false}}) {
    TJournalEntry entry;
    entry.Port = port;
    entry.Device = device;
    ASSERT_TRUE(store.BeginJournal(entry));
    if (finish) {
      ASSERT_TRUE(store.FinishJournal(entry.Id, "kept"));
    }
  }
  const struct {
    const char* Name;
    QString Device, Port;
    std::vector<qint64> Found;
  } cases[] = {
      {"the device under another spelling", adapter, "COM3", {3, 4}},
      {"the device, and older entries of its spelling", adapter, "COM5", {1, 3, 4, 7}},
      {"another device on a spelling used before", "/dev/ttyS4", "COM7", {}},
      {"a device that could not be told: by port", "", "COM7", {4, 5}},
      {"an old entry by its port", "/dev/ttyUSB1", "COM5", {1, 7}},
  };
  for (const auto& c : cases) {
    std::vector<qint64> found;
    for (const TJournalEntry& e : Get(store.UnfinishedJournal(c.Device, c.Port))) found.push_back(e.Id);
    EXPECT_EQ(found, c.Found) << c.Name;
  }
}

// The journal keeps the board's values to the last bit, and a finished entry is no longer
// unfinished; an id that is not stored is named.
TEST_F(RunStoreTest, JournalEntriesComeBackWholeAndFinish) {
  TRunStore store;
  Open(store, Path());
  TJournalEntry a, b;
  a.Port = b.Port = "COM5";
  a.Command = "compare --port COM5 --step 100 a.pset";
  a.Planned = "P 0.123456789012346 -> 0.3";
  a.Board = AwkwardRun({}).Params;
  a.Board.P = 0.12345678901234567;
  for (TJournalEntry* e : {&a, &b}) ASSERT_TRUE(store.BeginJournal(*e));
  ASSERT_TRUE(store.FinishJournal(b.Id, "put back"));
  const TResult<void> absent = store.FinishJournal(b.Id + 10, "put back");
  ASSERT_FALSE(absent);
  EXPECT_TRUE(absent.Failure().Message.contains("no backup")) << absent.Failure().Message.toStdString();

  const std::vector<TJournalEntry> all = Get(store.ListJournal());
  ASSERT_EQ(all.size(), 2u);
  EXPECT_FALSE(all[0].Finished);
  EXPECT_EQ(all[1].Outcome, "put back");
  const TJournalEntry back = Get(store.LoadJournal(a.Id));
  EXPECT_EQ(back.Command, a.Command);
  EXPECT_EQ(back.Planned, a.Planned);
  EXPECT_EQ(Bits(back.Board), Bits(a.Board));
  EXPECT_EQ(back.Time.toMSecsSinceEpoch(), a.Time.toMSecsSinceEpoch());
  EXPECT_FALSE(store.LoadJournal(b.Id + 10));
}

// A search's trials come back in order with their gains, runs (any may be absent), verdict,
// cost (maybe none) and danger; another search's trials are its own.
TEST_F(RunStoreTest, TrialsOfASearchComeBackInOrder) {
  TRunStore store;
  Open(store, Path());
  TJournalEntry search, other;
  ASSERT_TRUE(store.BeginJournal(search));
  ASSERT_TRUE(store.BeginJournal(other));
  TStepRun run = MakeRun(QStringLiteral("2024-05-02T09:15:00.000+02:00"), {}, 100);
  ASSERT_TRUE(store.Insert(run));
  TTrial trials[3];
  trials[0] = {0, search.Id, 2, AwkwardRun({}).Params, run.Id, 0, run.Id, "overshoot 7.2 %", 0.75, false};
  trials[1] = {0, search.Id, 1, {}, 0, 0, 0, "growing oscillation", std::nullopt, true};
  trials[2] = {0, other.Id, 1, {}, run.Id, run.Id, 0, "kept", 0.5, false};
  for (TTrial& t : trials) ASSERT_TRUE(store.AddTrial(t));
  TTrial again = trials[1];
  EXPECT_FALSE(store.AddTrial(again)) << "a trial's number is its own";

  const std::vector<TTrial> back = Get(store.LoadTrials(search.Id));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].Number, 1);
  EXPECT_TRUE(back[0].Dangerous);
  EXPECT_FALSE(back[0].Cost);
  EXPECT_EQ(back[0].ForwardRun, 0);
  const TTrial& t = back[1];
  EXPECT_EQ(t.Id, trials[0].Id);
  EXPECT_EQ(Bits(t.Gains), Bits(trials[0].Gains));
  EXPECT_EQ(std::tuple(t.ForwardRun, t.ReverseRun, t.RestRun), std::tuple(run.Id, qint64(0), run.Id));
  EXPECT_EQ(t.Verdict, "overshoot 7.2 %");
  EXPECT_EQ(t.Cost, 0.75);
  EXPECT_FALSE(t.Dangerous);
  EXPECT_EQ(Get(store.LoadTrials(other.Id)).size(), 1u);
}

struct TRefusedCase {
  const char* Name;
  void (*Make)(const QString& path);
  const char* Message;
};

const TRefusedCase kRefused[] = {
    {"newer_schema",
     [](const QString& path) {
       TOtherProgram newer(path);
       newer.Exec(QStringLiteral("CREATE TABLE runs (id INTEGER PRIMARY KEY, future TEXT)"));
       newer.Exec(QStringLiteral("PRAGMA user_version = %1").arg(TRunStore::kSchemaVersion + 1));
     },
     "newer zirv7ctl (schema version"},
    // A version below the first would index before the first migration step.
    {"negative_schema",
     [](const QString& path) {
       TOtherProgram odd(path);
       odd.Exec(QStringLiteral("CREATE TABLE runs (id INTEGER PRIMARY KEY)"));
       odd.Exec(QStringLiteral("PRAGMA user_version = -1"));
     },
     "schema version no zirv7ctl writes (-1)"},
    {"most_negative_schema",
     [](const QString& path) {
       TOtherProgram odd(path);
       odd.Exec(QStringLiteral("CREATE TABLE runs (id INTEGER PRIMARY KEY)"));
       odd.Exec(QStringLiteral("PRAGMA user_version = -2147483648"));
     },
     "schema version no zirv7ctl writes (-2147483648)"},
    {"not_a_database",
     [](const QString& path) {
       QFile file(path);
       file.open(QIODevice::WriteOnly);
       QByteArray noise(8192, '\0');
       for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919) % 251);
       file.write(noise);
     },
     "damaged"},
    // SQLite would read the device as an empty file and write its journal beside the device.
    {"link_to_a_device",
     [](const QString& path) { QFile::link(QStringLiteral("/dev/null"), path); },
     "the run history is a device, not a file"},
    {"folder", [](const QString& path) { QDir().mkpath(path); }, "the run history is a folder, not a file"},
    {"pipe",
     [](const QString& path) { ::mkfifo(QFile::encodeName(path).constData(), 0600); },
     "the run history is a pipe, not a file"},
};

class RefusedFileTest : public RunStoreTest, public testing::WithParamInterface<TRefusedCase> {};

TEST_P(RefusedFileTest, IsRefusedAndLeftAsItWas) {
  MakeFolder();
  GetParam().Make(Path());
  const QByteArray before = FileHash(Path());
  const QStringList leftovers = {"/dev/null-journal", "/dev/null-wal", Path() + "-journal", Path() + "-wal"};
  for (const QString& leftover : leftovers) ASSERT_FALSE(QFileInfo::exists(leftover)) << leftover.toStdString();
  for (const TStoreAccess access : {TStoreAccess::ReadWrite, TStoreAccess::ReadOnly}) {
    TRunStore store;
    const TResult<void> opened = store.Open(Path(), access);
    ASSERT_FALSE(opened);
    EXPECT_TRUE(opened.Failure().Message.contains(QLatin1String(GetParam().Message)))
        << opened.Failure().Message.toStdString();
    EXPECT_EQ(FileHash(Path()), before);
    for (const QString& leftover : leftovers) EXPECT_FALSE(QFileInfo::exists(leftover)) << leftover.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(RunStore, RefusedFileTest, testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.Name); });

// The history's place: XDG_DATA_HOME when it names a folder (an absolute path), else HOME's
// .local/share; with neither there is nothing to go by, and no place is made up.
TEST(RunStorePlace, FollowsXdgDataHomeElseHomeAndGuessesNothing) {
  const struct {
    const char* Home;
    const char* DataHome;
    const char* Path;  // nullptr: refused
  } cases[] = {
      {"/home/ann", "/data", "/data/zirv7tune/runs.sqlite"},
      {"/home/ann", nullptr, "/home/ann/.local/share/zirv7tune/runs.sqlite"},
      {"/home/ann", "relative/data", "/home/ann/.local/share/zirv7tune/runs.sqlite"},
      {nullptr, "/data", "/data/zirv7tune/runs.sqlite"},
      {nullptr, nullptr, nullptr},
      {"relative", nullptr, nullptr},
  };
  const QByteArray home = qgetenv("HOME"), dataHome = qgetenv("XDG_DATA_HOME");
  for (const auto& c : cases) {
    c.Home ? qputenv("HOME", c.Home) : qunsetenv("HOME");
    c.DataHome ? qputenv("XDG_DATA_HOME", c.DataHome) : qunsetenv("XDG_DATA_HOME");
    const TResult<QString> path = TRunStore::DefaultPath();
    if (c.Path)
      EXPECT_EQ(path ? *path : path.Failure().Message, QString(c.Path));
    else
      EXPECT_TRUE(!path && path.Failure().Message.contains("neither XDG_DATA_HOME nor HOME"))
          << (path ? path->toStdString() : "");
  }
  qputenv("HOME", home);
  dataHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", dataHome);
}

// Another program holding the write lock: the run is refused with a clear message after the
// busy wait, the runs stored before are all still there, and storing works once it lets go.
TEST_F(RunStoreTest, LockedFileRefusesTheRunAndLosesNothing) {
  TRunStore store;
  ASSERT_TRUE(store.Open(Path(), TStoreAccess::ReadWrite, 50));
  TStepRun kept = MakeRun(QStringLiteral("2024-05-02T09:15:00.000+02:00"), "kept", 100);
  ASSERT_TRUE(store.Insert(kept));
  {
    TOtherProgram other(Path());
    ASSERT_TRUE(other.Exec(QStringLiteral("BEGIN EXCLUSIVE")));
    TStepRun refused = MakeRun(QStringLiteral("2024-05-02T09:16:00.000+02:00"), "new", 100);
    const TResult<void> stored = store.Insert(refused);
    ASSERT_FALSE(stored);
    EXPECT_TRUE(stored.Failure().Message.contains(QStringLiteral("in use by another program")))
        << stored.Failure().Message.toStdString();
    EXPECT_TRUE(stored.Failure().Message.contains(QStringLiteral("the run was not stored")));
    other.Exec(QStringLiteral("ROLLBACK"));
  }
  const std::vector<TRunListing> list = Get(store.List(0));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("kept"));
  TStepRun after = MakeRun(QStringLiteral("2024-05-02T09:17:00.000+02:00"), "after", 100);
  EXPECT_TRUE(store.Insert(after));
}

// Reading only creates nothing: an absent history reads as empty and stays absent, and an
// existing one is read without a change to its bytes and takes no change.
TEST_F(RunStoreTest, ReadOnlyOpenChangesNothing) {
  {
    TRunStore store;
    Open(store, Path(), TStoreAccess::ReadOnly);
    EXPECT_TRUE(Get(store.List(0)).empty());
    EXPECT_TRUE(Get(store.ListJournal()).empty());
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(Path()).absolutePath()));
  }
  {
    TRunStore store;
    Open(store, Path());
    TStepRun run = MakeRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"), {}, 100);
    ASSERT_TRUE(store.Insert(run));
  }
  const QByteArray before = FileHash(Path());
  TRunStore store;
  Open(store, Path(), TStoreAccess::ReadOnly);
  EXPECT_FALSE(store.Writable());
  EXPECT_EQ(Get(store.List(0)).size(), 1u);
  TStepRun spare = MakeRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"), {}, 100);
  TJournalEntry entry;
  TTrial trial;
  EXPECT_FALSE(store.Insert(spare));
  EXPECT_FALSE(store.BeginJournal(entry));
  EXPECT_FALSE(store.AddTrial(trial));
  EXPECT_EQ(FileHash(Path()), before);
}

// The store keeps its statements compiled between calls. A statement left open would keep
// the view of the file it first read, and would keep the connection from closing.
TEST_F(RunStoreTest, KeptStatementsSeeOtherProgramsRunsAndLetTheFileClose) {
  {
    TRunStore store, other;
    Open(store, Path());
    Open(other, Path());
    std::vector<TRunListing> list;
    for (int k = 1; k <= 3; ++k) {
      TStepRun run = MakeRun(QStringLiteral("2024-05-02T09:1%1:00.000+02:00").arg(k), "r", 100 + k);
      ASSERT_TRUE(other.Insert(run));
      TJournalEntry entry;
      entry.Port = "COM5";
      ASSERT_TRUE(other.BeginJournal(entry));
      list = Get(store.List(0));
      ASSERT_EQ(list.size(), size_t(k));
      const std::vector<TStepRun> runs = Get(store.Load({list.back().Run.Id}));
      ASSERT_EQ(runs.size(), 1u);
      EXPECT_EQ(runs[0].Step, 100 + k);
      EXPECT_EQ(runs[0].Errors.size(), 199u);
      EXPECT_EQ(Get(store.UnfinishedJournal({}, "COM5")).size(), size_t(k));
    }
    const TResult<std::vector<TStepRun>> absent = store.Load({list.back().Run.Id + 7});
    ASSERT_FALSE(absent);
    EXPECT_TRUE(absent.Failure().Message.contains("no run")) << absent.Failure().Message.toStdString();
  }
  // The last connection to close folds the write-ahead log into the file and removes it.
  EXPECT_FALSE(QFileInfo::exists(Path() + QStringLiteral("-wal")));
}

// Another program may store anything in any column; each value reads as the column's kind
// would read it from Qt's SQL layer.
TEST_F(RunStoreTest, ValuesOfAnyTypeReadAsTheirColumnMeans) {
  struct TCase {
    const char* Column;
    const char* Value;  // an SQL expression
    std::function<void(const TStepRun&)> Check;
  };
  const TCase cases[] = {
      {"step", "'37'", [](const TStepRun& r) { EXPECT_EQ(r.Step, 37); }},
      {"step", "'abc'", [](const TStepRun& r) { EXPECT_EQ(r.Step, 0); }},
      {"label", "x'61ff62'", [](const TStepRun& r) { EXPECT_EQ(r.Label, QStringLiteral("a\uFFFDb")); }},
      {"label", "CAST(x'c3a9' AS TEXT)", [](const TStepRun& r) { EXPECT_EQ(r.Label, QStringLiteral("\u00e9")); }},
      {"label", "12", [](const TStepRun& r) { EXPECT_EQ(r.Label, QStringLiteral("12")); }},
      {"overshoot_pct", "5", [](const TStepRun& r) { EXPECT_EQ(r.Figures.OvershootPct, 5.0); }},
      {"rise_samples", "NULL", [](const TStepRun& r) { EXPECT_FALSE(r.Figures.RiseSamples); }},
      {"P", "'0.5'", [](const TStepRun& r) { EXPECT_EQ(r.Params.P, 0.5); }},
      {"P", "NULL", [](const TStepRun& r) { EXPECT_EQ(r.Params.P, 0.0); }},
      {"TPSC", "2.5", [](const TStepRun& r) { EXPECT_EQ(r.Params.TicksPerServo, 2); }},
      {"time", "42", [](const TStepRun& r) { EXPECT_TRUE(r.Time.isValid()); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Column) + " = " + c.Value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runs.sqlite"));
    TRunStore store;
    Open(store, path);
    TStepRun run = MakeRun(QStringLiteral("2024-05-02T09:15:00.000+02:00"), "plain", 100);
    ASSERT_TRUE(store.Insert(run));
    {
      TOtherProgram other(path);
      ASSERT_TRUE(other.Exec(QStringLiteral("UPDATE runs SET %1 = %2").arg(c.Column, c.Value)));
    }
    const std::vector<TRunListing> list = Get(store.List(0));
    ASSERT_EQ(list.size(), 1u);
    c.Check(list[0].Run);
    const std::vector<TStepRun> runs = Get(store.Load({run.Id}));
    ASSERT_EQ(runs.size(), 1u);
    c.Check(runs[0]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
