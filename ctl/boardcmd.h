#pragma once

// The board session as the commands use it: every failure printed as
// "zirv7ctl: <port>: <why>".

#include <QString>

#include "boardsession/session.h"
#include "ctl/command.h"
#include "runstore/runstore.h"

// Opens the named port and reads the board's values; on failure prints why (the port's own
// message and what it means when it cannot be opened, what to check when the board is silent).
// Before anything else it tells of every earlier command on the port whose journal entry never
// finished: the board may still hold what that command wrote, not its own values.
bool OpenBoard(TCtlIo& io, TBoardSession& session, const QString& port);

// Writes target's values that differ from the board, checking every answer (TBoardSession::
// Write). Each value the board holds otherwise than sent is told as "the board holds MaxOutput
// 100 where <source> has 150"; with TEchoRule::Stop it ends the write. On failure prints why.
bool WriteToBoard(TCtlIo& io, TBoardSession& session, const TParamValues& target, TEchoRule rule,
                  const QString& source);

// Returns the command line as the journal keeps it: the command's name and its arguments.
QString CommandLine(const QString& name, const QStringList& args);

// Keeps the session's originals in the journal of store before its first write, with the
// command line and what it is about to write (planned), and marks the entry finished when the
// session puts the board back or keeps the change. store must stay open while the session
// writes. When the entry cannot be stored nothing is written and the write says why.
void JournalWrites(TCtlIo& io, TBoardSession& session, TRunStore& store, const QString& commandLine,
                   const QString& planned);

// Returns the command that puts the values of a journal entry back on the port.
QString RestoreCommand(const QString& port, qint64 journalId);

// Puts the board's original values back and checks them with a read (TBoardSession::PutBack).
// On failure prints why, every value the board may still hold otherwise, and how to put them
// back.
bool PutBoardBack(TCtlIo& io, TBoardSession& session);
