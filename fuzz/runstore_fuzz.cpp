// Fuzzes the run history's decoding of what a file holds: rows of runs, their samples and
// journal entries of any type and content (SQLite stores whatever a program writes into any
// column), read through the functions the companion's history, show and backups use, and
// printed as they print them. The store is an in-memory database the target fills.
#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTextStream>
#include <QVariant>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ctl/runjson.h"
#include "ctl/runtable.h"
#include "runstore/runstore.h"

namespace {

// One value as a program might have stored it: NULL, an integer, a real, text or a blob.
QVariant AnyValue(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: return QVariant();
    case 1: return QVariant(input.ConsumeIntegral<qint64>());
    case 2: return QVariant(input.ConsumeFloatingPoint<double>());
    case 3: return QVariant(QString::fromStdString(input.ConsumeRandomLengthString(64)));
    default: {
      const std::string bytes = input.ConsumeRandomLengthString(512);
      return QVariant(QByteArray(bytes.data(), qsizetype(bytes.size())));
    }
  }
}

// Inserts a row of values into a table through its prepared statement; the ids stay small so
// that rows meet each other.
void InsertRow(QSqlQuery& insert, FuzzedDataProvider& input, int count) {
  insert.addBindValue(input.ConsumeIntegralInRange<qint64>(-2, 8));
  for (int k = 1; k < count; ++k) insert.addBindValue(AnyValue(input));
  insert.exec();  // a value that breaks a NOT NULL rule leaves the row out, as SQLite would
}

// The statement inserting (or replacing) a row of count values into table.
QSqlQuery PrepareInsert(const QSqlDatabase& db, const char* table, int count) {
  QSqlQuery q(db);
  QString marks = QStringLiteral("?");
  for (int k = 1; k < count; ++k) marks += QStringLiteral(", ?");
  if (!q.prepare(QStringLiteral("INSERT OR REPLACE INTO %1 VALUES (%2)").arg(QLatin1String(table), marks)))
    std::abort();
  return q;
}

struct TFixture {
  TRunStore Store;
  QSqlDatabase Db;
  // Prepared once: compiling the statements again for each input cost more than the input.
  QSqlQuery Runs, Samples, Journal;
};

TFixture& Fixture() {
  static TFixture* fixture = [] {
    static int argc = 1;
    static char name[] = "runstore_fuzz";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    auto* f = new TFixture;
    QString error;
    if (!f->Store.Open(QStringLiteral(":memory:"), error)) std::abort();
    // The store's own connection: an in-memory database is private to its connection.
    for (const QString& name : QSqlDatabase::connectionNames())
      if (name.startsWith(QLatin1String("zirv_runstore_"))) f->Db = QSqlDatabase::database(name);
    if (!f->Db.isOpen()) std::abort();
    f->Runs = PrepareInsert(f->Db, "runs", 19);
    f->Samples = PrepareInsert(f->Db, "run_samples", 2);
    f->Journal = PrepareInsert(f->Db, "journal", 9);
    return f;
  }();
  return *fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFixture& f = Fixture();
  FuzzedDataProvider input(data, size);
  // Each input's rows live in a transaction rolled back at the end, so every input starts from
  // empty tables.
  if (!f.Db.transaction()) std::abort();
  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 2)) {
      case 0: InsertRow(f.Runs, input, 19); break;
      case 1: InsertRow(f.Samples, input, 2); break;
      default: InsertRow(f.Journal, input, 9); break;
    }
  }

  QString text, errors, answers;
  QTextStream out(&text), err(&errors), in(&answers);
  TCtlIo io{out, err, in};
  QString error;
  std::vector<TRunListing> listings;
  if (f.Store.List(0, listings, error)) PrintRunsJson(io, listings);
  std::vector<qint64> ids;
  for (const TRunListing& l : listings) ids.push_back(l.Run.Id);
  std::vector<TStepRun> runs;
  if (f.Store.Load(ids, runs, error)) {
    PrintRunsJson(io, runs);
    PrintRunTable(io, runs);
  }
  std::vector<TJournalEntry> entries;
  f.Store.ListJournal(entries, error);
  f.Store.UnfinishedJournal(QStringLiteral("COM1"), entries, error);
  if (!f.Db.rollback()) std::abort();
  return 0;
}
