#pragma once

// The COMn argument that link and unlink share.

#include "ctl/command.h"

// Checks that the parsed arguments are exactly count, the first a port name of the tool
// ("COM1" to "COM32", in capitals as the tool writes them), and puts it in com as "COMn". On bad usage prints one line,
// sets exitCode to kExitUsage and returns false.
bool TakeComArgument(const QCommandLineParser& parser, const QString& command, int count,
                     TCtlIo& io, QString& com, int& exitCode);
