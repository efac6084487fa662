#include "boardsession/paramswap.h"

#include <QStringList>
#include <algorithm>

#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

// The limits of a row's entry field; 0, 0 means none.
double LimitToField(const TParamRow& row, double value) {
  if (row.MinValue == 0 && row.MaxValue == 0) return value;
  return std::clamp(value, double(row.MinValue), double(row.MaxValue));
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

std::vector<TPlannedWrite> PlanWrites(const TPIDParams& board, const TParamValues& target) {
  std::vector<TPlannedWrite> writes;
  for (const TParamRow& row : ParamTable()) {
    const double to = target[RowIndex(row)];
    if (ValueDiffers(row, to, board)) writes.push_back({&row, RecordValue(board, row), to});
  }
  return writes;
}

QString ValueTextOf(double value, TValueText text) {
  return text == TValueText::Exact ? ExactNumberText(value) : FormatNumber(value);
}

QString DescribeWrite(const TPlannedWrite& write, TValueText text) {
  return QStringLiteral("%1 %2 -> %3")
      .arg(QLatin1String(write.Row->FileKey), FormatNumber(write.From), ValueTextOf(write.To, text));
}

QString DescribeWrites(const std::vector<TPlannedWrite>& writes, TValueText text) {
  QStringList parts;
  for (const TPlannedWrite& w : writes) parts.append(DescribeWrite(w, text));
  return parts.join(QStringLiteral(", "));
}
