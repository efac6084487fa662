#pragma once

// A parameter set written to the board as the window's "Write to ZIRV EE-Prom" writes it, for
// write and restore: the request read from the command line, and what is printed of the result.

#include "boardsession/writeset.h"
#include "ctl/commandline.h"

// Returns the request of the command run with args (--dry-run) to write the values of source.
TWriteSetRequest WriteRequestOf(const TCommandArgs& args, const QString& source);

// Prints what the write did, from its result: the plan on Out for a dry run; otherwise one
// line per value sent on Out, with what the board holds now ("limited by the board", "stored
// otherwise", "put back"), then how the transaction ended. Returns a TExitCode: 0 when the
// board holds the whole set, 1 when it does not (declined, limited, failed, interrupted).
int PrintWriteSet(TCtlIo& io, const TWriteSetResult& result, bool dryRun);
