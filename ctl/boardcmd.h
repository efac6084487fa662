#pragma once

// The board session as the commands use it: every failure printed as
// "zirv7ctl: <port>: <why>".

#include <QString>

#include "boardsession/session.h"
#include "ctl/command.h"

// Opens the named port and reads the board's values; on failure prints why (the port's own
// message and what it means when it cannot be opened, what to check when the board is silent).
bool OpenBoard(TCtlIo& io, TBoardSession& session, const QString& port);

// Writes target's values that differ from the board, checking every answer (TBoardSession::
// Write). Each value the board holds otherwise than sent is told as "the board holds MaxOutput
// 100 where <source> has 150"; with TEchoRule::Stop it ends the write. On failure prints why.
bool WriteToBoard(TCtlIo& io, TBoardSession& session, const TParamValues& target, TEchoRule rule,
                  const QString& source);

// Puts the board's original values back and checks them with a read (TBoardSession::PutBack).
// On failure prints why, every value the board may still hold otherwise, and how to put them
// back.
bool PutBoardBack(TCtlIo& io, TBoardSession& session);
