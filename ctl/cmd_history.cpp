// zirv7ctl history: the step-response runs stored so far.
#include "ctl/commands.h"
#include "ctl/steps.h"

int RunHistory(const TCommandArgs& args, TCtlIo& io) {
  const int last = args.WholeNumber("last", 0);
  TRunStore store;
  std::vector<TRunListing> listings;
  if (!OpenRunHistory(io, store, TStoreAccess::ReadOnly) || !ListRuns(io, store, last, listings)) return kExitFailed;
  if (args.Has("json"))
    PrintRunsJson(io, listings);
  else
    PrintHistoryTable(io, listings);
  return kExitOk;
}
