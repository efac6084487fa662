#include "steprun/steprun.h"

#include <QJsonArray>

#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

QJsonValue OptionalJson(const std::optional<double>& value) {
  return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
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

double StepAmplitude(int step, const TPIDParams& params) {
  return double(step) * double(params.Multiplier < 1 ? 1 : params.Multiplier);
}

std::optional<double> SamplePeriodMs(const TPIDParams& params, int prediv) {
  if (params.TicksPerServo <= 0) return std::nullopt;
  return params.TicksPerServo * 0.1 * (prediv + 1);
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
  o.insert(QStringLiteral("rise_samples"), OptionalJson(f.RiseSamples));
  o.insert(QStringLiteral("overshoot_pct"), f.OvershootPct);
  o.insert(QStringLiteral("peak_sample"), f.PeakSample);
  o.insert(QStringLiteral("settling_samples"), OptionalJson(f.SettlingSamples));
  o.insert(QStringLiteral("steady_state_error"), f.SteadyStateError);
  o.insert(QStringLiteral("iae"), f.Iae);
  o.insert(QStringLiteral("peak_output"), f.PeakOutput);
  o.insert(QStringLiteral("saturated"), f.Saturated);
  o.insert(QStringLiteral("rest_output_pp_pct"), OptionalJson(f.RestOutputPpPct));
  o.insert(QStringLiteral("rest_error_pp"), OptionalJson(f.RestErrorPp));
  o.insert(QStringLiteral("sample_period_ms"), OptionalJson(periodMs));
  const std::optional<TStepTimes> t =
      periodMs ? std::optional(StepTimes(f, *periodMs)) : std::nullopt;
  o.insert(QStringLiteral("rise_ms"), t ? OptionalJson(t->RiseMs) : QJsonValue());
  o.insert(QStringLiteral("peak_ms"), t ? QJsonValue(t->PeakMs) : QJsonValue());
  o.insert(QStringLiteral("settling_ms"), t ? OptionalJson(t->SettlingMs) : QJsonValue());
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
  if (!run.Label.isEmpty()) o.insert(QStringLiteral("label"), run.Label);
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
    for (size_t k = 0; k < run.Errors.size(); ++k) {
      const QString time = period ? FormatNumber(double(k) * *period) : QString();
      csv += head + QStringLiteral("%1,%2,%3,%4\n")
                        .arg(k)
                        .arg(time, FormatNumber(run.Errors[k]), FormatNumber(run.Outputs[k]));
    }
  }
  return csv;
}
