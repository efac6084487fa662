#include "stepplot/trackplot.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "outputfile/outputfile.h"
#include "stepplot/plotparts.h"

namespace {

const QColor kMoving(31, 119, 180, 22);

TAxisRange Range(const TTrackPlot& plot, std::vector<double> TTrackPlotTrace::*values, bool withLimit) {
  double lo = 0, hi = 0;
  for (const TTrackPlotTrace& t : plot.Traces)
    for (double v : t.*values) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  if (withLimit && plot.MaxOutput > 0 && std::max(hi, -lo) >= 0.8 * plot.MaxOutput) {
    hi = std::max(hi, plot.MaxOutput);
    lo = std::min(lo, -plot.MaxOutput);
  }
  return Padded(lo, hi, 0.06);
}

TPlotAxis TimeAxis(const TTrackPlot& plot) {
  double end = 0;
  for (const TTrackPlotTrace& t : plot.Traces)
    if (!t.Seconds.empty()) end = std::max(end, t.Seconds.back());
  if (!(end > 0)) end = 1;
  return {QStringLiteral("Time (s)"), {0, end * 1.02}};
}

QColor TraceColour(size_t i) { return kPalette[i % std::size(kPalette)]; }

// The spans where the oscillator ran, shaded, with their start and stop as dashed lines.
void DrawMoves(QPainter& p, const TPanel& panel, const TPlotAxis& time, const TTrackPlot& plot, bool labels) {
  const TScale x = panel.X(time);
  for (size_t i = 0; i < plot.Traces.size(); ++i)
    for (const TTrackPlotMove& m : plot.Traces[i].Moves) {
      if (i == 0) p.fillRect(QRectF(QPointF(x(m.StartSeconds), panel.Rect.top()),
                                    QPointF(x(m.StopSeconds), panel.Rect.bottom())),
                             kMoving);
      p.setPen(QPen(TraceColour(i), 1, Qt::DashLine));
      for (double s : {m.StartSeconds, m.StopSeconds})
        p.drawLine(QPointF(x(s), panel.Rect.top()), QPointF(x(s), panel.Rect.bottom()));
      if (!labels || i != 0) continue;
      p.setPen(kText);
      p.drawText(QPointF(x(m.StartSeconds) + 4, panel.Rect.top() + 14), QStringLiteral("start"));
      p.drawText(QPointF(x(m.StopSeconds) + 4, panel.Rect.top() + 14), QStringLiteral("stop"));
    }
}

// The mean error at speed, over the samples it was taken from.
void DrawMeans(QPainter& p, const TPanel& panel, const TPlotAxis& time, const TTrackPlot& plot) {
  const TScale x = panel.X(time), y = panel.Ys();
  for (size_t i = 0; i < plot.Traces.size(); ++i)
    for (const TTrackPlotMove& m : plot.Traces[i].Moves) {
      if (!m.MeanError) continue;
      p.setPen(QPen(kReference, 2, Qt::DashLine));
      p.drawLine(QPointF(x(m.SettledFromSeconds), y(*m.MeanError)), QPointF(x(m.StopSeconds), y(*m.MeanError)));
    }
}

void DrawZeroAndLimit(QPainter& p, const TPanel& panel, double limit) {
  const TScale y = panel.Ys();
  p.setPen(QPen(kFrame, 1));
  p.drawLine(QPointF(panel.Rect.left(), y(0)), QPointF(panel.Rect.right(), y(0)));
  if (limit <= 0) return;
  p.setPen(QPen(kLimit, 1.2, Qt::DotLine));
  for (double v : {limit, -limit})
    if (v > panel.Y.Min && v < panel.Y.Max)
      p.drawLine(QPointF(panel.Rect.left(), y(v)), QPointF(panel.Rect.right(), y(v)));
}

void DrawTraces(QPainter& p, const TPanel& panel, const TPlotAxis& time, const TTrackPlot& plot,
                std::vector<double> TTrackPlotTrace::*values) {
  p.save();
  p.setClipRect(panel.Rect);
  const TScale x = panel.X(time), y = panel.Ys();
  for (size_t i = 0; i < plot.Traces.size(); ++i) {
    const TTrackPlotTrace& t = plot.Traces[i];
    QPainterPath path;
    for (size_t k = 0; k < t.Seconds.size() && k < (t.*values).size(); ++k) {
      const QPointF point(x(t.Seconds[k]), y((t.*values)[k]));
      if (k == 0) path.moveTo(point);
      else path.lineTo(point);
    }
    p.setPen(QPen(TraceColour(i), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
  }
  p.restore();
}

QStringList LegendTexts(const TTrackPlot& plot) {
  QStringList texts;
  for (const TTrackPlotTrace& t : plot.Traces) {
    QString text = t.Caption;
    for (const TTrackPlotMove& m : t.Moves) text += QStringLiteral("\n") + m.Caption;
    texts.append(text);
  }
  return texts;
}

void DrawLegend(QPainter& p, const QRectF& area, const TTrackPlot& plot, bool limit) {
  double y = area.top();
  const QStringList texts = LegendTexts(plot);
  for (qsizetype i = 0; i < texts.size(); ++i)
    y = DrawLegendLine(p, area, y, texts[i], LineMark(p, QPen(TraceColour(size_t(i)), 3)));
  y += QFontMetricsF(p.font()).height() * 0.5;
  y = DrawLegendLine(p, area, y, QStringLiteral("oscillator running, from start to stop"),
                     [&](const QRectF& r) { p.fillRect(r.adjusted(0, 3, 0, -3), kMoving); });
  y = DrawLegendLine(p, area, y, QStringLiteral("mean following error at speed, after it settled"),
                     LineMark(p, QPen(kReference, 2, Qt::DashLine)));
  if (limit) DrawLegendLine(p, area, y, QStringLiteral("output limit"), LineMark(p, QPen(kLimit, 1.2, Qt::DotLine)));
}

}  // namespace

void DrawTrackPlot(QPainter& p, const QSize& size, const TTrackPlot& plot, const QString& title) {
  const QFont font = BeginPicture(p, size, title);
  if (plot.Traces.empty()) return;
  const double legend = 360;
  const QRectF area(QPointF(96, 56), QPointF(size.width() - kMargin - legend - 12, size.height() - 56));
  const double errorHeight = (area.height() - kPanelGap) * 0.6;
  const TPanel error{QRectF(area.left(), area.top(), area.width(), errorHeight),
                     Range(plot, &TTrackPlotTrace::Errors, false), QStringLiteral("Following error (counts)")};
  const TAxisRange outputs = Range(plot, &TTrackPlotTrace::Outputs, true);
  const bool limit = plot.MaxOutput > 0 && outputs.Max >= plot.MaxOutput;
  const TPanel output{QRectF(QPointF(area.left(), error.Rect.bottom() + kPanelGap), area.bottomRight()), outputs,
                      QStringLiteral("Output (%)")};
  const TPlotAxis time = TimeAxis(plot);
  DrawMoves(p, error, time, plot, true);
  DrawMoves(p, output, time, plot, false);
  DrawYAxis(p, error);
  DrawYAxis(p, output);
  DrawXGrid(p, error, time, false);
  DrawXGrid(p, output, time, true);
  DrawZeroAndLimit(p, error, 0);
  DrawZeroAndLimit(p, output, limit ? plot.MaxOutput : 0);
  DrawTraces(p, error, time, plot, &TTrackPlotTrace::Errors);
  DrawTraces(p, output, time, plot, &TTrackPlotTrace::Outputs);
  DrawMeans(p, error, time, plot);
  DrawFrame(p, error);
  DrawFrame(p, output);
  DrawLegend(p, QRectF(area.right() + 20, area.top(), legend, area.height()), plot, limit);
}

TResult<void> SaveTrackPlot(const QString& fileName, TPlotFormat format, const TTrackPlot& plot,
                            const QString& title) {
  const TDraw draw = [&](QPainter& p, const QSize& size) { DrawTrackPlot(p, size, plot, title); };
  return WriteOutputFile(fileName, format == TPlotFormat::Svg ? RenderSvg(kStepPlotSize, title, draw)
                                                               : RenderPng(kStepPlotSize, draw));
}
