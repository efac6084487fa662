#pragma once

// The table of subcommands, one file each (cmd_<name>.cpp). A new command adds its entry
// point here and a row to kCommands.

#include "ctl/command.h"

int RunPorts(const QStringList& args, TCtlIo& io);
int RunLink(const QStringList& args, TCtlIo& io);
int RunUnlink(const QStringList& args, TCtlIo& io);

inline constexpr TCommand kCommands[] = {
    {"ports", "list the serial ports present and what they are", RunPorts},
    {"link", "make COMn lead to a serial device", RunLink},
    {"unlink", "remove the link of COMn", RunUnlink},
};
