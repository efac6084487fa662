#pragma once

// Failures on the command line, explained as the window's error box explains them.

#include "ctl/command.h"
#include "globals/result.h"

// Prints "zirv7ctl: <what>: <the failure's message>" and beneath it the failure's explanation
// (what it means and what cures it), when it has one.
void PrintFailure(TCtlIo& io, const QString& what, const TFailure& failure);
