// Fuzzes the run history's decoding of what a file holds: rows of runs, their samples, journal
// entries and tuning trials of any type and content (SQLite stores whatever a program writes
// into any column), read through the functions the companion's history, show and backups use,
// and printed in one of the forms they print (tables, JSON, CSV). The store is an in-memory
// database the target fills through SQLite itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QString>
#include <QTextStream>
#include <QVariant>
#include <cstdint>
#include <cstdlib>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "ctl/runjson.h"
#include "ctl/runtable.h"
#include "runstore/runstore.h"

namespace {

constexpr size_t kMaxText = 64;
// The widest table, runs, has this many columns.
constexpr int kMaxColumns = 32;
constexpr size_t kMaxBlob = 512;

// Binds one value as a program might have stored it at position k: NULL, an integer, a real,
// text (any bytes, valid UTF-8 or not) or a blob. Text and blob bytes are copied into room of
// the value's own, which SQLite reads in place until the row is inserted: a string per value
// and SQLite's copy of it were most of the allocations an input cost.
void BindAnyValue(sqlite3_stmt* insert, int k, FuzzedDataProvider& input, char* room) {
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: sqlite3_bind_null(insert, k); break;
    case 1: sqlite3_bind_int64(insert, k, input.ConsumeIntegral<sqlite3_int64>()); break;
    case 2: sqlite3_bind_double(insert, k, input.ConsumeFloatingPoint<double>()); break;
    case 3: {
      const size_t size = input.ConsumeData(room, input.ConsumeIntegralInRange<size_t>(0, kMaxText));
      sqlite3_bind_text(insert, k, room, int(size), SQLITE_STATIC);
      break;
    }
    default: {
      const size_t size = input.ConsumeData(room, input.ConsumeIntegralInRange<size_t>(0, kMaxBlob));
      sqlite3_bind_blob(insert, k, room, int(size), SQLITE_STATIC);
      break;
    }
  }
}

// Inserts a row of values into a table through its prepared statement; the ids stay small so
// that rows meet each other. The rows go in through SQLite itself, as another program's would,
// and cheaply: the binding layer above it cost more than the reading under test.
void InsertRow(sqlite3_stmt* insert, FuzzedDataProvider& input, int count) {
  static char rooms[kMaxColumns][kMaxBlob];
  sqlite3_bind_int64(insert, 1, input.ConsumeIntegralInRange<sqlite3_int64>(-2, 8));
  for (int k = 2; k <= count; ++k) BindAnyValue(insert, k, input, rooms[k - 1]);
  sqlite3_step(insert);
  sqlite3_reset(insert);
  sqlite3_clear_bindings(insert);
}

sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) std::abort();
  return statement;
}

// The statement inserting a row of count values into table; a row whose id is taken, or
// whose value breaks a NOT NULL rule, is left out.
sqlite3_stmt* PrepareInsert(sqlite3* db, const char* table, int count) {
  std::string sql = std::string("INSERT OR IGNORE INTO ") + table + " VALUES (?";
  for (int k = 1; k < count; ++k) sql += ", ?";
  return Prepare(db, sql + ")");
}

constexpr int kMaxRows = 8;

struct TFixture {
  TRunStore Store;
  // Prepared once: compiling the statements again for each input cost more than the input.
  sqlite3_stmt *Runs = nullptr, *Samples = nullptr, *Journal = nullptr, *Trials = nullptr;
  sqlite3_stmt *Begin = nullptr, *Rollback = nullptr;
};

// Runs a statement that returns no rows, and makes it ready to run again.
bool Run(sqlite3_stmt* statement) {
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  return done;
}

TFixture& Fixture() {
  static TFixture* fixture = [] {
    static int argc = 1;
    static char name[] = "runstore_fuzz";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    auto* f = new TFixture;
    if (!f->Store.Open(QStringLiteral(":memory:"))) std::abort();
    // The store's own connection: an in-memory database is private to its connection.
    sqlite3* db = nullptr;
    for (const QString& name : QSqlDatabase::connectionNames()) {
      if (!name.startsWith(QLatin1String("zirv_runstore_"))) continue;
      const QVariant handle = QSqlDatabase::database(name).driver()->handle();
      if (qstrcmp(handle.typeName(), "sqlite3*") == 0) db = *static_cast<sqlite3* const*>(handle.data());
    }
    if (!db) std::abort();
    f->Runs = PrepareInsert(db, "runs", kMaxColumns);
    f->Samples = PrepareInsert(db, "samples", 5);
    f->Journal = PrepareInsert(db, "journal", 24);
    f->Trials = PrepareInsert(db, "trials", 23);
    f->Begin = Prepare(db, "BEGIN");
    f->Rollback = Prepare(db, "ROLLBACK");
    return f;
  }();
  return *fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFixture& f = Fixture();
  FuzzedDataProvider input(data, size);
  // What a command reads and prints is the input's choice, as one command run reads: the
  // history's listing (table or JSON), runs by id as show and the CSV export load them, or the
  // journal as backups, restore and a board command's check read it. One read per input keeps
  // each input cheap; every read still meets every kind of row.
  const int form = input.ConsumeIntegralInRange(0, 5);
  const int last = input.ConsumeIntegralInRange(0, kMaxRows);
  std::vector<qint64> ids(input.ConsumeIntegralInRange(1, 3));
  for (qint64& id : ids) id = input.ConsumeIntegralInRange<qint64>(-2, 8);
  // Each input's rows live in a transaction rolled back at the end, so every input starts from
  // empty tables.
  if (!Run(f.Begin)) std::abort();
  // Ids stay within eleven values, so a few rows already meet each other in every way; more
  // rows per input only print more of the same, and the inputs libFuzzer grows would spend
  // their time there.
  for (int rows = 0; rows < kMaxRows && input.remaining_bytes() > 0; ++rows) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0: InsertRow(f.Runs, input, kMaxColumns); break;
      case 1: InsertRow(f.Samples, input, 5); break;
      case 2: InsertRow(f.Journal, input, 24); break;
      default: InsertRow(f.Trials, input, 23); break;
    }
  }

  QString text, errors, answers;
  QTextStream out(&text), err(&errors), in(&answers);
  TCtlIo io{out, err, in};
  if (form <= 1) {
    if (const TResult<std::vector<TRunListing>> listings = f.Store.List(last)) {
      if (form == 0) PrintHistoryTable(io, *listings);
      else PrintRunsJson(io, *listings);
    }
  } else if (form <= 4) {
    if (const TResult<std::vector<TStepRun>> runs = f.Store.Load(ids)) {
      if (form == 2) PrintRunTable(io, *runs);
      else if (form == 3) PrintRunsJson(io, *runs);
      else RunsCsv(*runs);
    }
  } else {
    (void)f.Store.ListJournal();
    (void)f.Store.UnfinishedJournal(QStringLiteral("/dev/serial/by-id/usb-1"), QStringLiteral("COM1"));
    (void)f.Store.LoadJournal(ids.front());
    (void)f.Store.LoadTrials(ids.back());
  }
  if (!Run(f.Rollback)) std::abort();
  return 0;
}
