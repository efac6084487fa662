#include "ctl/boardcmd.h"

#include "boardsession/interrupt.h"
#include "boardsession/journal.h"
#include "boardsession/move.h"
#include "ctl/history.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

// Returns "P=0.2 I=0.0005 ...": all fourteen values of a record as a parameter file has them.
QString AllValuesText(const TPIDParams& params) {
  QStringList values;
  for (const TParamRow& row : ParamTable())
    values.append(QStringLiteral("%1=%2").arg(QLatin1String(row.FileKey), ExactNumberText(RecordValue(params, row))));
  return values.join(QLatin1Char(' '));
}

QString TimeText(const QDateTime& time) { return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

// Returns the command that marks a backup finished without writing the board.
QString FinishCommand(qint64 journalId) { return QStringLiteral("zirv7ctl backups --finish %1").arg(journalId); }

// Tells of the device's unfinished journal entries: a command still running, or one that
// never finished. A history that cannot be read is told too: the board's values may then be
// leftovers nobody can see. Returns the moves that never stopped the oscillator, which are
// told once it is stopped.
std::vector<TJournalEntry> WarnOfEarlierWrites(TCtlIo& io, const QString& port) {
  const TResult<std::vector<TEarlierWrite>> earlier = EarlierWrites(port);
  if (!earlier) {
    PrintHistoryFailure(io, earlier.Failure());
    return {};
  }
  for (const TEarlierWrite& w : *earlier) {
    const TJournalEntry& e = w.Entry;
    const QString command = e.Command.section(u' ', 0, 0);
    if (e.Kind == TJournalKind::Move) {
      if (!w.RunningIn.isEmpty())
        PrintError(io, port,
                   QStringLiteral("an earlier %1 on %2 is still running in %3 (since %4): it runs the test "
                                  "oscillator (%5) and stops it itself when it ends")
                       .arg(command, e.Port, HoldersText(w.RunningIn), TimeText(e.Time), e.Planned));
      continue;
    }
    if (!w.RunningIn.isEmpty()) {
      PrintError(io, port,
                 QStringLiteral("an earlier %1 on %2 is still running in %3 (since %4): it is writing the board "
                                "(%5) and puts its values back itself when it ends")
                     .arg(command, e.Port, HoldersText(w.RunningIn), TimeText(e.Time), e.Planned));
      continue;
    }
    PrintError(io, port,
               QStringLiteral("an earlier %1 on %2 did not finish (%3); the board may still hold what it was "
                              "writing (%4); `%5` puts back %6")
                   .arg(command, e.Port, TimeText(e.Time), e.Planned, RestoreCommand(port, e.Id),
                        AllValuesText(e.Board)));
  }
  return LeftMoves(*earlier);
}

// Stops the oscillator that earlier commands left running and says so; returns false after
// saying why when it could not be stopped.
bool StopMovesLeftRunning(TCtlIo& io, TBoardSession& session, const QString& port,
                          const std::vector<TJournalEntry>& moves) {
  if (moves.empty()) return true;
  const TResult<TLeftMovesStopped> stopped = StopLeftMoves(session, moves, QStringLiteral("a later command"));
  for (const TJournalEntry& e : moves)
    PrintError(io, port,
               QStringLiteral("an earlier %1 on %2 did not finish (%3) and left the test oscillator running (%4)%5")
                   .arg(e.Command.section(u' ', 0, 0), e.Port, TimeText(e.Time), e.Planned,
                        stopped ? QStringLiteral("; it is stopped now") : QString()));
  if (!stopped) {
    PrintFailure(io, port, stopped.Failure());
    return false;
  }
  if (stopped->JournalFailure)
    PrintHistoryFailure(io, {QStringLiteral("the oscillator is stopped, but the history could not mark the move "
                                            "finished (%1): later commands will stop it again")
                                 .arg(stopped->JournalFailure->Message),
                             stopped->JournalFailure->Explanation});
  return true;
}

}  // namespace

QString CommandLine(const TCommandArgs& args) {
  return (QStringList{args.Name()} + args.Given()).join(u' ');
}

QString RestoreCommand(const QString& port, qint64 journalId) {
  return QStringLiteral("zirv7ctl restore --port %1 %2").arg(port).arg(journalId);
}

bool OpenBoard(TCtlIo& io, TBoardSession& session, const QString& port) {
  const std::vector<TJournalEntry> moves = WarnOfEarlierWrites(io, port);
  const TResult<void> opened = session.Open(port);
  if (!opened) {
    PrintFailure(io, port, opened.Failure());
    return false;
  }
  return StopMovesLeftRunning(io, session, port, moves);
}

std::optional<TFailure> StopReason(TCtlIo& io) {
  if (TInterruptGuard::Interrupted()) return TFailure{QStringLiteral("interrupted"), {}};
  const QString closed = ClosedOutput(io);
  if (closed.isEmpty()) return std::nullopt;
  return TFailure{QStringLiteral("%1 cannot be written").arg(closed),
                  QStringLiteral("Nobody would see what the command says (a closed pipe, a pager that quit, a "
                                 "full disk): until the values are kept, that counts as an interruption.")};
}

void PrintPlan(TCtlIo& io, QTextStream& out, const TWritePlan& plan) {
  const size_t total = plan.Total();
  out << QStringLiteral("%1 will make %2%3 EEPROM write%4 on %5%6:\n")
             .arg(plan.Command, plan.MoreWrites > 0 ? QStringLiteral("at most ") : QString())
             .arg(total)
             .arg(total == 1 ? "" : "s")
             .arg(plan.Port, plan.Source.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(plan.Source));
  for (const TPlanStep& step : plan.Steps) {
    if (!step.Caption.isEmpty()) {
      out << "  " << step.Caption << ": "
          << (step.Writes.empty() ? QStringLiteral("nothing") : DescribeWrites(step.Writes, plan.Text)) << "\n";
      continue;
    }
    for (const TPlannedWrite& w : step.Writes) out << "  " << DescribeWrite(w, plan.Text) << "\n";
  }
  for (const QString& detail : plan.Details) out << "  " << detail << "\n";
  out.flush();
  for (const QString& warning : plan.Warnings) PrintError(io, plan.Port, warning);
}

TBoardHooks BoardHooks(TCtlIo& io, const QString& port, bool yes) {
  TBoardHooks hooks;
  hooks.Progress = [&io, port](const QString& line) { io.Err << port << ": " << line << "\n" << Qt::flush; };
  hooks.Stop = [&io] { return StopReason(io); };
  hooks.Stopping = [&io, port](const TFailure& why, bool goesBack) {
    const QString then = goesBack ? QStringLiteral("the board's values go back") : QStringLiteral("nothing was written");
    PrintFailure(io, port, {QStringLiteral("%1; %2").arg(why.Message, then), why.Explanation});
  };
  hooks.Confirm = [&io, yes](const TWritePlan& plan) {
    PrintPlan(io, io.Err, plan);
    if (yes && plan.YesAnswers) return true;
    if (yes) io.Err << "--yes does not answer this question: only a person can.\n";
    if (Confirm(io, QStringLiteral("Write to the board's EEPROM?"))) return true;
    PrintError(io, plan.Command, QStringLiteral("nothing was written"));
    return false;
  };
  return hooks;
}

bool PrintTransactionEnd(TCtlIo& io, const QString& port, const TTransactionResult& t) {
  const qint64 backup = t.JournalId;
  if (t.End == TTransactionEnd::PutBack && t.Failure) {
    io.Err << port << ": the board holds its values from before again";
    if (backup != 0) io.Err << "; backup " << backup << " keeps them (" << RestoreCommand(port, backup) << ")";
    io.Err << "\n" << Qt::flush;
  }
  if (t.End == TTransactionEnd::NotPutBack) {
    const TFailure why = t.PutBackFailure.value_or(TFailure{});
    const QString restore =
        backup == 0 ? QString() : QStringLiteral("; `%1` puts them back").arg(RestoreCommand(port, backup));
    PrintFailure(io, port,
                 {QStringLiteral("the board's values could not be put back (%1); it may still hold %2; they were: %3%4")
                      .arg(why.Message, DifferencesText(t.Left), OriginalValuesText(t.Left), restore),
                  why.Explanation});
  }
  if (t.JournalFailure) {
    const QString state = t.End == TTransactionEnd::Kept ? QStringLiteral("the values written stay on the board")
                                                         : QStringLiteral("the board holds its values from before again");
    PrintHistoryFailure(io, {QStringLiteral("%1, but backup %2 could not be marked finished (%3): later commands "
                                            "would take it for a write that never finished and offer to undo it. "
                                            "`%4` marks it finished without writing the board")
                                 .arg(state)
                                 .arg(backup)
                                 .arg(t.JournalFailure->Message, FinishCommand(backup)),
                             t.JournalFailure->Explanation});
  }
  return t.End != TTransactionEnd::NotPutBack && !t.JournalFailure;
}

int OutputStatusAfter(TCtlIo& io, const TTransactionResult& t, int status) {
  const QString closed = ClosedOutput(io);
  if (closed.isEmpty() || t.End != TTransactionEnd::Kept) return status;
  PrintError(io, closed,
             QStringLiteral("the results could not be written; the values written stay on the board%1")
                 .arg(t.JournalId == 0 ? QString()
                                       : QStringLiteral(" (backup %1 keeps the ones before)").arg(t.JournalId)));
  return kExitFailed;
}
