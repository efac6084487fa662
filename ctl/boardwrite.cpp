#include "ctl/boardwrite.h"

#include <map>

#include "boardsession/interrupt.h"
#include "ctl/boardcmd.h"
#include "ctl/porterrors.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

void PrintPlan(QTextStream& out, const TWriteRequest& r, const QString& port,
               const std::vector<TPlannedWrite>& plan) {
  out << QStringLiteral("%1 will make %2 EEPROM write%3 on %4 (%5):\n")
             .arg(r.Command)
             .arg(plan.size())
             .arg(plan.size() == 1 ? "" : "s")
             .arg(port, r.Source);
  for (const TPlannedWrite& w : plan) out << "  " << DescribeWrite(w) << "\n";
  out.flush();
}

// The rows written so far and the value the board answered it holds for each.
using TAnswers = std::map<const TParamRow*, double>;

// Writes one row through the session: the board's present values with that row's changed.
bool WriteRow(TBoardSession& session, const TPlannedWrite& w, TAnswers& answers, QString& failure) {
  TParamValues one = ParamValuesOf(session.Board());
  one[RowIndex(*w.Row)] = w.To;
  const bool written = session.Write(one, TEchoRule::Report, failure);
  if (written) answers[w.Row] = RecordValue(session.Board(), *w.Row);
  return written;
}

// One line per row written: the value sent, and what the board holds when it limited it.
bool PrintWritten(TCtlIo& io, const std::vector<TPlannedWrite>& plan, const TAnswers& answers) {
  std::vector<QStringList> rows = {{"KEY", "WAS", "SENT", "HOLDS", ""}};
  bool allAsSent = true;
  for (const TPlannedWrite& w : plan) {
    const auto answer = answers.find(w.Row);
    if (answer == answers.end()) continue;
    TPIDParams sent;
    StoreAnswer(sent, *w.Row, w.To);
    const bool limited = ValueDiffers(*w.Row, answer->second, sent);
    allAsSent &= !limited;
    rows.push_back({QLatin1String(w.Row->FileKey), FormatNumber(w.From), FormatNumber(w.To),
                    FormatNumber(answer->second), limited ? QStringLiteral("limited by the board") : QString()});
  }
  if (rows.size() > 1) PrintTable(io, rows, 1);
  return allAsSent;
}

}  // namespace

TWriteRequest WriteRequestOf(const QCommandLineParser& parser, const QString& command,
                             const QStringList& args, const QString& source) {
  TWriteRequest request;
  request.Command = command;
  request.CommandLine = CommandLine(command, args);
  request.Source = source;
  request.Yes = parser.isSet(QStringLiteral("yes"));
  request.DryRun = parser.isSet(QStringLiteral("dry-run"));
  return request;
}

int WriteParameterSet(TCtlIo& io, TBoardSession& session, const TParamValues& target,
                      const TWriteRequest& r) {
  const QString port = session.PortName();
  const std::vector<TPlannedWrite> plan = PlanWrites(session.Board(), target);
  if (plan.empty()) {
    io.Err << port << ": the board holds " << r.Source << "'s values already; nothing to write\n" << Qt::flush;
    return kExitOk;
  }
  if (r.DryRun) {
    PrintPlan(io.Out, r, port, plan);
    return kExitOk;
  }
  PrintPlan(io.Err, r, port, plan);
  if (!r.Yes && !Confirm(io, QStringLiteral("Write to the board's EEPROM?"))) {
    PrintError(io, r.Command, QStringLiteral("nothing was written"));
    return kExitFailed;
  }
  if (TInterruptGuard::Interrupted()) {
    PrintError(io, r.Command, QStringLiteral("interrupted; nothing was written"));
    return kExitFailed;
  }
  if (r.Journal) JournalWrites(io, session, *r.Journal, r.CommandLine, DescribeWrites(plan));

  TAnswers answers;
  QString failure;
  const TPlannedWrite* failed = nullptr;
  for (const TPlannedWrite& w : plan) {
    if (TInterruptGuard::Interrupted()) {
      failure = QStringLiteral("interrupted");
      break;
    }
    if (!WriteRow(session, w, answers, failure)) {
      failed = &w;
      break;
    }
  }
  const bool asSent = PrintWritten(io, plan, answers);
  const qint64 backup = session.JournalId();
  if (failure.isEmpty()) {
    session.Keep();
    if (asSent) return kExitOk;
    PrintError(io, port, QStringLiteral("the board limited a value; it does not hold all of %1").arg(r.Source));
    return kExitFailed;
  }
  // Stopped before the first value was sent (Ctrl+C, or the journal could not keep the board's
  // values): there is nothing to put back.
  if (!session.Changed()) {
    PrintError(io, port, QStringLiteral("%1: %2").arg(r.Source, failure));
    return kExitFailed;
  }
  const QString what = QStringLiteral("%1: %2; the board's values go back").arg(r.Source, failure);
  if (!failed || session.Link().Port().DeviceLost()) {
    PrintFailureInUse(io, port, session.Link().Port(), what);
  } else {
    // The set command as the board received it (SetBoardValue sends the number text).
    PrintSilentBoard(io, port, session.Link().Port(), what,
                     QStringLiteral("%1 %2").arg(QLatin1Char(failed->Row->Letter)).arg(FormatNumber(failed->To)));
  }
  // PutBoardBack names the backup when the values stay changed; put back, it is said here.
  if (PutBoardBack(io, session) && backup != 0)
    io.Err << port << ": the board holds its values from before again; backup " << backup
           << " keeps them (" << RestoreCommand(port, backup) << ")\n" << Qt::flush;
  return kExitFailed;
}
