#include "boardsession/session.h"

#include "boardsession/steptest.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "protocol/paramwrite.h"

namespace {

// Returns "P holds 0.3, was 0.2, ..." for every row of board that differs from expected.
QString MismatchText(const TPIDParams& board, const TPIDParams& expected) {
  QStringList rows;
  for (const TParamRow& row : ParamTable()) {
    if (!ValueDiffers(row, RecordValue(expected, row), board)) continue;
    rows.append(QStringLiteral("%1 holds %2, was %3")
                    .arg(QLatin1String(row.FileKey), ExactNumberText(RecordValue(board, row)),
                         ExactNumberText(RecordValue(expected, row))));
  }
  return rows.join(QStringLiteral(", "));
}

constexpr int kPutBackAttempts = 3;

}  // namespace

TBoardSession::TBoardSession(TLineChannel::TLogLine log) : FLink(std::move(log)) {}

bool TBoardSession::Open(const QString& port, QString& failure) {
  try {
    FLink.Open(port);
  } catch (const Exception& e) {
    failure = e.Message();
    return false;
  }
  return ReadOriginals(failure);
}

bool TBoardSession::ReadOriginals(QString& failure) {
  if (!ReadBoardParameters(FLink, FBoard, failure)) return false;
  FOriginal = FBoard;
  FUnanswered.reset();
  return true;
}

bool TBoardSession::Write(const TParamValues& target, TEchoRule rule, QString& failure,
                          const std::function<void(const TParamWrite&)>& onDiffering) {
  return WriteValues(target, rule, failure, onDiffering);
}

bool TBoardSession::WriteValues(const TParamValues& target, TEchoRule rule, QString& failure,
                                const std::function<void(const TParamWrite&)>& onDiffering,
                                QString (*textOf)(double)) {
  bool stopped = false;
  bool refused = false;
  // Decided row by row against the board's answers so far. A row is marked unanswered as it
  // is sent, and the mark goes when its answer is stored.
  auto valueToSend = [&](const TParamRow& row) -> std::optional<double> {
    const double to = target[RowIndex(row)];
    if (stopped || refused || !ValueDiffers(row, to, FBoard)) return std::nullopt;
    if (!Journaled(failure)) {
      refused = true;
      return std::nullopt;
    }
    FUnanswered.set(RowIndex(row));
    return to;
  };
  auto onWritten = [&](const TParamWrite& w) {
    FUnanswered.reset(RowIndex(*w.Row));
    if (!ValueDiffers(*w.Row, w.Sent, FBoard)) return;
    if (onDiffering) onDiffering(w);
    if (rule != TEchoRule::Stop || stopped) return;
    stopped = true;
    failure = QStringLiteral("the board holds %1 %2 where %3 was sent")
                  .arg(QLatin1String(w.Row->FileKey), FormatNumber(w.Echoed), FormatNumber(w.Sent));
  };
  bool written = false;
  try {
    written = WriteParameterRows(FLink.Channel(), FBoard, valueToSend, onWritten, textOf);
  } catch (const Exception& e) {
    failure = e.Message();
    return false;
  }
  const QStringList errors = FLink.TakeReceiveErrors();
  if (!errors.isEmpty()) {
    failure = errors.constLast();
    return false;
  }
  if (refused) return false;
  if (!written) failure = QStringLiteral("Error writing params");
  return written && !stopped;
}

bool TBoardSession::Journaled(QString& failure) {
  if (FJournalId != 0 || !FJournal.Begin) return true;
  const std::optional<qint64> id = FJournal.Begin(FOriginal, failure);
  if (!id) return false;
  FJournalId = *id;
  return true;
}

void TBoardSession::Settled(const QString& outcome) {
  if (FJournalId == 0) return;
  if (FJournal.Finish) FJournal.Finish(FJournalId, outcome);
  FJournalId = 0;
}

bool TBoardSession::Read(QString& failure) {
  TPIDParams now;
  if (!ReadBoardParameters(FLink, now, failure)) return false;
  FBoard = now;
  FUnanswered.reset();
  return true;
}

bool TBoardSession::Verify(const TPIDParams& expected, QString& failure) {
  if (!Read(failure)) return false;
  failure = MismatchText(FBoard, expected);
  return failure.isEmpty();
}

bool TBoardSession::PutBackOnce(QString& failure) {
  // The tool's 15 digits would put back 0.12345678901234567 as 0.123456789012346.
  if (!WriteValues(ParamValuesOf(FOriginal), TEchoRule::Report, failure, {}, ExactNumberText))
    return false;
  return Verify(FOriginal, failure);
}

bool TBoardSession::PutBack(QString& failure) {
  // A lost or garbled answer leaves the board's values unknown, and a line that drops one
  // answer usually carries the next: read what the board holds and write what still differs.
  // A device that is gone is not asked again.
  for (int attempt = 1;; ++attempt) {
    if (PutBackOnce(failure)) {
      Settled(QStringLiteral("put back"));
      return true;
    }
    if (attempt == kPutBackAttempts || FLink.Port().DeviceLost()) return false;
    QString readFailure;
    Read(readFailure);
  }
}

std::vector<TValueDifference> TBoardSession::Differences() const {
  std::vector<TValueDifference> differences;
  for (const TParamRow& row : ParamTable()) {
    const double original = RecordValue(FOriginal, row);
    if (FUnanswered.test(RowIndex(row)))
      differences.push_back({&row, std::nullopt, original});
    else if (ValueDiffers(row, original, FBoard))
      differences.push_back({&row, RecordValue(FBoard, row), original});
  }
  return differences;
}

void TBoardSession::Keep() {
  FOriginal = FBoard;
  FUnanswered.reset();
  Settled(QStringLiteral("kept"));
}

QString DifferencesText(const std::vector<TValueDifference>& differences) {
  QStringList parts;
  for (const TValueDifference& d : differences)
    parts.append(QStringLiteral("%1 %2 (was %3)")
                     .arg(QLatin1String(d.Row->FileKey),
                          d.Held ? ExactNumberText(*d.Held) : QStringLiteral("unknown"),
                          ExactNumberText(d.Original)));
  return parts.join(QStringLiteral(", "));
}
