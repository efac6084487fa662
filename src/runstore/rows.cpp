#include "runstore/rows.h"

#include <QtEndian>

#include "parameters/paramtable.h"

namespace {

// Returns the stored time: the UTC instant with the offset its text was written with, so that
// it shows the clock time of the place and day it was made. Faster than reading the text.
QDateTime StoredTime(const QString& text, qint64 utcMs) {
  int offset = 0;
  const qsizetype n = text.size();
  if (n > 6 && (text[n - 6] == u'+' || text[n - 6] == u'-') && text[n - 3] == u':') {
    offset = text.mid(n - 5, 2).toInt() * 3600 + text.mid(n - 2, 2).toInt() * 60;
    if (text[n - 6] == u'-') offset = -offset;
  }
  return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offset);
}

// A blob shorter than fourteen values leaves the missing ones at zero.
TPIDParams UnpackParams(const QByteArray& blob) {
  TPIDParams params;
  const char* in = blob.constData();
  const qsizetype count = blob.size() / qsizetype(sizeof(double));
  qsizetype k = 0;
  for (const TParamRow& row : ParamTable())
    if (k < count) StoreAnswer(params, row, qFromLittleEndian<double>(in + sizeof(double) * k++));
  params.Valid = true;
  return params;
}

}  // namespace

QVariant TRow::Value(int column) const {
  switch (sqlite3_column_type(FStatement, column)) {
    case SQLITE_INTEGER: return QVariant(qint64(sqlite3_column_int64(FStatement, column)));
    case SQLITE_FLOAT: return QVariant(sqlite3_column_double(FStatement, column));
    case SQLITE_NULL: return QVariant();
    case SQLITE_BLOB:
      return QByteArray(static_cast<const char*>(sqlite3_column_blob(FStatement, column)),
                        sqlite3_column_bytes(FStatement, column));
    default:
      return QString(static_cast<const QChar*>(sqlite3_column_text16(FStatement, column)),
                     sqlite3_column_bytes16(FStatement, column) / qsizetype(sizeof(QChar)));
  }
}

double TRow::Number(int column) const {
  switch (sqlite3_column_type(FStatement, column)) {
    case SQLITE_FLOAT: return sqlite3_column_double(FStatement, column);
    case SQLITE_INTEGER: return double(sqlite3_column_int64(FStatement, column));
    case SQLITE_NULL: return 0;
    default: return Value(column).toDouble();
  }
}

TPIDParams TRow::Params(int column, TParamLayout layout) const {
  if (layout == TParamLayout::Packed) return UnpackParams(Value(column).toByteArray());
  TPIDParams params;
  for (const TParamRow& row : ParamTable()) StoreAnswer(params, row, Number(column++));
  params.Valid = true;
  return params;
}

void BindText(sqlite3_stmt* statement, int index, const QString& text) {
  static const char16_t empty[] = u"";
  const void* chars = text.isEmpty() ? static_cast<const void*>(empty) : text.utf16();
  sqlite3_bind_text16(statement, index, chars, int(text.size() * qsizetype(sizeof(QChar))),
                      SQLITE_TRANSIENT);
}

void BindTextOrNull(sqlite3_stmt* statement, int index, const QString& text) {
  if (text.isEmpty())
    sqlite3_bind_null(statement, index);
  else
    BindText(statement, index, text);
}

void BindOptional(sqlite3_stmt* statement, int index, const std::optional<double>& value) {
  if (value)
    sqlite3_bind_double(statement, index, *value);
  else
    sqlite3_bind_null(statement, index);
}

void BindOptional(sqlite3_stmt* statement, int index, const std::optional<int>& value) {
  if (value)
    sqlite3_bind_int(statement, index, *value);
  else
    sqlite3_bind_null(statement, index);
}

void BindParams(sqlite3_stmt* statement, int index, const TPIDParams& params) {
  for (const TParamRow& row : ParamTable()) {
    if (row.DoubleField)
      sqlite3_bind_double(statement, index++, params.*row.DoubleField);
    else
      sqlite3_bind_int(statement, index++, params.*row.IntField);
  }
}

TRunListing ReadRunRow(const TRow& q, TParamLayout layout) {
  TRunListing r;
  TStepRun& run = r.Run;
  run.Id = q.Value(0).toLongLong();
  run.Time = StoredTime(q.Value(1).toString(), q.Value(2).toLongLong());
  run.Port = q.Value(3).toString();
  run.Label = q.Value(4).toString();
  run.Step = q.Value(5).toInt();
  run.Prediv = q.Value(6).toInt();
  r.SampleCount = q.Value(7).toInt();
  TStepFigures& f = run.Figures;
  const QVariant rise = q.Value(8), settling = q.Value(11);
  if (!rise.isNull()) f.RiseSamples = rise.toDouble();
  f.OvershootPct = q.Number(9);
  f.PeakSample = q.Value(10).toInt();
  if (!settling.isNull()) f.SettlingSamples = settling.toInt();
  f.SteadyStateError = q.Number(12);
  f.Iae = q.Number(13);
  f.PeakOutput = q.Number(14);
  f.Saturated = q.Value(15).toBool();
  const QVariant restOutput = q.Value(16), restError = q.Value(17);
  if (!restOutput.isNull()) f.RestOutputPpPct = restOutput.toDouble();
  if (!restError.isNull()) f.RestErrorPp = restError.toDouble();
  run.Params = q.Params(kRunParamsColumn, layout);
  return r;
}

TJournalEntry ReadJournalRow(const TRow& q, TParamLayout layout) {
  TJournalEntry e;
  e.Id = q.Value(0).toLongLong();
  e.Kind = q.Value(1).toString() == QLatin1String("move") ? TJournalKind::Move : TJournalKind::Write;
  e.Time = StoredTime(q.Value(2).toString(), q.Value(3).toLongLong());
  e.Port = q.Value(4).toString();
  e.Device = q.Value(5).toString();
  e.Command = q.Value(6).toString();
  e.Planned = q.Value(7).toString();
  e.Finished = !q.Value(8).isNull();
  e.Outcome = q.Value(9).toString();
  e.Board = q.Params(kJournalBoardColumn, layout);
  return e;
}

TTrial ReadTrialRow(const TRow& q) {
  TTrial t;
  t.Id = q.Value(0).toLongLong();
  t.JournalId = q.Value(1).toLongLong();
  t.Number = q.Value(2).toInt();
  t.ForwardRun = q.Value(3).toLongLong();
  t.ReverseRun = q.Value(4).toLongLong();
  t.RestRun = q.Value(5).toLongLong();
  t.Verdict = q.Value(6).toString();
  if (const QVariant cost = q.Value(7); !cost.isNull()) t.Cost = cost.toDouble();
  t.Dangerous = q.Value(8).toBool();
  t.Gains = q.Params(kTrialGainsColumn, TParamLayout::Columns);
  return t;
}

void UnpackSamples(const QByteArray& blob, TStepRun& run) {
  const qsizetype n = blob.size() / qsizetype(2 * sizeof(double));
  const char* in = blob.constData();
  run.Errors.reserve(run.Errors.size() + size_t(n));
  run.Outputs.reserve(run.Outputs.size() + size_t(n));
  for (qsizetype k = 0; k < n; ++k, in += 2 * sizeof(double)) {
    run.Errors.push_back(qFromLittleEndian<double>(in));
    run.Outputs.push_back(qFromLittleEndian<double>(in + sizeof(double)));
  }
}

std::optional<double> SampleSeconds(const TStepRun& run, int idx) {
  if (run.Params.TicksPerServo <= 0) return std::nullopt;
  // One product of whole numbers, divided once: exact wherever the times are meaningful.
  return double(idx) * double(run.Params.TicksPerServo) * (double(run.Prediv) + 1) / 10000.0;
}

void FillRestFigures(TStepRun& run) {
  if (run.Figures.RestOutputPpPct) return;
  const TStepFigures figures = ComputeStepFigures(run.Errors, run.Outputs,
                                                  StepAmplitude(run.Step, run.Params), run.Params.MaxOutput);
  run.Figures.RestOutputPpPct = figures.RestOutputPpPct;
  run.Figures.RestErrorPp = figures.RestErrorPp;
}
