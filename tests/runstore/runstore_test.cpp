// The run history: storing and reading runs, migrations, and files it must refuse untouched.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cmath>
#include <functional>

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

QByteArray FileHash(const QString& path) {
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
  bool Exec(const QString& sql) { return QSqlQuery(FDb).exec(sql); }

 private:
  QSqlDatabase FDb;
};

class RunStoreTest : public testing::Test {
 protected:
  QTemporaryDir FDir;
  QString Path() const { return FDir.filePath(QStringLiteral("zirv7tune/runs.sqlite")); }
};

TEST_F(RunStoreTest, StoredRunsComeBackWhole) {
  TRunStore store;
  QString error;
  ASSERT_TRUE(store.Open(Path(), error)) << error.toStdString();
  EXPECT_EQ(store.SchemaVersion(), TRunStore::kSchemaVersion);
  TStepRun first = MakeRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"), {}, 100);
  TStepRun second = MakeRun(QStringLiteral("2024-05-03T18:00:00.000-05:00"), "a.pset", -40);
  ASSERT_TRUE(store.Insert(first, error)) << error.toStdString();
  ASSERT_TRUE(store.Insert(second, error)) << error.toStdString();
  EXPECT_GT(second.Id, first.Id);

  std::vector<TStepRun> loaded;
  ASSERT_TRUE(store.Load({second.Id, first.Id}, loaded, error)) << error.toStdString();
  ASSERT_EQ(loaded.size(), 2u);
  const TStepRun& back = loaded[0];
  // The time keeps its own day, clock time and offset, whatever the zone of the reader.
  EXPECT_EQ(IsoTime(back.Time), QStringLiteral("2024-05-03T18:00:00.000-05:00"));
  EXPECT_EQ(back.Label, QStringLiteral("a.pset"));
  EXPECT_EQ(back.Errors, second.Errors);
  EXPECT_EQ(back.Outputs, second.Outputs);
  EXPECT_EQ(back.Params.P, 0.125);
  EXPECT_EQ(RunJson(back), RunJson(second));
  EXPECT_EQ(loaded[1].Label, QString());

  std::vector<TRunListing> list;
  ASSERT_TRUE(store.List(1, list, error));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Run.Id, second.Id);
  EXPECT_EQ(list[0].SampleCount, 199);
  EXPECT_EQ(RunJson(list[0].Run, 199), RunJson(second, 199));
  EXPECT_FALSE(store.Load({second.Id + 100}, loaded, error));
  EXPECT_TRUE(error.contains(QStringLiteral("no run"))) << error.toStdString();
}

// Text order of local times with offsets is not the order of events: 02:30+02:00 (00:30 UTC)
// came before 02:10+01:00 (01:10 UTC), the night the clocks went back.
TEST_F(RunStoreTest, HistoryFollowsUtcTimeAcrossOffsetChanges) {
  TRunStore store;
  QString error;
  ASSERT_TRUE(store.Open(Path(), error));
  TStepRun later = MakeRun(QStringLiteral("2024-10-27T02:10:00.000+01:00"), "later", 100);
  TStepRun earlier = MakeRun(QStringLiteral("2024-10-27T02:30:00.000+02:00"), "earlier", 100);
  ASSERT_TRUE(store.Insert(later, error));
  ASSERT_TRUE(store.Insert(earlier, error));
  std::vector<TRunListing> list;
  ASSERT_TRUE(store.List(0, list, error));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("earlier"));
  EXPECT_EQ(list[1].Run.Label, QStringLiteral("later"));
}

// A file made by the first schema version, with a run in it, is brought up to date in order
// and keeps its run.
TEST_F(RunStoreTest, OlderFileIsMigratedAndKeepsItsRuns) {
  QDir().mkpath(QFileInfo(Path()).absolutePath());
  {
    TOtherProgram v1(Path());
    for (const char* statement : RunStoreMigrations()[0]) ASSERT_TRUE(v1.Exec(statement));
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
  QString error;
  ASSERT_TRUE(store.Open(Path(), error)) << error.toStdString();
  EXPECT_EQ(store.SchemaVersion(), TRunStore::kSchemaVersion);
  std::vector<TRunListing> list;
  ASSERT_TRUE(store.List(0, list, error)) << error.toStdString();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("old"));
  EXPECT_EQ(list[0].Run.Params.P, 0.5);
  EXPECT_EQ(IsoTime(list[0].Run.Time), QStringLiteral("2024-03-30T23:30:00.500+01:00"));
  // The new run sorts after the old one by the UTC time the migration worked out.
  TStepRun run = MakeRun(QStringLiteral("2024-03-30T23:00:00.000Z"), "new", 100);
  ASSERT_TRUE(store.Insert(run, error));
  ASSERT_TRUE(store.List(0, list, error));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("old"));
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
};

class RefusedFileTest : public RunStoreTest, public testing::WithParamInterface<TRefusedCase> {};

TEST_P(RefusedFileTest, IsRefusedAndLeftAsItWas) {
  QDir().mkpath(QFileInfo(Path()).absolutePath());
  GetParam().Make(Path());
  const QByteArray before = FileHash(Path());
  ASSERT_FALSE(before.isEmpty());
  for (const TStoreAccess access : {TStoreAccess::ReadWrite, TStoreAccess::ReadOnly}) {
    TRunStore store;
    QString error;
    EXPECT_FALSE(store.Open(Path(), error, 3000, access));
    EXPECT_TRUE(error.contains(QLatin1String(GetParam().Message))) << error.toStdString();
    EXPECT_EQ(FileHash(Path()), before);
  }
}

INSTANTIATE_TEST_SUITE_P(RunStore, RefusedFileTest, testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.Name); });

// Another program holding the write lock: the run is refused with a clear message after the
// busy wait, the runs stored before are all still there, and storing works once it lets go.
TEST_F(RunStoreTest, LockedFileRefusesTheRunAndLosesNothing) {
  TRunStore store;
  QString error;
  ASSERT_TRUE(store.Open(Path(), error, 50));
  TStepRun kept = MakeRun(QStringLiteral("2024-05-02T09:15:00.000+02:00"), "kept", 100);
  ASSERT_TRUE(store.Insert(kept, error));
  {
    TOtherProgram other(Path());
    ASSERT_TRUE(other.Exec(QStringLiteral("BEGIN EXCLUSIVE")));
    TStepRun refused = MakeRun(QStringLiteral("2024-05-02T09:16:00.000+02:00"), "new", 100);
    EXPECT_FALSE(store.Insert(refused, error));
    EXPECT_TRUE(error.contains(QStringLiteral("in use by another program"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("the run was not stored")));
    other.Exec(QStringLiteral("ROLLBACK"));
  }
  std::vector<TRunListing> list;
  ASSERT_TRUE(store.List(0, list, error));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Run.Label, QStringLiteral("kept"));
  TStepRun after = MakeRun(QStringLiteral("2024-05-02T09:17:00.000+02:00"), "after", 100);
  EXPECT_TRUE(store.Insert(after, error)) << error.toStdString();
}

// ---- the run record ----

TJournalEntry MakeEntry(const QString& port) {
  TJournalEntry e;
  e.Port = port;
  e.Command = QStringLiteral("compare --port %1 --step 100 a.pset").arg(port);
  e.Board.P = 0.12345678901234567;
  e.Board.FF1 = 0.7;
  e.Board.SVMCycle = 3;
  e.Planned = QStringLiteral("P 0.123456789012346 -> 0.3");
  return e;
}

// The journal keeps the board's values to the last bit; finished entries no longer count as
// unfinished, and each port's unfinished entries are its own.
TEST_F(RunStoreTest, JournalEntriesComeBackWholeAndFinish) {
  TRunStore store;
  QString error;
  ASSERT_TRUE(store.Open(Path(), error)) << error.toStdString();
  TJournalEntry a = MakeEntry("COM5"), b = MakeEntry("COM6"), c = MakeEntry("COM5");
  for (TJournalEntry* e : {&a, &b, &c}) ASSERT_TRUE(store.BeginJournal(*e, error)) << error.toStdString();
  ASSERT_TRUE(store.FinishJournal(a.Id, "put back", error)) << error.toStdString();
  EXPECT_FALSE(store.FinishJournal(c.Id + 10, "put back", error));

  std::vector<TJournalEntry> unfinished;
  ASSERT_TRUE(store.UnfinishedJournal("COM5", unfinished, error));
  ASSERT_EQ(unfinished.size(), 1u);
  EXPECT_EQ(unfinished[0].Id, c.Id);
  std::vector<TJournalEntry> all;
  ASSERT_TRUE(store.ListJournal(all, error));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_TRUE(all[0].Finished);
  EXPECT_EQ(all[0].Outcome, "put back");
  EXPECT_FALSE(all[1].Finished);

  TJournalEntry back;
  ASSERT_TRUE(store.LoadJournal(b.Id, back, error));
  EXPECT_EQ(back.Port, "COM6");
  EXPECT_EQ(back.Command, b.Command);
  EXPECT_EQ(back.Planned, b.Planned);
  EXPECT_EQ(back.Board.P, 0.12345678901234567);
  EXPECT_EQ(back.Board.FF1, 0.7);
  EXPECT_EQ(back.Board.SVMCycle, 3);
  EXPECT_EQ(back.Time.toMSecsSinceEpoch(), b.Time.toMSecsSinceEpoch());
  EXPECT_FALSE(store.LoadJournal(c.Id + 10, back, error));
  EXPECT_TRUE(error.contains("no backup")) << error.toStdString();
}

// Reading only creates nothing: an absent history reads as empty and stays absent, and an
// existing one is read without a change to its bytes.
TEST_F(RunStoreTest, ReadOnlyOpenChangesNothing) {
  {
    TRunStore store;
    QString error;
    ASSERT_TRUE(store.Open(Path(), error, 3000, TStoreAccess::ReadOnly)) << error.toStdString();
    std::vector<TRunListing> list;
    std::vector<TJournalEntry> journal;
    EXPECT_TRUE(store.List(0, list, error));
    EXPECT_TRUE(store.ListJournal(journal, error));
    EXPECT_TRUE(list.empty() && journal.empty());
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(Path()).absolutePath()));
  }
  {
    TRunStore store;
    QString error;
    ASSERT_TRUE(store.Open(Path(), error));
    TStepRun run = MakeRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"), {}, 100);
    ASSERT_TRUE(store.Insert(run, error));
  }
  const QByteArray before = FileHash(Path());
  TRunStore store;
  QString error;
  ASSERT_TRUE(store.Open(Path(), error, 3000, TStoreAccess::ReadOnly)) << error.toStdString();
  std::vector<TRunListing> list;
  ASSERT_TRUE(store.List(0, list, error));
  EXPECT_EQ(list.size(), 1u);
  TStepRun spare = MakeRun(QStringLiteral("2024-05-02T09:15:00.125+02:00"), {}, 100);
  EXPECT_FALSE(store.Insert(spare, error));
  EXPECT_EQ(FileHash(Path()), before);
}

// The store keeps its reading statements compiled between calls. A statement left open would
// keep the view of the file it first read, and would keep the connection from closing.
TEST_F(RunStoreTest, KeptStatementsSeeOtherProgramsRunsAndLetTheFileClose) {
  {
    TRunStore store, other;
    QString error;
    ASSERT_TRUE(store.Open(Path(), error)) << error.toStdString();
    ASSERT_TRUE(other.Open(Path(), error)) << error.toStdString();
    std::vector<TRunListing> list;
    std::vector<TStepRun> runs;
    std::vector<TJournalEntry> journal;
    for (int k = 1; k <= 3; ++k) {
      TStepRun run = MakeRun(QStringLiteral("2024-05-02T09:1%1:00.000+02:00").arg(k), "r", 100 + k);
      ASSERT_TRUE(other.Insert(run, error)) << error.toStdString();
      TJournalEntry entry = MakeEntry("COM5");
      ASSERT_TRUE(other.BeginJournal(entry, error)) << error.toStdString();
      ASSERT_TRUE(store.List(0, list, error)) << error.toStdString();
      ASSERT_EQ(list.size(), size_t(k));
      ASSERT_TRUE(store.Load({list.back().Run.Id}, runs, error)) << error.toStdString();
      EXPECT_EQ(runs[0].Step, 100 + k);
      ASSERT_TRUE(store.UnfinishedJournal("COM5", journal, error));
      EXPECT_EQ(journal.size(), size_t(k));
    }
    EXPECT_FALSE(store.Load({list.back().Run.Id + 7}, runs, error));
    EXPECT_TRUE(error.contains("no run")) << error.toStdString();
    EXPECT_TRUE(runs.empty());
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
      {"params", "x'000000000000f03f'", [](const TStepRun& r) {
         EXPECT_EQ(r.Params.P, 1.0);
         EXPECT_EQ(r.Params.MaxOutput, 0);
       }},
      {"time", "42", [](const TStepRun& r) { EXPECT_TRUE(r.Time.isValid()); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Column) + " = " + c.Value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runs.sqlite"));
    TRunStore store;
    QString error;
    ASSERT_TRUE(store.Open(path, error)) << error.toStdString();
    TStepRun run = MakeRun(QStringLiteral("2024-05-02T09:15:00.000+02:00"), "plain", 100);
    ASSERT_TRUE(store.Insert(run, error)) << error.toStdString();
    {
      TOtherProgram other(path);
      ASSERT_TRUE(other.Exec(QStringLiteral("UPDATE runs SET %1 = %2").arg(c.Column, c.Value)));
    }
    std::vector<TRunListing> list;
    ASSERT_TRUE(store.List(0, list, error)) << error.toStdString();
    ASSERT_EQ(list.size(), 1u);
    c.Check(list[0].Run);
    std::vector<TStepRun> runs;
    ASSERT_TRUE(store.Load({run.Id}, runs, error)) << error.toStdString();
    c.Check(runs[0]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
