#pragma once

// The run history as the commands use it: each failure printed as "zirv7ctl: <file>: <why>",
// with what it means beneath where there is more to say.

#include <vector>

#include "ctl/ctlio.h"
#include "runstore/runstore.h"

// Opens the run history at its default place; on failure prints why. A command that only
// reads opens it with TStoreAccess::ReadOnly, which works on a read-only or full disk.
bool OpenRunHistory(TCtlIo& io, TRunStore& store, TStoreAccess access = TStoreAccess::ReadWrite);

// Prints a failure of the run history: "zirv7ctl: <its file>: <message>", and its explanation.
void PrintHistoryFailure(TCtlIo& io, const TFailure& failure);

// Stores the run; on failure prints why. Returns whether it was stored.
bool StoreRun(TCtlIo& io, TRunStore& store, TStepRun& run);

// Lists the last stored runs (TRunStore::List); on failure prints why.
bool ListRuns(TCtlIo& io, TRunStore& store, int last, std::vector<TRunListing>& listings);

// Loads stored runs with their samples (TRunStore::Load); on failure prints why.
bool LoadRuns(TCtlIo& io, TRunStore& store, const std::vector<qint64>& ids, std::vector<TStepRun>& runs);
