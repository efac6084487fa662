#pragma once

// The pictures and CSV files of runs that --png, --svg and --csv ask for.

#include <QString>
#include <vector>

#include "ctl/commandline.h"
#include "steprun/steprun.h"

// Writes the pictures and CSV file the options ask for. Returns false (after a message) when a
// file could not be written.
bool WriteRunFiles(TCtlIo& io, const TCommandArgs& args, const std::vector<TStepRun>& runs,
                   const QString& title);
