#include "ctl/boardwrite.h"

#include <algorithm>

#include "ctl/boardcmd.h"
#include "ctl/options.h"
#include "parameters/paramtable.h"

namespace {

// Returns what the board holds of the row now, as far as is known, in the digits of text.
QString HoldsText(const TValueWrite& v, const TTransactionResult& t, TValueText text) {
  for (const TValueDifference& d : t.Left)
    if (d.Row == v.Row) return d.Held ? ValueTextOf(*d.Held, text) : QStringLiteral("unknown");
  return ValueTextOf(RecordValue(t.Board, *v.Row), text);
}

// Returns what is to be said of a value beside what the board holds.
QString NoteText(const TValueWrite& v, const TTransactionResult& t) {
  QStringList notes;
  switch (v.Echo) {
    case TEcho::AsSent: break;
    case TEcho::Limited: notes.append(QStringLiteral("limited by the board")); break;
    case TEcho::Otherwise: notes.append(QStringLiteral("stored otherwise")); break;
    case TEcho::Unanswered: notes.append(QStringLiteral("no answer")); break;
  }
  if (t.End == TTransactionEnd::PutBack) notes.append(QStringLiteral("put back"));
  if (t.End == TTransactionEnd::NotPutBack) notes.append(QStringLiteral("not put back"));
  return notes.join(QStringLiteral(", "));
}

// One line per value sent: what the board held, what was sent, what it holds now.
void PrintWritten(TCtlIo& io, const TWriteSetResult& r) {
  std::vector<QStringList> rows = {{"KEY", "WAS", "SENT", "HOLDS", ""}};
  for (const TValueWrite& v : r.Values)
    rows.push_back({QLatin1String(v.Row->FileKey), ValueTextOf(v.From, r.Plan.Text), ValueTextOf(v.Sent, r.Plan.Text),
                    HoldsText(v, r.Transaction, r.Plan.Text), NoteText(v, r.Transaction)});
  if (rows.size() > 1) PrintTable(io, rows, 1);
}

}  // namespace

TWriteSetRequest WriteRequestOf(const TCommandArgs& args, const QString& source) {
  TWriteSetRequest request;
  request.Command = args.Name();
  request.CommandLine = CommandLine(args);
  request.Source = source;
  request.DryRun = args.Has(kDryRunOption.Name);
  return request;
}

int PrintWriteSet(TCtlIo& io, const TWriteSetResult& r, bool dryRun) {
  const QString& port = r.Plan.Port;
  if (r.Plan.Total() == 0) {
    io.Err << port << ": the board holds " << r.Plan.Source << "'s values already; nothing to write\n" << Qt::flush;
    return kExitOk;
  }
  if (dryRun) {
    PrintPlan(io, io.Out, r.Plan);
    return kExitOk;
  }
  if (r.Declined) return kExitFailed;
  PrintWritten(io, r);
  const bool ended = PrintTransactionEnd(io, port, r.Transaction);
  const bool limited = std::any_of(r.Values.begin(), r.Values.end(), [](const TValueWrite& v) { return v.Echo == TEcho::Limited; });
  if (r.Transaction.End == TTransactionEnd::Kept && limited)
    PrintError(io, port, QStringLiteral("the board limited a value; it does not hold all of %1").arg(r.Plan.Source));
  return OutputStatusAfter(io, r.Transaction, r.Complete() && ended ? kExitOk : kExitFailed);
}
