#pragma once

// Runs as JSON on Out: {"runs": [...]}, each run as RunJson gives it.

#include <vector>

#include "ctl/ctlio.h"
#include "runstore/runstore.h"

// Prints {"runs": [...]} with each run's RunJson (samples as arrays).
void PrintRunsJson(TCtlIo& io, const std::vector<TStepRun>& runs);

// Prints {"runs": [...]} with each listed run's RunJson (sample_count, no samples).
void PrintRunsJson(TCtlIo& io, const std::vector<TRunListing>& listings);
