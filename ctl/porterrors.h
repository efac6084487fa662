#pragma once

// Port failures on the command line, explained as the window's error box explains them.

#include "ctl/command.h"
#include "globals/errors.h"

// Prints "zirv7ctl: <port>: <the error's own text>" and beneath it what the failure means and
// what cures it (ExplainPortFailure, worded for the command line).
void PrintPortError(TCtlIo& io, const QString& port, const Exception& error);

// Prints "zirv7ctl: <port>: <failure>" for a board that did not answer sent, and beneath it
// what was sent and what to check (ExplainSilentBoard).
void PrintSilentBoard(TCtlIo& io, const QString& port, const QString& failure, const QString& sent);

// Prints what it means that the port's device went away while in use (unplugged, powered
// off), as the window explains it. deviceAtOpen is where the port led when it was opened: an
// alias that went with the device (the simulated board removes its own) no longer says.
void PrintDeviceLost(TCtlIo& io, const QString& port, const QString& deviceAtOpen);
