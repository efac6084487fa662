#pragma once

// A parameter set written to the board as the window's "Write to ZIRV EE-Prom" writes it,
// for write and restore: only the rows that differ, with the same set commands in table order,
// every answer checked; the plan shown first and the question asked.

#include <functional>

#include "boardsession/session.h"
#include "ctl/command.h"

struct TWriteRequest {
  QString Command;     // "write", "restore": names the command in messages
  QString Source;      // where the values come from: "good.pset", "backup 3"
  bool Yes = false;    // write without asking
  bool DryRun = false; // show the differences only
  // Called once before the first EEPROM write, with the plan; false stops with nothing
  // written (the store of the board's values could not be made). Empty: nothing to do.
  std::function<bool(const std::vector<TPlannedWrite>&)> BeforeFirstWrite;
  // Called when the write is over, the board's values as they are then known: whether they
  // are as meant (all written, or put back after a failure) or may differ (unknown).
  std::function<void(bool settled)> AfterWrite;
  // A line that tells how to get the board's values back once the write has begun ("zirv7ctl
  // restore --port COM2 3"); "" when there is none.
  std::function<QString()> RestoreHint;
};

// Writes target's differing values to the board of session (opened, its originals read):
// prints the plan (on stdout for a dry run, which then ends), asks unless Yes, writes row by
// row, and prints one line per row written: the value sent and, for a value the board limits,
// what it holds instead. Ctrl+C (or TERM, HUP) between rows stops the write and puts the
// board's values back; so does a write that fails, and what the board may still hold is said.
// Returns a TExitCode: 0 when the board holds target, 1 when it does not (declined, limited,
// failed or interrupted).
int WriteParameterSet(TCtlIo& io, TBoardSession& session, const TParamValues& target,
                      const TWriteRequest& request);
