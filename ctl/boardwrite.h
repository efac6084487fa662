#pragma once

// A parameter set written to the board as the window's "Write to ZIRV EE-Prom" writes it,
// for write and restore: only the rows that differ, with the same set commands in table order,
// every answer checked; the plan shown first and the question asked.

#include <QCommandLineParser>

#include "boardsession/session.h"
#include "ctl/command.h"

class TRunStore;

struct TWriteRequest {
  QString Command;      // "write", "restore": names the command in messages
  QString CommandLine;  // the command line as the journal keeps it
  QString Source;       // where the values come from: "good.pset", "backup 3"
  bool Yes = false;     // write without asking
  bool DryRun = false;  // show the differences only
  // The run history whose journal keeps the board's values before the first write (a
  // backup); it must be open. Nothing is journaled when nothing is written.
  TRunStore* Journal = nullptr;
};

// Returns the request of the command named command, run with args as parser read them (--yes,
// --dry-run), to write the values of source.
TWriteRequest WriteRequestOf(const QCommandLineParser& parser, const QString& command,
                             const QStringList& args, const QString& source);

// Writes target's differing values to the board of session (opened, its originals read):
// prints the plan (on stdout for a dry run, which then ends), asks unless Yes, keeps the
// board's values in the journal before the first write, writes row by row, and prints one line
// per row written: the value sent and, for a value the board limits, what it holds instead.
// Ctrl+C (or TERM, HUP) between rows stops the write and puts the board's values back; so does
// a write that fails, and what the board may still hold is said, with the backup that keeps
// the values from before.
// Returns a TExitCode: 0 when the board holds target, 1 when it does not (declined, limited,
// failed or interrupted).
int WriteParameterSet(TCtlIo& io, TBoardSession& session, const TParamValues& target,
                      const TWriteRequest& request);
