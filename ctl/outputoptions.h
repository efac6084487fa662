#pragma once

// The output paths a command was given, checked before it does any work.

#include <QCommandLineParser>

#include "ctl/command.h"

// Checks every output file option the command was given (--png, --svg, --csv) with
// OutputPathProblem; "-" (standard output) is taken by --csv only. Prints
// "zirv7ctl: <path>: <why>" for the first that cannot be written and returns false.
bool CheckOutputOptions(const QCommandLineParser& parser, TCtlIo& io);

// Checks one output file given as an argument (a parameter file to write); prints why it
// cannot be written and returns false.
bool CheckOutputPath(const QString& path, TCtlIo& io);
