#pragma once

// zirv7ctl as the program and its tests run it: the overview, the version, and each command
// by its entry in the table of commands.

#include <QStringList>

#include "ctl/ctlio.h"

// Runs zirv7ctl with its arguments (args[0] is the program name) and returns the exit status.
// A command's arguments are read by its table entry, and its output files checked, before it
// runs: bad usage is refused with kExitUsage before the board or a file is touched.
int RunCtl(const QStringList& args, TCtlIo& io);
