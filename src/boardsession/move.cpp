#include "boardsession/move.h"

#include "boardsession/session.h"
#include "globals/numtext.h"
#include "protocol/transactions.h"

namespace {

// "o 0" is sent up to this often: a line that drops one answer usually carries the next.
constexpr int kStopAttempts = 3;

const QString kStopped = QStringLiteral("stopped");

// The failure of a board that could not be told to stop, with what stops it by hand.
TFailure NotStopped(const TBoardSession& session, const TFailure& why) {
  return {QStringLiteral("the test oscillator could not be stopped (%1): the axis may still move")
              .arg(why.Message),
          (why.Explanation.isEmpty() ? QString() : why.Explanation + u'\n') +
              QStringLiteral("Stop it with `zirv7ctl stop --port %1`, with the window's \"Stop\" button, or by "
                             "switching the drive off.")
                  .arg(session.PortName())};
}

}  // namespace

TResult<void> StopOscillator(TBoardSession& session) {
  TResult<void> last;
  for (int attempt = 0; attempt < kStopAttempts; ++attempt) {
    if (session.DeviceLost()) break;
    last = SetOscillator(session, 0);
    if (last) return {};
  }
  if (last) last = session.Failure(QStringLiteral("the port's device is gone"));
  return NotStopped(session, last.Failure());
}

TResult<void> SetOscillator(TBoardSession& session, double value) {
  const QString text = FormatNumber(value);
  const QString sent = SetCommandText(QStringLiteral("o"), text);
  bool answered = false;
  double echoed = 0;
  // The "(o)" line, not merely the newest one: a status answer that came too late for its
  // sample may still be arriving, and a stop read from it would fail however often it is sent.
  const TResult<void> exchanged = session.Exchange(sent, [&] {
    answered = SetBoardValueTagged(session.Link().Channel(), QStringLiteral("o"), QStringLiteral("(o)"), text, echoed);
  });
  if (!exchanged) return exchanged;
  if (!answered) return session.Failure(QStringLiteral("no answer \"(o)\" to \"%1\"").arg(sent), sent);
  if (echoed != value)
    return TFailure{QStringLiteral("the board answered \"(o) %1\" to \"%2\"").arg(FormatNumber(echoed), sent),
                    QStringLiteral("The board runs its oscillator at another value than the one sent.")};
  return {};
}

TMove::TMove(TBoardSession& session, TBoardJournal* journal) : FSession(session), FJournal(journal) {}

TMove::~TMove() { (void)Stop(); }

TResult<void> TMove::Start(double value) {
  if (FJournal && FJournalId == 0) {
    const TResult<qint64> id = FJournal->Begin(FSession.Board());
    if (!id) return id.Failure();
    FJournalId = *id;
  }
  // Marked before it goes: the board may take the value although its answer is lost.
  FRunning = value != 0;
  const TResult<void> started = SetOscillator(FSession, value);
  if (started) return {};
  if (const TResult<void> stopped = Stop(); !stopped) return stopped;
  return started;
}

TResult<void> TMove::Stop() {
  if (!FRunning) return {};
  if (TResult<void> sent = StopOscillator(FSession); !sent) return sent;
  FRunning = false;
  if (FJournal && FJournalId != 0) {
    const TResult<void> finished = FJournal->Finish(FJournalId, kStopped);
    if (!finished) FJournalFailure = finished.Failure();
  }
  return {};
}

std::vector<TJournalEntry> LeftMoves(const std::vector<TEarlierWrite>& earlier) {
  std::vector<TJournalEntry> moves;
  for (const TEarlierWrite& w : earlier)
    if (w.Entry.Kind == TJournalKind::Move && w.RunningIn.isEmpty()) moves.push_back(w.Entry);
  return moves;
}

TResult<TLeftMovesStopped> StopLeftMoves(TBoardSession& session, const std::vector<TJournalEntry>& moves,
                                         const QString& by) {
  TLeftMovesStopped stopped{moves, {}};
  if (moves.empty()) return stopped;
  if (TResult<void> sent = StopOscillator(session); !sent) return sent.Failure();
  const TResult<QString> path = TRunStore::DefaultPath();
  TRunStore store;
  TResult<void> opened = path ? store.Open(*path) : TResult<void>(path.Failure());
  for (const TJournalEntry& e : moves) {
    if (!opened) break;
    opened = store.FinishJournal(e.Id, QStringLiteral("%1 by %2").arg(kStopped, by));
  }
  if (!opened) stopped.JournalFailure = opened.Failure();
  return stopped;
}

TResult<TLeftMovesStopped> StopOscillatorNow(TBoardSession& session, const QString& by) {
  if (TResult<void> sent = StopOscillator(session); !sent) return sent.Failure();
  const TResult<std::vector<TEarlierWrite>> earlier = EarlierWrites(session.PortName());
  if (!earlier) return TLeftMovesStopped{};
  return StopLeftMoves(session, LeftMoves(*earlier), by);
}
