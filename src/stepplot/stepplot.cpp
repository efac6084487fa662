#include "stepplot/stepplot.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <functional>

#include "monitor/chartaxis.h"
#include "stepplot/plotparts.h"
#include "outputfile/outputfile.h"

namespace {

const QString kBandKey = QStringLiteral("settled: within 2 % of the step");

// The time axis shared by both panels: where sample k of a run lies.
struct TTimeAxis : TPlotAxis {
  bool Seconds = false;  // every run's period is known

  double At(const TStepRun& run, size_t k) const {
    return Seconds ? double(k) * *SamplePeriodMs(run) / 1000.0 : double(k);
  }
};

TTimeAxis MakeTimeAxis(const std::vector<TStepRun>& runs) {
  TTimeAxis axis;
  axis.Seconds = std::all_of(runs.begin(), runs.end(),
                             [](const TStepRun& r) { return SamplePeriodMs(r).has_value(); });
  axis.Title = axis.Seconds ? QStringLiteral("Time after the step (s)")
                            : QStringLiteral("Samples after the step");
  double end = 0;
  for (const TStepRun& run : runs)
    if (!run.Errors.empty()) end = std::max(end, axis.At(run, run.Errors.size() - 1));
  if (!(end > 0)) end = 1;
  // A little room before the step, so that the step itself can be seen.
  axis.View = {-end * 0.04, end};
  return axis;
}

TAxisRange ErrorRange(const std::vector<TStepRun>& runs) {
  double lo = 0, hi = 0;
  for (const TStepRun& run : runs) {
    const double amplitude = StepAmplitude(run.Step, run.Params);
    lo = std::min(lo, amplitude);
    hi = std::max(hi, amplitude);
    for (double e : run.Errors) {
      lo = std::min(lo, e);
      hi = std::max(hi, e);
    }
  }
  return Padded(lo, hi, 0.06);
}

// The output limit is shown when some run comes within a fifth of it.
bool ShowLimit(const std::vector<TStepRun>& runs) {
  return std::any_of(runs.begin(), runs.end(), [](const TStepRun& r) {
    return r.Params.MaxOutput > 0 && r.Figures.PeakOutput >= 0.8 * r.Params.MaxOutput;
  });
}

// The runs' output limits, each once: runs made with other gains files may have others.
std::vector<double> OutputLimits(const std::vector<TStepRun>& runs) {
  std::vector<double> limits;
  for (const TStepRun& r : runs)
    if (r.Params.MaxOutput > 0) limits.push_back(r.Params.MaxOutput);
  std::sort(limits.begin(), limits.end());
  limits.erase(std::unique(limits.begin(), limits.end()), limits.end());
  return limits;
}

TAxisRange OutputRange(const std::vector<TStepRun>& runs) {
  double lo = 0, hi = 0;
  for (const TStepRun& run : runs) {
    for (double o : run.Outputs) {
      lo = std::min(lo, o);
      hi = std::max(hi, o);
    }
    if (ShowLimit(runs) && run.Params.MaxOutput > 0) {
      if (hi > 0) hi = std::max(hi, run.Params.MaxOutput);
      if (lo < 0) lo = std::min(lo, -run.Params.MaxOutput);
    }
  }
  return Padded(lo, hi, 0.06);
}

QPainterPath TracePath(const TStepRun& run, const std::vector<double>& values,
                       const TTimeAxis& time, const TScale& x, const TScale& y) {
  QPainterPath path;
  for (size_t k = 0; k < values.size(); ++k) {
    const QPointF point(x(time.At(run, k)), y(values[k]));
    if (k == 0) path.moveTo(point);
    else path.lineTo(point);
  }
  return path;
}

// The 2 % band around zero error and, dashed, the step: the error a motor that did not move
// would show, zero before the step and the step's size after it.
void DrawErrorReferences(QPainter& p, const TPanel& panel, const TTimeAxis& time,
                         const std::vector<TStepRun>& runs) {
  const TScale x = panel.X(time), y = panel.Ys();
  std::vector<double> amplitudes;
  for (const TStepRun& run : runs) {
    const double a = StepAmplitude(run.Step, run.Params);
    if (std::find(amplitudes.begin(), amplitudes.end(), a) == amplitudes.end())
      amplitudes.push_back(a);
  }
  for (double a : amplitudes) {
    const double band = kSettlingBand * std::fabs(a);
    p.fillRect(QRectF(QPointF(panel.Rect.left(), y(band)), QPointF(panel.Rect.right(), y(-band))),
               kBand);
  }
  p.setPen(QPen(kReference, 1.2, Qt::DashLine));
  for (double a : amplitudes) {
    const QPointF points[] = {{x(time.View.Min), y(0)}, {x(0), y(0)}, {x(0), y(a)},
                              {x(time.View.Max), y(a)}};
    p.drawPolyline(points, 4);
    p.drawText(QPointF(x(time.View.Max) - 120, y(a) + (a > 0 ? 16 : -6)),
               QStringLiteral("step %1").arg(a));
  }
  p.setPen(QPen(kFrame, 1));
  p.drawLine(QPointF(panel.Rect.left(), y(0)), QPointF(panel.Rect.right(), y(0)));
}

void DrawOutputReferences(QPainter& p, const TPanel& panel, const std::vector<TStepRun>& runs) {
  const TScale y = panel.Ys();
  p.setPen(QPen(kFrame, 1));
  p.drawLine(QPointF(panel.Rect.left(), y(0)), QPointF(panel.Rect.right(), y(0)));
  if (!ShowLimit(runs)) return;
  p.setPen(QPen(kLimit, 1.2, Qt::DotLine));
  for (double limit : OutputLimits(runs)) {
    for (double v : {limit, -limit}) {
      if (v < panel.Y.Min || v > panel.Y.Max) continue;
      p.drawLine(QPointF(panel.Rect.left(), y(v)), QPointF(panel.Rect.right(), y(v)));
      p.drawText(QPointF(panel.Rect.left() + 6, y(v) + (v > 0 ? 14 : -5)),
                 QStringLiteral("%1 %").arg(v));
    }
  }
}

// Draws each run's trace of one panel, oldest first so that the newest lies on top.
void DrawTraces(QPainter& p, const TPanel& panel, const TTimeAxis& time,
                const std::vector<TStepRun>& runs, bool errors) {
  p.save();
  p.setClipRect(panel.Rect);
  for (size_t i = 0; i < runs.size(); ++i) {
    const TStepRun& run = runs[i];
    p.setPen(QPen(kPalette[i % std::size(kPalette)], 2, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.drawPath(TracePath(run, errors ? run.Errors : run.Outputs, time, panel.X(time),
                         panel.Ys()));
  }
  p.restore();
}

// The legend, right of the panels: one entry per run with its colour, in the order of the
// runs (the order of the tables), then what the reference marks mean.
void DrawLegend(QPainter& p, const QRectF& area, const std::vector<TStepRun>& runs) {
  double y = area.top();
  for (size_t i = 0; i < runs.size(); ++i)
    y = DrawLegendLine(p, area, y, RunCaption(runs[i]),
                       LineMark(p, QPen(kPalette[i % std::size(kPalette)], 3)));
  y += QFontMetricsF(p.font()).height() * 0.5;
  y = DrawLegendLine(p, area, y, QStringLiteral("step"),
                     LineMark(p, QPen(kReference, 1.2, Qt::DashLine)));
  y = DrawLegendLine(p, area, y, kBandKey,
                     [&](const QRectF& r) { p.fillRect(r.adjusted(0, 3, 0, -3), kBand); });
  if (ShowLimit(runs))
    DrawLegendLine(p, area, y, QStringLiteral("output limit"), LineMark(p, QPen(kLimit, 1.2, Qt::DotLine)));
}

double LegendWidth(const QFontMetricsF& metrics, const std::vector<TStepRun>& runs) {
  double widest = metrics.horizontalAdvance(kBandKey);
  for (const TStepRun& run : runs) widest = std::max(widest, metrics.horizontalAdvance(RunCaption(run)));
  return std::min(widest + 40, 380.0);
}

}  // namespace

void DrawStepPlot(QPainter& p, const QSize& size, const std::vector<TStepRun>& runs,
                  const QString& title) {
  const QFont font = BeginPicture(p, size, title);
  if (runs.empty()) return;

  const double legend = LegendWidth(QFontMetricsF(font), runs);
  const QRectF plot(QPointF(96, 56),
                    QPointF(size.width() - kMargin - legend - 12, size.height() - 56));
  const double errorHeight = (plot.height() - kPanelGap) * 0.6;
  const TPanel error{QRectF(plot.left(), plot.top(), plot.width(), errorHeight), ErrorRange(runs),
                     QStringLiteral("Error (counts)")};
  const TPanel output{QRectF(QPointF(plot.left(), error.Rect.bottom() + kPanelGap),
                             plot.bottomRight()),
                      OutputRange(runs), QStringLiteral("Output (%)")};
  const TTimeAxis time = MakeTimeAxis(runs);

  DrawYAxis(p, error);
  DrawYAxis(p, output);
  DrawXGrid(p, error, time, false);
  DrawXGrid(p, output, time, true);
  DrawErrorReferences(p, error, time, runs);
  DrawOutputReferences(p, output, runs);
  DrawTraces(p, error, time, runs, true);
  DrawTraces(p, output, time, runs, false);
  DrawFrame(p, error);
  DrawFrame(p, output);
  DrawLegend(p, QRectF(plot.right() + 20, plot.top(), legend, plot.height()), runs);
}

TResult<void> SaveStepPlot(const QString& fileName, TPlotFormat format, const std::vector<TStepRun>& runs,
                           const QString& title) {
  const TDraw draw = [&](QPainter& p, const QSize& size) { DrawStepPlot(p, size, runs, title); };
  const QByteArray bytes =
      format == TPlotFormat::Svg ? RenderSvg(kStepPlotSize, title, draw) : RenderPng(kStepPlotSize, draw);
  return WriteOutputFile(fileName, bytes);
}
