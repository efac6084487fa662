#include "ctl/runtable.h"

#include <cmath>
#include <limits>

#include "globals/numtext.h"

QString PercentText(double value) { return FixedNumberText(value, 1) + QStringLiteral(" %"); }

QString TimeText(std::optional<double> samples, std::optional<double> periodMs) {
  if (!samples) return QStringLiteral("-");
  if (periodMs) return FixedNumberText(*samples * *periodMs, 2) + QStringLiteral(" ms");
  return FixedNumberText(*samples, 1) + QStringLiteral(" smp");
}

namespace {

// How a table shows a figure and ranks it.
struct TFigureForm {
  const char* Caption;
  QString (*Text)(const TStepRun&);
  double (*Key)(const TStepRun&);
};

constexpr double kNoFigure = std::numeric_limits<double>::infinity();

std::optional<double> Settling(const TStepRun& r) {
  if (!r.Figures.SettlingSamples) return std::nullopt;
  return double(*r.Figures.SettlingSamples);
}

// A time figure of a run whose response lies within one sample is left empty.
std::optional<double> Measurable(const TStepRun& r, std::optional<double> samples) {
  return CoarseSamplingNote(r).isEmpty() ? samples : std::nullopt;
}

// Times rank in ms where the sample period is known, so that runs of other prediv compare.
double TimeKey(std::optional<double> samples, const TStepRun& r) {
  return samples.value_or(kNoFigure) * SamplePeriodMs(r).value_or(1);
}

// A figure that may not exist: "-" when it does not.
template <class F>
QString OptionalText(std::optional<double> value, F text) {
  return value ? text(*value) : QStringLiteral("-");
}

// Indexed by TFigure.
const TFigureForm kFigureForms[] = {
    {"rise", [](const TStepRun& r) { return TimeText(Measurable(r, r.Figures.RiseSamples), SamplePeriodMs(r)); },
     [](const TStepRun& r) { return TimeKey(r.Figures.RiseSamples, r); }},
    {"overshoot", [](const TStepRun& r) { return PercentText(r.Figures.OvershootPct); },
     [](const TStepRun& r) { return r.Figures.OvershootPct; }},
    {"peak", [](const TStepRun& r) { return TimeText(Measurable(r, double(r.Figures.PeakSample)), SamplePeriodMs(r)); },
     [](const TStepRun& r) { return TimeKey(double(r.Figures.PeakSample), r); }},
    {"settling", [](const TStepRun& r) { return TimeText(Measurable(r, Settling(r)), SamplePeriodMs(r)); },
     [](const TStepRun& r) { return TimeKey(Settling(r), r); }},
    {"ss error", [](const TStepRun& r) { return FixedNumberText(r.Figures.SteadyStateError, 2); },
     [](const TStepRun& r) { return std::fabs(r.Figures.SteadyStateError); }},
    {"iae", [](const TStepRun& r) { return FixedNumberText(r.Figures.Iae, 0); },
     [](const TStepRun& r) { return r.Figures.Iae; }},
    {"peak out", [](const TStepRun& r) { return PercentText(r.Figures.PeakOutput); },
     [](const TStepRun& r) { return r.Figures.PeakOutput; }},
    {"saturated", [](const TStepRun& r) { return QString::fromLatin1(r.Figures.Saturated ? "yes" : "no"); },
     [](const TStepRun& r) { return r.Figures.Saturated ? 1.0 : 0.0; }},
    {"rest out p-p", [](const TStepRun& r) { return OptionalText(r.Figures.RestOutputPpPct, PercentText); },
     [](const TStepRun& r) { return r.Figures.RestOutputPpPct.value_or(kNoFigure); }},
    {"rest err p-p", [](const TStepRun& r) { return OptionalText(r.Figures.RestErrorPp, [](double v) { return FixedNumberText(v, 0); }); },
     [](const TStepRun& r) { return r.Figures.RestErrorPp.value_or(kNoFigure); }},
};
static_assert(std::size(kFigureForms) == std::size(kAllFigures));

const TFigureForm& FormOf(TFigure figure) { return kFigureForms[size_t(figure)]; }

}  // namespace

QString FigureCaption(TFigure figure) { return QLatin1String(FormOf(figure).Caption); }

QString FigureText(const TStepRun& run, TFigure figure) { return FormOf(figure).Text(run); }

double FigureKey(const TStepRun& run, TFigure figure) { return FormOf(figure).Key(run); }

QString RunNumberText(const TStepRun& run) {
  return run.Id > 0 ? QString::number(run.Id) : QStringLiteral("-");
}

void PrintRunTable(TCtlIo& io, const std::vector<TStepRun>& runs) {
  QStringList header = {"id", "time", "step", "prediv"};
  for (TFigure figure : kAllFigures) header.append(FigureCaption(figure));
  std::vector<QStringList> rows = {header};
  for (const TStepRun& run : runs) {
    QStringList row = {RunNumberText(run), run.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                       QString::number(run.Step), QString::number(run.Prediv)};
    for (TFigure figure : kAllFigures) row.append(FigureText(run, figure));
    rows.push_back(row);
  }
  PrintTable(io, rows, 2);
  for (const TStepRun& run : runs) {
    const QString note = CoarseSamplingNote(run);
    if (!note.isEmpty()) io.Err << "run " << RunNumberText(run) << ": " << note << "\n" << Qt::flush;
  }
}

namespace {

// The figures a history row has room for.
constexpr TFigure kHistoryFigures[] = {TFigure::Rise, TFigure::Overshoot, TFigure::Settling,
                                       TFigure::Iae, TFigure::Saturated,
                                       TFigure::RestOutputPp};

}  // namespace

void PrintHistoryTable(TCtlIo& io, const std::vector<TRunListing>& listings) {
  QStringList header = {"id", "time", "port", "label", "step", "prediv", "P", "I", "D"};
  for (TFigure figure : kHistoryFigures) header.append(FigureCaption(figure));
  std::vector<QStringList> rows = {header};
  for (const TRunListing& l : listings) {
    const TStepRun& run = l.Run;
    QStringList row = {QString::number(run.Id), run.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                       run.Port, run.Label.isEmpty() ? QStringLiteral("-") : run.Label,
                       QString::number(run.Step), QString::number(run.Prediv),
                       FormatNumber(run.Params.P), FormatNumber(run.Params.I), FormatNumber(run.Params.D)};
    for (TFigure figure : kHistoryFigures) row.append(FigureText(run, figure));
    rows.push_back(row);
  }
  PrintTable(io, rows, 4);
}
