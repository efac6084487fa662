#include "steprun/steprun.h"

#include <QJsonArray>
#include <cmath>

#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

// A text that may be empty: null then, so that every run carries the key.
QJsonValue OptionalJson(const QString& text) {
  return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue OptionalJson(const std::optional<int>& value) {
  return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// Escapes a CSV field that holds a comma, a quote or a line end.
QString CsvField(const QString& text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
      !text.contains(QLatin1Char('\n')))
    return text;
  QString quoted = text;
  quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QJsonValue FigureJson(double value) {
  if (!std::isfinite(value)) return QJsonValue(QJsonValue::Null);
  return QJsonValue(FormatNumber(value).toDouble());
}

QJsonValue FigureJson(std::optional<double> value) {
  return value ? FigureJson(*value) : QJsonValue(QJsonValue::Null);
}

double StepAmplitude(int step, const TPIDParams& params) {
  return double(step) * double(params.Multiplier < 1 ? 1 : params.Multiplier);
}

bool StepTripsServo(int step, const TPIDParams& params) {
  return params.FaultError > 0 && std::fabs(StepAmplitude(step, params)) > params.FaultError;
}

std::optional<double> SamplePeriodMs(const TPIDParams& params, int prediv) {
  if (params.TicksPerServo <= 0) return std::nullopt;
  // Divided last: 3 ticks are 0.3 ms, where 3 x 0.1 would be 0.30000000000000004.
  return double(params.TicksPerServo) * double(prediv + 1) / 10.0;
}

bool WithinOneSample(std::optional<double> samples) { return samples && *samples <= 1.0; }

QString CoarseSamplingNote(const TStepRun& run) {
  const TStepFigures& f = run.Figures;
  const std::optional<double> settling =
      f.SettlingSamples ? std::optional<double>(*f.SettlingSamples) : std::nullopt;
  if (!WithinOneSample(f.RiseSamples) && !WithinOneSample(settling)) return QString();
  const std::optional<double> period = SamplePeriodMs(run);
  const QString sample = period ? QStringLiteral("one sample (%1 ms)").arg(FormatNumber(*period))
                                : QStringLiteral("one sample");
  return QStringLiteral("the response lies within %1: rise, peak and settling are shorter than "
                        "the sampling shows and are left empty; a smaller prediv measures them")
      .arg(sample);
}

void UpdateFigures(TStepRun& run) {
  run.Figures = ComputeStepFigures(run.Errors, run.Outputs, StepAmplitude(run.Step, run.Params),
                                   run.Params.MaxOutput);
}

QJsonObject ParamsJson(const TPIDParams& params) {
  QJsonObject object;
  for (const TParamRow& row : ParamTable())
    object.insert(QLatin1String(row.FileKey), RecordValue(params, row));
  return object;
}

TPIDParams ParamsFromJson(const QJsonObject& object) {
  TPIDParams params;
  for (const TParamRow& row : ParamTable()) {
    const QJsonValue value = object.value(QLatin1String(row.FileKey));
    if (value.isDouble()) StoreAnswer(params, row, value.toDouble());
  }
  params.Valid = true;
  return params;
}

QJsonObject FiguresJson(const TStepFigures& f, std::optional<double> periodMs) {
  QJsonObject o;
  o.insert(QStringLiteral("rise_samples"), FigureJson(f.RiseSamples));
  o.insert(QStringLiteral("overshoot_pct"), FigureJson(f.OvershootPct));
  o.insert(QStringLiteral("peak_sample"), f.PeakSample);
  o.insert(QStringLiteral("settling_samples"), OptionalJson(f.SettlingSamples));
  o.insert(QStringLiteral("steady_state_error"), FigureJson(f.SteadyStateError));
  o.insert(QStringLiteral("iae"), FigureJson(f.Iae));
  o.insert(QStringLiteral("peak_output"), FigureJson(f.PeakOutput));
  o.insert(QStringLiteral("saturated"), f.Saturated);
  o.insert(QStringLiteral("rest_output_pp_pct"), FigureJson(f.RestOutputPpPct));
  o.insert(QStringLiteral("rest_error_pp"), FigureJson(f.RestErrorPp));
  o.insert(QStringLiteral("sample_period_ms"), FigureJson(periodMs));
  const std::optional<TStepTimes> t =
      periodMs ? std::optional(StepTimes(f, *periodMs)) : std::nullopt;
  o.insert(QStringLiteral("rise_ms"), t ? FigureJson(t->RiseMs) : QJsonValue());
  o.insert(QStringLiteral("peak_ms"), t ? FigureJson(t->PeakMs) : QJsonValue());
  o.insert(QStringLiteral("settling_ms"), t ? FigureJson(t->SettlingMs) : QJsonValue());
  return o;
}

QJsonObject RunJson(const TStepRun& run, std::optional<int> sampleCount) {
  QJsonObject o = FiguresJson(run.Figures, SamplePeriodMs(run));
  o.insert(QStringLiteral("id"), run.Id);
  o.insert(QStringLiteral("port"), run.Port);
  o.insert(QStringLiteral("step"), run.Step);
  o.insert(QStringLiteral("prediv"), run.Prediv);
  o.insert(QStringLiteral("sample_count"), sampleCount.value_or(int(run.Errors.size())));
  if (!sampleCount) {
    QJsonArray samples;
    for (size_t k = 0; k < run.Errors.size(); ++k)
      samples.append(QJsonArray{run.Errors[k], run.Outputs[k]});
    o.insert(QStringLiteral("samples"), samples);
  }
  o.insert(QStringLiteral("params"), ParamsJson(run.Params));
  o.insert(QStringLiteral("time"), IsoTime(run.Time));
  o.insert(QStringLiteral("label"), OptionalJson(run.Label));
  const QString note = CoarseSamplingNote(run);
  if (!note.isEmpty()) {
    for (const char* key : {"rise_samples", "rise_ms", "peak_sample", "peak_ms", "settling_samples", "settling_ms"})
      o.insert(QLatin1String(key), QJsonValue());
  }
  o.insert(QStringLiteral("note"), OptionalJson(note));
  return o;
}

QString IsoTime(const QDateTime& time) {
  // Written with the clock time and offset of where it was made ("Z" for UTC), so that a run
  // read elsewhere or later still shows its own time.
  return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString RunCaption(const TStepRun& run) {
  if (!run.Label.isEmpty()) return run.Label;
  const QString name = run.Id > 0 ? QStringLiteral("#%1").arg(run.Id) : QStringLiteral("run");
  return QStringLiteral("%1 step %2, P %3 I %4 D %5")
      .arg(name, QString::number(run.Step), FormatNumber(run.Params.P), FormatNumber(run.Params.I),
           FormatNumber(run.Params.D));
}

QString RunsCsv(const std::vector<TStepRun>& runs) {
  QString csv = QStringLiteral("run,label,step,prediv,sample,time_ms,error,output\n");
  for (const TStepRun& run : runs) {
    const std::optional<double> period = SamplePeriodMs(run);
    const QString head = QStringLiteral("%1,%2,%3,%4,")
                             .arg(run.Id)
                             .arg(CsvField(run.Label))
                             .arg(run.Step)
                             .arg(run.Prediv);
    // Appended piece by piece: a run has hundreds of rows, and a text built per row cost
    // several allocations each.
    for (size_t k = 0; k < run.Errors.size(); ++k) {
      csv += head;
      csv += QString::number(k);
      csv += u',';
      if (period) csv += FormatNumber(double(k) * *period);
      csv += u',';
      csv += FormatNumber(run.Errors[k]);
      csv += u',';
      csv += FormatNumber(run.Outputs[k]);
      csv += u'\n';
    }
  }
  return csv;
}
