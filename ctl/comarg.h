#pragma once

// The COMn argument that link and unlink share.

#include "ctl/command.h"

// Checks that the parsed arguments are exactly count, the first a port name of the tool
// ("COM1" to "COM32", in capitals as the tool writes them), and puts it in com as "COMn". On bad usage prints one line,
// sets exitCode to kExitUsage and returns false.
bool TakeComArgument(const QCommandLineParser& parser, const QString& command, int count,
                     TCtlIo& io, QString& com, int& exitCode);

// Returns why com's alias may not be changed without --force: it leads to a device some
// program holds now (the simulated board, a terminal program, the tool), which would lose its
// port from under it. change says what would be done ("re-pointing", "removing"); an alias
// that already leads to keptTarget is not changed at all. "" when nothing is in the way.
QString AliasInUseProblem(const QString& com, const QString& change, const QString& keptTarget = {});

// The --force option of link and unlink, which changes an alias whose device is in use.
QCommandLineOption ForceOption(const QString& change);
