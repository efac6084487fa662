// zirv7ctl stop: stops the board's test oscillator at once.
#include "boardsession/move.h"
#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/options.h"

int RunStop(const TCommandArgs& args, TCtlIo& io) {
  const QString port = args.Value(kPortOption.Name);
  TBoardSession session;
  if (const TResult<void> opened = session.OpenPort(port); !opened) {
    PrintFailure(io, port, opened.Failure());
    return kExitFailed;
  }
  const TResult<TLeftMovesStopped> stopped = StopOscillatorNow(session, QStringLiteral("zirv7ctl stop"));
  if (!stopped) {
    PrintFailure(io, port, stopped.Failure());
    return kExitFailed;
  }
  io.Out << port << ": the test oscillator is stopped\n";
  if (!stopped->JournalFailure) return kExitOk;
  PrintFailure(io, port, *stopped->JournalFailure);
  return kExitFailed;
}
