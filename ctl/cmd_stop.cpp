// zirv7ctl stop: stops the board's test oscillator at once.
#include "boardsession/journal.h"
#include "boardsession/move.h"
#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/options.h"

namespace {

const QString kName = QStringLiteral("stop");

}  // namespace

int RunStop(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Stops the board's test oscillator (\"o 0\") at once, whoever started it: a track that was\n"
      "killed, the window's \"Set\", a terminal program. A move the history kept as running is\n"
      "marked stopped. Nothing else is sent first, not even a read of the parameters.\n\n"
      "Example: zirv7ctl stop --port COM2"));
  AddPortOption(parser);
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("--port NAME"), args, io, exitCode)) return exitCode;
  const QString port = parser.value(QStringLiteral("port"));
  if (port.isEmpty()) {
    PrintError(io, kName, QStringLiteral("--port is required"));
    return kExitUsage;
  }
  if (!TakesNoArguments(parser, kName, io)) return kExitUsage;
  TBoardSession session;
  if (const TResult<void> opened = session.OpenPort(port); !opened) {
    PrintFailure(io, port, opened.Failure());
    return kExitFailed;
  }
  if (const TResult<void> stopped = StopOscillator(session); !stopped) {
    PrintFailure(io, port, stopped.Failure());
    return kExitFailed;
  }
  io.Out << port << ": the test oscillator is stopped\n";
  const TResult<std::vector<TEarlierWrite>> earlier = EarlierWrites(port);
  if (!earlier) return kExitOk;
  const std::vector<TJournalEntry> moves = LeftMoves(*earlier);
  if (moves.empty()) return kExitOk;
  const TResult<TLeftMovesStopped> marked = StopLeftMoves(session, moves, QStringLiteral("zirv7ctl stop"));
  if (marked && !marked->JournalFailure) return kExitOk;
  PrintFailure(io, port, marked ? *marked->JournalFailure : marked.Failure());
  return kExitFailed;
}
