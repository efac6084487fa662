#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <map>
#include <optional>
#include <vector>

#include "globals/result.h"
#include "steprun/steprun.h"

struct sqlite3;
struct sqlite3_stmt;
enum class TParamLayout;

// What the board's values were kept for.
enum class TJournalKind {
  Write,  // a command was about to write the board's EEPROM
  Move    // a command was about to start the board's test oscillator ("o"), until stopped
};

// One entry of the journal: what a board held before a command first wrote its EEPROM (or
// moved its motor), so that the values can be put back even when the command never could
// (killed, power lost).
struct TJournalEntry {
  qint64 Id = 0;          // its number, 0 while not stored
  TJournalKind Kind = TJournalKind::Write;
  QDateTime Time;         // when the command was about to write
  QString Port;           // the port name as the command was given it
  // The stable name of the device the port led to when the entry began (its /dev/serial/by-id
  // name where it has one, else the device the name led to); "" where it could not be told,
  // and in entries kept before the journal knew devices.
  QString Device;
  QString Command;        // the command line after "zirv7ctl"
  TPIDParams Board;       // the board's values before the first write
  QString Planned;        // what the command was about to write ("P 0.2 -> 0.3, ...")
  bool Finished = false;  // the board was put back, or the change was meant to stay
  QString Outcome;        // how it finished ("put back", "kept", ...); "" while unfinished
};

// One trial of a tuning search on the board: the values it wrote, the runs it measured them
// with and what the search made of them. A search is one journaled write; its trials belong
// to that journal entry.
struct TTrial {
  qint64 Id = 0;          // its number in the history, 0 while not stored
  qint64 JournalId = 0;   // the search's journal entry
  int Number = 0;         // its place in the search: 1, 2, ...
  TPIDParams Gains;       // the fourteen values the board held for the trial
  qint64 ForwardRun = 0;  // the step's run, 0 when none was made
  qint64 ReverseRun = 0;  // the step back's run, 0 when none
  qint64 RestRun = 0;     // the rest record's run, 0 when none
  QString Verdict;        // what the search concluded ("kept", "overshoot 7.2 %", ...)
  std::optional<double> Cost;  // the search's measure of the trial, lower is better
  bool Dangerous = false;      // the record showed a danger, and the values went back at once
};

// How a store is opened.
enum class TStoreAccess {
  ReadWrite,  // created when absent, brought up to date
  ReadOnly,   // only read: works on a read-only disk; an absent file reads as empty
  // ReadWrite where the file and its folder can be written, else ReadOnly (see Writable()):
  // for a command that must read even where it cannot keep what it does.
  WriteWherePossible
};

// A stored run as the history lists it: everything but the samples, and how many there are.
struct TRunListing {
  TStepRun Run;  // Errors and Outputs are empty
  int SampleCount = 0;
};

// The history of step-response runs, the journal of the board's values before each EEPROM
// write of the companion, and the trials of tuning searches, in an SQLite file that plain SQL
// can read: every value in a column of its own, a run's samples one row each. The schema's
// version is the file's PRAGMA user_version; opening brings an older file up to date step by
// step, and refuses a file from a newer program, a damaged file, one it cannot lock or
// anything but a regular file, touching none of them. The file is in WAL mode and each run is
// stored in a transaction of its own, so a run is either wholly stored or not at all.
class TRunStore {
 public:
  // The schema version this program writes.
  static constexpr int kSchemaVersion = 5;
  // How long a file that another program is writing is waited for.
  static constexpr int kBusyTimeoutMs = 3000;

  // Returns ${XDG_DATA_HOME:-~/.local/share}/zirv7tune/runs.sqlite. Fails when neither
  // variable names a folder (absolute paths only): the history then has no place of its own.
  static TResult<QString> DefaultPath();

  TRunStore();
  ~TRunStore();
  TRunStore(const TRunStore&) = delete;
  TRunStore& operator=(const TRunStore&) = delete;

  // Opens the file, creating it and its folder when absent, and brings its schema up to date
  // (see the class comment). A busy file is waited for up to busyTimeoutMs.
  // With TStoreAccess::ReadOnly nothing is created or changed: a file of an older version is
  // read as it is where its tables suffice (version 3 and later).
  TResult<void> Open(const QString& path, TStoreAccess access = TStoreAccess::ReadWrite,
                     int busyTimeoutMs = kBusyTimeoutMs);

  // Returns whether the open store takes changes (false when opened only to read).
  bool Writable() const { return FWritable; }

  // Stores the run and sets its Id; the history is as it was when this fails.
  TResult<void> Insert(TStepRun& run);

  // Lists the last runs in the order they were made (all when last <= 0).
  TResult<std::vector<TRunListing>> List(int last);

  // Loads the runs with the given ids, with their samples, in the order of ids. An id that is
  // not stored is an error.
  TResult<std::vector<TStepRun>> Load(const std::vector<qint64>& ids);

  // Returns the schema version of the open file (0 for an absent one opened to read).
  int SchemaVersion() const { return FVersion; }

  // Stores a journal entry, unfinished, and sets its Id and Time; it is on the disk when this
  // returns (a transaction of its own, synchronised).
  TResult<void> BeginJournal(TJournalEntry& entry);

  // Marks a journal entry finished with the outcome.
  TResult<void> FinishJournal(qint64 id, const QString& outcome);

  // Lists the journal's entries, oldest first.
  TResult<std::vector<TJournalEntry>> ListJournal();

  // Lists the unfinished journal entries of a device, oldest first: those begun on device,
  // and those that name no device (older ones) begun on port, as the commands were given it.
  // An empty device finds the entries by port alone.
  TResult<std::vector<TJournalEntry>> UnfinishedJournal(const QString& device, const QString& port);

  // Loads one journal entry. An id that is not stored is an error.
  TResult<TJournalEntry> LoadJournal(qint64 id);

  // Stores a trial of a tuning search and sets its Id. A search numbers its trials once each.
  TResult<void> AddTrial(TTrial& trial);

  // Lists the trials of the search journaled as journalId, in the order of their numbers.
  TResult<std::vector<TTrial>> LoadTrials(qint64 journalId);

 private:
  TResult<void> OpenReadWrite(const QString& path, int busyTimeoutMs);
  TResult<void> OpenReadOnly(const QString& path, int busyTimeoutMs);
  TResult<void> Probe(const QString& path);
  TResult<void> Migrate();
  void Close();
  // A statement compiled on its first use and kept for the store's life, run by SQLite itself:
  // listing and showing are called in loops, and both compiling and Qt's description of every
  // column at each run cost more than reading the rows. Each is reset after use, so that none
  // holds a read transaction (and an old view of the file) open between calls.
  TResult<sqlite3_stmt*> Statement(const char* sql, const QString& what);
  // The failure of the connection's last call, and what it left undone.
  TFailure LastFailure(const QString& what) const;
  // Runs a statement that returns no rows and resets it; false when SQLite fails.
  bool Run(sqlite3_stmt* statement);
  bool Exec(const char* sql);
  // Reads every row of a compiled statement with read into items.
  template <class T, class F>
  TResult<std::vector<T>> ReadAll(sqlite3_stmt* statement, const QString& what, F read);
  // Where the open file keeps its fourteen values (see rows.h), and the statement of that
  // layout: packedSql for versions 3 and 4, sql for version 5.
  TParamLayout Layout() const;
  TResult<sqlite3_stmt*> StatementFor(const char* packedSql, const char* sql, const QString& what);
  // Reads journal entries with the statement of the file's layout, after bind gave it its
  // values; none from a file older than the journal.
  template <class Bind>
  TResult<std::vector<TJournalEntry>> ReadJournal(const char* packedSql, const char* sql, Bind bind);

  QString FConnection;
  QSqlDatabase FDb;
  sqlite3* FHandle = nullptr;  // FDb's connection, null while none is open
  int FVersion = 0;            // the open file's schema version
  bool FWritable = false;
  std::map<const char*, sqlite3_stmt*> FStatements;
};

// One statement of a step of the schema: SQL, or a function for what SQL cannot do (decoding
// the packed values of version 4), which returns false with the connection's error set.
struct TMigrationStatement {
  const char* Sql = nullptr;
  bool (*Convert)(sqlite3* db) = nullptr;
};

// The steps that bring a file from one version to the next: step i makes version i + 1.
const std::vector<std::vector<TMigrationStatement>>& RunStoreMigrations();
