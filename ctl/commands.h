#pragma once

// The table of subcommands (commands.cpp), one file each for their entry points
// (cmd_<name>.cpp). A new command adds its entry point here and its entry to the table.

#include <span>

#include "ctl/commandline.h"

int RunPorts(const TCommandArgs& args, TCtlIo& io);
int RunLink(const TCommandArgs& args, TCtlIo& io);
int RunUnlink(const TCommandArgs& args, TCtlIo& io);
int RunStep(const TCommandArgs& args, TCtlIo& io);
int RunCompare(const TCommandArgs& args, TCtlIo& io);
int RunHistory(const TCommandArgs& args, TCtlIo& io);
int RunShow(const TCommandArgs& args, TCtlIo& io);
int RunSuggest(const TCommandArgs& args, TCtlIo& io);
int RunParams(const TCommandArgs& args, TCtlIo& io);
int RunSave(const TCommandArgs& args, TCtlIo& io);
int RunWrite(const TCommandArgs& args, TCtlIo& io);
int RunDiff(const TCommandArgs& args, TCtlIo& io);
int RunBackups(const TCommandArgs& args, TCtlIo& io);
int RunRestore(const TCommandArgs& args, TCtlIo& io);
int RunWatch(const TCommandArgs& args, TCtlIo& io);
int RunTrack(const TCommandArgs& args, TCtlIo& io);
int RunStop(const TCommandArgs& args, TCtlIo& io);

// Every command, in the order of the overview (zirv7ctl --help).
extern const std::span<const TCommand> kCommands;
