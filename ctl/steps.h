#pragma once

// What the step-response commands (step, compare, show, history, suggest) share: their
// options, the board session, the run history, tables, JSON and output files of runs.

#include "ctl/boardcmd.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "ctl/outputfiles.h"
#include "ctl/runjson.h"
#include "ctl/runtable.h"
