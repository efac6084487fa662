// zirv7ctl write: a parameter file's differing values to the board, as the window writes them.
#include "boardsession/interrupt.h"
#include "ctl/boardcmd.h"
#include "ctl/boardwrite.h"
#include "ctl/commands.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "ctl/paramsets.h"

int RunWrite(const TCommandArgs& args, TCtlIo& io) {
  const QString port = args.Value("port");
  const QString file = args.Positional().at(0);
  TParamValues target{};
  if (!ReadParameterFile(io, file, target)) return kExitFailed;

  // Ctrl+C only raises a flag from here on: a write under way ends between two values and the
  // board gets its values back.
  TInterruptGuard guard;
  TWriteSetRequest request = WriteRequestOf(args, file);
  request.Target = target;
  // The history keeps the board's values before the first write; without it nothing is
  // written. A dry run writes nothing and needs none.
  TRunStore store;
  if (!request.DryRun) {
    if (!OpenRunHistory(io, store)) return kExitFailed;
    request.Journal = &store;
  }
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TWriteSetResult result =
      WriteParameterSet(session, request, BoardHooks(io, port, args.Has("yes")));
  return PrintWriteSet(io, result, request.DryRun);
}
