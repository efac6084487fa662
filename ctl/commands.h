#pragma once

// The table of subcommands, one file each (cmd_<name>.cpp). A new command adds its entry
// point here and a row to kCommands.

#include "ctl/command.h"

int RunPorts(const QStringList& args, TCtlIo& io);
int RunLink(const QStringList& args, TCtlIo& io);
int RunUnlink(const QStringList& args, TCtlIo& io);
int RunStep(const QStringList& args, TCtlIo& io);
int RunCompare(const QStringList& args, TCtlIo& io);
int RunHistory(const QStringList& args, TCtlIo& io);
int RunShow(const QStringList& args, TCtlIo& io);
int RunSuggest(const QStringList& args, TCtlIo& io);
int RunParams(const QStringList& args, TCtlIo& io);
int RunSave(const QStringList& args, TCtlIo& io);
int RunWrite(const QStringList& args, TCtlIo& io);
int RunDiff(const QStringList& args, TCtlIo& io);
int RunBackups(const QStringList& args, TCtlIo& io);
int RunRestore(const QStringList& args, TCtlIo& io);
int RunWatch(const QStringList& args, TCtlIo& io);
int RunTrack(const QStringList& args, TCtlIo& io);
int RunStop(const QStringList& args, TCtlIo& io);

inline constexpr TCommand kCommands[] = {
    {"ports", "list the serial ports present and what they are", RunPorts},
    {"link", "make COMn lead to a serial device", RunLink},
    {"unlink", "remove the link of COMn", RunUnlink},
    {"step", "run step-response tests and print their figures", RunStep},
    {"compare", "run a step test with each parameter file, side by side", RunCompare},
    {"history", "list the stored step-response runs", RunHistory},
    {"show", "show stored runs as figures, a picture or CSV", RunShow},
    {"suggest", "fit the motor to a step test and suggest gains for it", RunSuggest},
    {"params", "print the board's fourteen parameters", RunParams},
    {"save", "save the board's parameters into a parameter file", RunSave},
    {"write", "write a parameter file's differing values to the board", RunWrite},
    {"diff", "show the values that differ between files, stored runs and boards", RunDiff},
    {"backups", "list the board's values kept before each EEPROM write", RunBackups},
    {"restore", "write a backup's values back to the board", RunRestore},
    {"watch", "stream the board's status to the terminal, a CSV file or JSON Lines", RunWatch},
    {"track", "measure the following error and the output at a constant speed", RunTrack},
    {"stop", "stop the board's test oscillator", RunStop},
};
