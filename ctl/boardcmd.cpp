#include "ctl/boardcmd.h"

#include "ctl/history.h"
#include "ctl/porterrors.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "protocol/paramwrite.h"

namespace {

// Returns "P=0.2 I=0.0005 ...": all fourteen values of a record as a parameter file has them.
QString AllValuesText(const TPIDParams& params) {
  QStringList values;
  for (const TParamRow& row : ParamTable())
    values.append(QStringLiteral("%1=%2").arg(QLatin1String(row.FileKey), ExactNumberText(RecordValue(params, row))));
  return values.join(QLatin1Char(' '));
}

// Tells of the port's unfinished journal entries. A history that cannot be read is told too:
// the board's values may then be leftovers nobody can see.
void WarnOfUnfinished(TCtlIo& io, const QString& port) {
  TRunStore store;
  const TResult<QString> path = TRunStore::DefaultPath();
  const TResult<void> opened = path ? store.Open(*path, TStoreAccess::ReadOnly) : TResult<void>(path.Failure());
  const TResult<std::vector<TJournalEntry>> entries =
      opened ? store.UnfinishedJournal(QString(), port) : TResult<std::vector<TJournalEntry>>(opened.Failure());
  if (!entries) {
    const TFailure& failure = entries.Failure();
    PrintHistoryFailure(io, {QStringLiteral("%1; earlier commands that did not finish cannot be seen")
                                 .arg(failure.Message), failure.Explanation});
    return;
  }
  for (const TJournalEntry& e : *entries) {
    const QString command = e.Command.section(u' ', 0, 0);
    PrintError(io, port,
               QStringLiteral("an earlier %1 on %2 did not finish (%3); the board may still hold "
                              "what it was writing (%4); `%5` puts back %6")
                   .arg(command, port, e.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                        e.Planned, RestoreCommand(port, e.Id), AllValuesText(e.Board)));
  }
}

}  // namespace

QString CommandLine(const QString& name, const QStringList& args) {
  return (QStringList{name} + args).join(u' ');
}

QString RestoreCommand(const QString& port, qint64 journalId) {
  return QStringLiteral("zirv7ctl restore --port %1 %2").arg(port).arg(journalId);
}

void JournalWrites(TCtlIo& io, TBoardSession& session, TRunStore& store, const QString& commandLine,
                   const QString& planned) {
  TBoardSession::TJournal journal;
  journal.Begin = [&store, &session, commandLine, planned](const TPIDParams& originals,
                                                          QString& failure) -> std::optional<qint64> {
    TJournalEntry entry;
    entry.Port = session.PortName();
    entry.Command = commandLine;
    entry.Board = originals;
    entry.Planned = planned;
    const TResult<void> begun = store.BeginJournal(entry);
    if (begun) return entry.Id;
    failure = QStringLiteral("the board's values could not be kept in the journal before writing "
                             "(%1); nothing was written")
                  .arg(begun.Failure().Message);
    return std::nullopt;
  };
  journal.Finish = [&io, &store](qint64 id, const QString& outcome) {
    if (const TResult<void> finished = store.FinishJournal(id, outcome); !finished)
      PrintHistoryFailure(io, {QStringLiteral("backup %1 stays marked unfinished: %2").arg(id).arg(finished.Failure().Message),
                               finished.Failure().Explanation});
  };
  session.SetJournal(std::move(journal));
}

bool OpenBoard(TCtlIo& io, TBoardSession& session, const QString& port) {
  WarnOfUnfinished(io, port);
  try {
    session.Link().Open(port);
  } catch (const Exception& e) {
    PrintPortError(io, port, e);
    return false;
  }
  QString failure;
  if (session.ReadOriginals(failure)) return true;
  if (session.Link().Port().DeviceLost())
    PrintFailureInUse(io, port, session.Link().Port(), failure);
  else
    PrintSilentBoard(io, port, session.Link().Port(), failure, QStringLiteral("l"));
  return false;
}

bool WriteToBoard(TCtlIo& io, TBoardSession& session, const TParamValues& target, TEchoRule rule,
                  const QString& source) {
  auto onDiffering = [&](const TParamWrite& w) {
    PrintError(io, session.PortName(),
               QStringLiteral("the board holds %1 %2 where %3 has %4")
                   .arg(QLatin1String(w.Row->FileKey), FormatNumber(w.Echoed), source,
                        FormatNumber(w.Sent)));
  };
  QString failure;
  if (session.Write(target, rule, failure, onDiffering)) return true;
  PrintFailureInUse(io, session.PortName(), session.Link().Port(), QStringLiteral("%1: %2").arg(source, failure));
  return false;
}

namespace {

// Returns "P=0.2 FF0=0.3": the original values of the rows, as a parameter file has them.
QString OriginalValuesText(const std::vector<TValueDifference>& differences) {
  QStringList values;
  for (const TValueDifference& d : differences)
    values.append(QStringLiteral("%1=%2").arg(QLatin1String(d.Row->FileKey), ExactNumberText(d.Original)));
  return values.join(QLatin1Char(' '));
}

}  // namespace

bool PutBoardBack(TCtlIo& io, TBoardSession& session) {
  io.Err << session.PortName() << ": putting the board's values back\n" << Qt::flush;
  QString failure;
  if (session.PutBack(failure)) return true;
  const std::vector<TValueDifference> left = session.Differences();
  const QString restore = session.JournalId() == 0
                              ? QString()
                              : QStringLiteral("; `%1` puts them back")
                                    .arg(RestoreCommand(session.PortName(), session.JournalId()));
  PrintError(io, session.PortName(),
             QStringLiteral("the board's values could not be put back (%1); it may still hold %2; "
                            "they were: %3%4")
                 .arg(failure, DifferencesText(left), OriginalValuesText(left), restore));
  return false;
}
