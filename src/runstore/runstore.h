#pragma once

#include <QSqlDatabase>
#include <QString>
#include <vector>

#include "steprun/steprun.h"

// A stored run as the history lists it: everything but the samples, and how many there are.
struct TRunListing {
  TStepRun Run;  // Errors and Outputs are empty
  int SampleCount = 0;
};

// The history of step-response runs in an SQLite file. The schema's version is the file's
// PRAGMA user_version; opening brings an older file up to date step by step, and refuses a
// file from a newer program, a damaged file or one it cannot lock, touching none of them. The
// file is in WAL mode and each run is stored in a transaction of its own, so a run is either
// wholly stored or not at all.
class TRunStore {
 public:
  // The schema version this program writes.
  static constexpr int kSchemaVersion = 3;

  // Returns ${XDG_DATA_HOME:-~/.local/share}/zirv7tune/runs.sqlite.
  static QString DefaultPath();

  TRunStore();
  ~TRunStore();
  TRunStore(const TRunStore&) = delete;
  TRunStore& operator=(const TRunStore&) = delete;

  // Opens the file, creating it and its folder when absent, and brings its schema up to date.
  // A busy file is waited for up to busyTimeoutMs. Returns false with a message for the user
  // in error (see the class comment).
  bool Open(const QString& path, QString& error, int busyTimeoutMs = 3000);

  // Stores the run and sets its Id. Returns false with a message when it cannot; the history
  // is then as it was.
  bool Insert(TStepRun& run, QString& error);

  // Lists the last runs in the order they were made (all when last <= 0).
  bool List(int last, std::vector<TRunListing>& runs, QString& error);

  // Loads the runs with the given ids, with their samples, in the order of ids. An id that is
  // not stored is an error.
  bool Load(const std::vector<qint64>& ids, std::vector<TStepRun>& runs, QString& error);

  // Returns the schema version of the open file.
  int SchemaVersion();

 private:
  bool Probe(const QString& path, QString& error);
  bool Migrate(QString& error);
  QString Describe(const class QSqlError& e, const QString& what) const;

  QString FConnection;
  QSqlDatabase FDb;
};

// The steps that bring a file from one version to the next: step i makes version i + 1.
const std::vector<std::vector<const char*>>& RunStoreMigrations();
