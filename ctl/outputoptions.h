#pragma once

// The output paths a command was given, checked before it does any work.

#include "ctl/commandline.h"

// Checks every output file option the command was given (--png, --svg, --csv) with
// OutputPathProblem; "-" (standard output) is taken by --csv only, and then not together
// with --json, which wants standard output too. Prints "zirv7ctl: <path>: <why>" for the
// first problem and returns its exit status: kExitUsage for standard output asked where it
// cannot go (a picture, or CSV beside JSON), kExitFailed for a file that cannot be written,
// kExitOk when every output can be written.
int CheckOutputOptions(const TCommandArgs& args, TCtlIo& io);

// Returns whether --csv - asks for the CSV on standard output.
bool CsvToStandardOutput(const TCommandArgs& args);

// Returns where a command prints its figures: standard error when --csv - gives standard
// output to the CSV alone (so that `> run.csv` holds a clean CSV), else the io as it is.
TCtlIo FiguresIo(const TCtlIo& io, const TCommandArgs& args);

// Checks one output file given as an argument (a parameter file to write); prints why it
// cannot be written and returns false.
bool CheckOutputPath(const QString& path, TCtlIo& io);
