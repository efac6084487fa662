#include "steptest/paramswap.h"

#include <algorithm>

#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "steptest/boardlink.h"
#include "steptest/steptest.h"

namespace {

size_t RowIndex(const TParamRow& row) { return size_t(&row - ParamTable().data()); }

// The limits of a row's entry field; 0, 0 means none.
double LimitToField(const TParamRow& row, double value) {
  if (row.MinValue == 0 && row.MaxValue == 0) return value;
  return std::clamp(value, double(row.MinValue), double(row.MaxValue));
}

QString MismatchText(const TPIDParams& board, const TPIDParams& original) {
  QStringList rows;
  for (const TParamRow& row : ParamTable()) {
    if (!RowDiffers(row, RecordValue(original, row), board)) continue;
    rows.append(QStringLiteral("%1 holds %2, was %3")
                    .arg(QLatin1String(row.FileKey), FormatNumber(RecordValue(board, row)),
                         FormatNumber(RecordValue(original, row))));
  }
  return rows.join(QStringLiteral(", "));
}

}  // namespace

TParamValues ParamValuesFromFile(const TParamFileValues& file) {
  TParamValues values{};
  for (const TParamRow& row : ParamTable()) {
    const TParamFileValue& v = file[RowIndex(row)];
    values[RowIndex(row)] = row.FileFloat ? v.Float : LimitToField(row, double(v.Int));
  }
  return values;
}

TParamValues ParamValuesOf(const TPIDParams& params) {
  TParamValues values{};
  for (const TParamRow& row : ParamTable()) values[RowIndex(row)] = RecordValue(params, row);
  return values;
}

bool RowDiffers(const TParamRow& row, double value, const TPIDParams& board) {
  const double held = RecordValue(board, row);
  switch (row.Class) {
    case TRowClass::Float:
    case TRowClass::MaxOutput:
      return value != held;
    case TRowClass::FaultError:
    case TRowClass::Integer:
      return RoundToInt32(value) != RoundToInt32(held);
  }
  return false;
}

std::vector<TPlannedWrite> PlanWrites(const TPIDParams& board, const TParamValues& target) {
  std::vector<TPlannedWrite> writes;
  for (const TParamRow& row : ParamTable()) {
    const double to = target[RowIndex(row)];
    if (RowDiffers(row, to, board)) writes.push_back({&row, RecordValue(board, row), to});
  }
  return writes;
}

bool WriteParamValues(TLineChannel& channel, TPIDParams& board, const TParamValues& target,
                      const std::function<void(const TParamWrite&)>& onWritten) {
  // Decided row by row against the board's answers so far.
  auto valueToSend = [&](const TParamRow& row) -> std::optional<double> {
    const double to = target[RowIndex(row)];
    if (!RowDiffers(row, to, board)) return std::nullopt;
    return to;
  };
  return WriteParameterRows(channel, board, valueToSend, onWritten);
}

namespace {

// One attempt of RestoreParameters.
bool RestoreOnce(TBoardLink& link, TPIDParams& board, const TPIDParams& original,
                 QString& failure) {
  bool written = false;
  try {
    written = WriteParamValues(link.Channel(), board, ParamValuesOf(original));
  } catch (const Exception& e) {
    failure = e.Message();
    return false;
  }
  if (!written) {
    failure = QStringLiteral("Error writing params");
    return false;
  }
  TPIDParams check;
  if (!ReadBoardParameters(link, check, failure)) return false;
  board = check;
  failure = MismatchText(board, original);
  return failure.isEmpty();
}

constexpr int kRestoreAttempts = 3;

}  // namespace

bool RestoreParameters(TBoardLink& link, TPIDParams& board, const TPIDParams& original,
                       QString& failure) {
  // A lost or garbled answer leaves the board's values unknown, and a line that drops one
  // answer usually carries the next: read what the board holds and write what still differs.
  // A device that is gone is not asked again.
  for (int attempt = 1;; ++attempt) {
    if (RestoreOnce(link, board, original, failure)) return true;
    if (attempt == kRestoreAttempts || link.Port().DeviceLost()) return false;
    TPIDParams now;
    QString readFailure;
    if (ReadBoardParameters(link, now, readFailure)) board = now;
  }
}

QString DescribeWrite(const TPlannedWrite& write) {
  return QStringLiteral("%1 %2 -> %3")
      .arg(QLatin1String(write.Row->FileKey), FormatNumber(write.From), FormatNumber(write.To));
}
