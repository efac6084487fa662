#pragma once

// The board procedures as the commands run them: the hooks that show plans and progress, ask,
// and stop on Ctrl+C or output nobody reads; and what is printed of a transaction's end.
// Every failure is printed as "zirv7ctl: <port>: <why>" with its explanation beneath.

#include <QString>
#include <optional>

#include "boardsession/procedure.h"
#include "boardsession/session.h"
#include "boardsession/transaction.h"
#include "ctl/commandline.h"

// Opens the named port and reads the board's values; on failure prints why (the port's own
// message and what it means when it cannot be opened, what to check when the board is silent).
// Before anything else it tells of every earlier command on the same device, however it was
// named, whose journal entry never finished: the board may still hold what that command wrote,
// unless the command is still running (then it puts the board back itself). An earlier move
// that never stopped the test oscillator is stopped once the port is open, and said so.
bool OpenBoard(TCtlIo& io, TBoardSession& session, const QString& port);

// Returns why a command that writes the board must stop now: Ctrl+C (TERM, HUP, QUIT), or
// output nobody can read; nothing when it may go on.
std::optional<TFailure> StopReason(TCtlIo& io);

// Returns the hooks of a board procedure on port: progress on Err ("<port>: <line>"), a stop
// told as "zirv7ctl: <port>: <why>; the board's values go back", and the plan shown on Err
// before the question "Write to the board's EEPROM?", which yes answers where a plan lets it.
TBoardHooks BoardHooks(TCtlIo& io, const QString& port, bool yes);

// Prints the plan: "<command> will make N EEPROM writes on <port> (<source>):" and one line
// per write, or per step of several; then each of its warnings on Err.
void PrintPlan(TCtlIo& io, QTextStream& out, const TWritePlan& plan);

// Prints how a transaction on port ended where it says more than the command's own output:
// put back after a failure (and the backup that keeps the values), values that could not be
// put back (what the board may still hold, what it held, and how to put it back), a journal
// entry that could not be marked finished (and the command that marks it without undoing
// anything). Returns whether it ended as it should: not left changed, its entry finished.
bool PrintTransactionEnd(TCtlIo& io, const QString& port, const TTransactionResult& transaction);

// Returns status, or kExitFailed after saying on Err that the values written stay on the
// board, when Out could not be written once the transaction kept them.
int OutputStatusAfter(TCtlIo& io, const TTransactionResult& transaction, int status);

// Returns the command line as the journal keeps it: the command's name and its arguments.
QString CommandLine(const TCommandArgs& args);

// Returns the command that puts the values of a journal entry back on the port.
QString RestoreCommand(const QString& port, qint64 journalId);
