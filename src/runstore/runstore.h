#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <vector>

#include "steprun/steprun.h"

class QSqlError;
struct sqlite3_stmt;

// One entry of the journal: what a board held before a command first wrote its EEPROM, so
// that the values can be put back even when the command never could (killed, power lost).
struct TJournalEntry {
  qint64 Id = 0;          // its number, 0 while not stored
  QDateTime Time;         // when the command was about to write
  QString Port;           // the port name as the command was given it
  QString Command;        // the command line after "zirv7ctl"
  TPIDParams Board;       // the board's values before the first write
  QString Planned;        // what the command was about to write ("P 0.2 -> 0.3, ...")
  bool Finished = false;  // the board was put back, or the change was meant to stay
  QString Outcome;        // how it finished ("put back", "kept", ...); "" while unfinished
};

// How a store is opened.
enum class TStoreAccess {
  ReadWrite,  // created when absent, brought up to date
  ReadOnly    // only read: works on a read-only disk; an absent file reads as empty
};

// A stored run as the history lists it: everything but the samples, and how many there are.
struct TRunListing {
  TStepRun Run;  // Errors and Outputs are empty
  int SampleCount = 0;
};

// The history of step-response runs, and the journal of the board's values before each
// EEPROM write of the companion, in an SQLite file. The schema's version is the file's
// PRAGMA user_version; opening brings an older file up to date step by step, and refuses a
// file from a newer program, a damaged file or one it cannot lock, touching none of them. The
// file is in WAL mode and each run is stored in a transaction of its own, so a run is either
// wholly stored or not at all.
class TRunStore {
 public:
  // The schema version this program writes.
  static constexpr int kSchemaVersion = 4;

  // Returns ${XDG_DATA_HOME:-~/.local/share}/zirv7tune/runs.sqlite.
  static QString DefaultPath();

  TRunStore();
  ~TRunStore();
  TRunStore(const TRunStore&) = delete;
  TRunStore& operator=(const TRunStore&) = delete;

  // Opens the file, creating it and its folder when absent, and brings its schema up to date.
  // A busy file is waited for up to busyTimeoutMs. Returns false with a message for the user
  // in error (see the class comment).
  // With TStoreAccess::ReadOnly nothing is created or changed: a file of an older version is
  // read as it is only where its tables suffice.
  bool Open(const QString& path, QString& error, int busyTimeoutMs = 3000,
            TStoreAccess access = TStoreAccess::ReadWrite);

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

  // Stores a journal entry, unfinished, and sets its Id and Time; it is on the disk when this
  // returns (a transaction of its own, synchronised). Returns false with a message when not.
  bool BeginJournal(TJournalEntry& entry, QString& error);

  // Marks a journal entry finished with the outcome. Returns false with a message when not.
  bool FinishJournal(qint64 id, const QString& outcome, QString& error);

  // Lists the journal's entries, oldest first.
  bool ListJournal(std::vector<TJournalEntry>& entries, QString& error);

  // Lists the unfinished journal entries of a port (named as the commands were given it),
  // oldest first.
  bool UnfinishedJournal(const QString& port, std::vector<TJournalEntry>& entries, QString& error);

  // Loads one journal entry. An id that is not stored is an error.
  bool LoadJournal(qint64 id, TJournalEntry& entry, QString& error);

 private:
  bool Probe(const QString& path, QString& error);
  bool OpenReadOnly(const QString& path, QString& error, int busyTimeoutMs);
  // Returns whether the open file has the table (an absent file or an older one may not).
  bool HasTable(const char* table);
  bool ReadJournal(const QString* port, std::vector<TJournalEntry>& entries, QString& error);
  bool Migrate(QString& error);
  QString Describe(const class QSqlError& e, const QString& what) const;
  // A reading statement, compiled on its first use and kept for the store's life, and run by
  // SQLite itself: listing and showing are called in loops, and both compiling and Qt's
  // description of every column at each run cost more than reading the rows.
  struct TStatement {
    sqlite3_stmt* Handle = nullptr;
  };
  // Compiles the statement's sql unless it is already; false with the error in e when not.
  bool Prepare(TStatement& statement, const char* sql, QSqlError& e);
  void FinalizeStatements();

  QString FConnection;
  QSqlDatabase FDb;
  // The reading statements, kept compiled. Each is reset after use, so that none holds a read
  // transaction (and an old view of the file) open between calls.
  TStatement FListRuns, FLoadRun, FFindTable, FJournal, FPortJournal, FJournalEntry;
  bool FHasJournal = false;  // the journal table was seen; no program drops it
};

// The steps that bring a file from one version to the next: step i makes version i + 1.
const std::vector<std::vector<const char*>>& RunStoreMigrations();
