#include "boardsession/transaction.h"

#include <QStringList>

#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

// A failed put-back is tried again after reading what the board holds: a line that drops one
// answer usually carries the next.
constexpr int kPutBackAttempts = 3;

TEcho EchoOf(const TParamRow& row, double sent, double echoed) {
  TPIDParams held;
  StoreAnswer(held, row, echoed);
  if (!ValueDiffers(row, sent, held)) return TEcho::AsSent;
  return LimitedByBoard(row, sent, echoed) ? TEcho::Limited : TEcho::Otherwise;
}

// The failure of a value the board answered it holds otherwise than sent; puttingBack tells a
// value of the put-back from one of a write.
TFailure StoredOtherwise(const TParamRow& row, double sent, double echoed, TValueText text, bool puttingBack) {
  const QString why = QStringLiteral("The board answered that it holds another value than the one sent, and no limit "
                                     "of the board explains it: the line garbles what it carries, or the board "
                                     "stores values otherwise. ");
  return {QStringLiteral("the board holds %1 %2 where %3 was sent")
              .arg(QLatin1String(row.FileKey), ValueTextOf(echoed, text), ValueTextOf(sent, text)),
          why + (puttingBack ? QStringLiteral("Writing the values again cannot put them back: check the line and "
                                              "the board first.")
                             : QStringLiteral("Nothing more is sent, and what was written goes back."))};
}

// Returns "P reads back 0.5 where 0.3 was answered, ..." for every row of board that differs
// from expected, each worded by format (%1 the key, %2 the board's value, %3 the expected).
QString MismatchText(const TPIDParams& board, const TPIDParams& expected, const QString& format) {
  QStringList rows;
  for (const TParamRow& row : ParamTable()) {
    if (!ValueDiffers(row, RecordValue(expected, row), board)) continue;
    rows.append(format.arg(QLatin1String(row.FileKey), ExactNumberText(RecordValue(board, row)),
                           ExactNumberText(RecordValue(expected, row))));
  }
  return rows.join(QStringLiteral(", "));
}

}  // namespace

TWriteTransaction::TWriteTransaction(TBoardSession& session, TBoardJournal* journal, TTransactionHooks hooks)
    : FSession(session), FJournal(journal), FHooks(std::move(hooks)) {
  FResult.Originals = FResult.Board = session.Board();
}

TWriteTransaction::~TWriteTransaction() {
  if (IsOpen()) PutBack();
}

TResult<void> TWriteTransaction::Write(const TParamValues& target, TValueText text) {
  if (!IsOpen()) return FResult.Failure.value_or(TFailure{QStringLiteral("the write is over"), {}});
  FLastWrite.clear();
  bool sentNow = false;
  for (const TParamRow& row : ParamTable()) {
    const double to = target[RowIndex(row)];
    if (!ValueDiffers(row, to, FSession.Board())) continue;
    if (TResult<void> go = Proceed(); !go) return go;
    if (TResult<void> kept = Journaled(); !kept) return Stopped(kept.Failure());
    if (TResult<void> sent = SendValue(row, to, text); !sent) return sent;
    sentNow = true;
  }
  FResult.Board = FSession.Board();
  if (!sentNow) return {};
  // An answer may echo the value sent while the board stores another: the read tells.
  const TPIDParams answered = FSession.Board();
  if (TResult<void> checked = Verify(answered, false); !checked) return Stopped(checked.Failure());
  return {};
}

TResult<void> TWriteTransaction::Undo() { return Write(ParamValuesOf(FResult.Originals), TValueText::Exact); }

TResult<void> TWriteTransaction::SendValue(const TParamRow& row, double value, TValueText text) {
  TValueWrite write{&row, RecordValue(FSession.Board(), row), value};
  FSent = true;
  const TResult<double> echoed = FSession.Send(row, value, text);
  if (echoed) {
    write.Echoed = *echoed;
    write.Echo = EchoOf(row, value, *echoed);
  }
  FLastWrite.push_back(write);
  FResult.Values.push_back(write);
  if (!echoed) return Stopped(echoed.Failure());
  if (write.Echo == TEcho::Otherwise) return Stopped(StoredOtherwise(row, value, *echoed, text, false));
  return {};
}

TResult<void> TWriteTransaction::Verify(const TPIDParams& expected, bool againstOriginals) {
  if (TResult<void> read = FSession.Read(); !read) return read;
  FResult.Board = FSession.Board();
  const QString format = againstOriginals ? QStringLiteral("%1 holds %2, was %3")
                                          : QStringLiteral("%1 reads back %2 where the board answered %3");
  const QString mismatch = MismatchText(FSession.Board(), expected, format);
  if (mismatch.isEmpty()) return {};
  return TFailure{mismatch, againstOriginals ? QString()
                                             : QStringLiteral("The board answered one value and reads back "
                                                              "another: it does not store what it says it "
                                                              "holds. What was written goes back.")};
}

TResult<void> TWriteTransaction::Proceed() {
  if (!IsOpen()) return FResult.Failure.value_or(TFailure{QStringLiteral("the write is over"), {}});
  if (!FHooks.Stop) return {};
  if (std::optional<TFailure> why = FHooks.Stop()) return Stopped(*why);
  return {};
}

TResult<void> TWriteTransaction::Keep() {
  if (TResult<void> go = Proceed(); !go) return go;
  Settle(FSent ? TTransactionEnd::Kept : TTransactionEnd::Untouched, QStringLiteral("kept"));
  return {};
}

TResult<void> TWriteTransaction::Stopped(TFailure why) {
  PutBack(why);
  return why;
}

bool TWriteTransaction::PutBack(std::optional<TFailure> why) {
  if (!IsOpen()) return FResult.End != TTransactionEnd::NotPutBack;
  if (why && FHooks.Stopping) FHooks.Stopping(*why, FSent);
  if (why && !FResult.Failure) FResult.Failure = std::move(why);
  if (!FSent) {
    Settle(TTransactionEnd::Untouched, {});
    return true;
  }
  if (FHooks.Progress) FHooks.Progress(QStringLiteral("putting the board's values back"));
  std::optional<TFailure> last;
  for (int attempt = 1; attempt <= kPutBackAttempts; ++attempt) {
    // A device that is gone is not asked again.
    if (FSession.DeviceLost()) {
      if (!last) last = FSession.Failure(QStringLiteral("the port's device is gone"));
      break;
    }
    bool worthRetrying = true;
    const TResult<void> once = PutBackOnce(worthRetrying);
    if (once) {
      Settle(TTransactionEnd::PutBack, QStringLiteral("put back"));
      return true;
    }
    last = once.Failure();
    if (!worthRetrying) break;
    if (attempt < kPutBackAttempts) (void)FSession.Read();  // what the board holds now
  }
  FResult.PutBackFailure = last;
  Settle(TTransactionEnd::NotPutBack, {});
  return false;
}

TResult<void> TWriteTransaction::PutBackOnce(bool& worthRetrying) {
  for (const TParamRow& row : ParamTable()) {
    const double original = RecordValue(FResult.Originals, row);
    if (!FSession.Unanswered(row) && !ValueDiffers(row, original, FSession.Board())) continue;
    const TResult<double> echoed = FSession.Send(row, original, TValueText::Exact);
    if (!echoed) return echoed.Failure();
    // A board that stores the value otherwise does so again: trying again only costs EEPROM
    // writes.
    if (ValueDiffers(row, original, FSession.Board())) {
      worthRetrying = false;
      return StoredOtherwise(row, original, *echoed, TValueText::Exact, true);
    }
  }
  return Verify(FResult.Originals, true);
}

TResult<void> TWriteTransaction::Journaled() {
  if (FResult.JournalId != 0 || !FJournal) return {};
  TResult<qint64> id = FJournal->Begin(FResult.Originals);
  if (!id) return id.Failure();
  FResult.JournalId = *id;
  return {};
}

void TWriteTransaction::Settle(TTransactionEnd end, const QString& outcome) {
  FResult.End = end;
  FResult.Board = FSession.Board();
  if (end == TTransactionEnd::NotPutBack) FResult.Left = Differences();
  if (FResult.JournalId == 0 || outcome.isEmpty() || !FJournal) return;
  TResult<void> finished = FJournal->Finish(FResult.JournalId, outcome);
  if (!finished) FResult.JournalFailure = finished.Failure();
}

std::vector<TValueDifference> TWriteTransaction::Differences() const {
  std::vector<TValueDifference> differences;
  for (const TParamRow& row : ParamTable()) {
    const double original = RecordValue(FResult.Originals, row);
    if (FSession.Unanswered(row))
      differences.push_back({&row, std::nullopt, original});
    else if (ValueDiffers(row, original, FSession.Board()))
      differences.push_back({&row, RecordValue(FSession.Board(), row), original});
  }
  return differences;
}

QString DifferencesText(const std::vector<TValueDifference>& differences) {
  QStringList parts;
  for (const TValueDifference& d : differences)
    parts.append(QStringLiteral("%1 %2 (was %3)")
                     .arg(QLatin1String(d.Row->FileKey), d.Held ? ExactNumberText(*d.Held) : QStringLiteral("unknown"),
                          ExactNumberText(d.Original)));
  return parts.join(QStringLiteral(", "));
}

QString OriginalValuesText(const std::vector<TValueDifference>& differences) {
  QStringList values;
  for (const TValueDifference& d : differences)
    values.append(QStringLiteral("%1=%2").arg(QLatin1String(d.Row->FileKey), ExactNumberText(d.Original)));
  return values.join(QLatin1Char(' '));
}
