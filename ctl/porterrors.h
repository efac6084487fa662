#pragma once

// Port failures on the command line, explained as the window's error box explains them.

#include "ctl/command.h"
#include "globals/errors.h"

class TCustomComPort;

// Prints "zirv7ctl: <port>: <the error's own text>" and beneath it what the failure means and
// what cures it (ExplainPortFailure, worded for the command line).
void PrintPortError(TCtlIo& io, const QString& port, const Exception& error);

// Prints "zirv7ctl: <port>: <failure>" for a board on the open port comPort that did not answer
// sent, and beneath it what was sent and what to check (ExplainSilentBoard), and whether other
// programs that might take the answers could not be checked at the open.
void PrintSilentBoard(TCtlIo& io, const QString& port, const TCustomComPort& comPort,
                      const QString& failure, const QString& sent);

// Prints "zirv7ctl: <port>: <failure>" for a failure on the open port comPort, and beneath it,
// when the port's device went away meanwhile (unplugged, powered off), what that means and what
// cures it, as the window explains it: named as the port was opened, since an alias that went
// with the device (the simulated board removes its own) no longer says. Whether other programs
// could not be checked at the open is said too.
void PrintFailureInUse(TCtlIo& io, const QString& port, const TCustomComPort& comPort,
                       const QString& failure);
