#include "stepplot/plotparts.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

TAxisRange Padded(double lo, double hi, double fraction) {
  const double pad = hi > lo ? (hi - lo) * fraction : 1;
  return {lo - pad, hi + pad};
}

std::vector<double> Ticks(const TAxisRange& view, int count) {
  return AxisLabelValues(view, NiceStep(view.Max - view.Min, count));
}

void DrawYAxis(QPainter& p, const TPanel& panel) {
  const QFontMetricsF metrics(p.font());
  const TScale y = panel.Ys();
  for (double v : Ticks(panel.Y, kLabelsPerPanel)) {
    const double py = y(v);
    p.setPen(QPen(kGrid, 1));
    p.drawLine(QPointF(panel.Rect.left(), py), QPointF(panel.Rect.right(), py));
    p.setPen(kText);
    const QString text = FormatAxisLabel(v, QStringLiteral(","));
    const QRectF box(panel.Rect.left() - 60 - kTickLength, py - 10, 60, 20);
    p.drawText(box, Qt::AlignRight | Qt::AlignVCenter, text);
  }
  // The panel's title, turned to read upwards along its left edge.
  p.save();
  p.translate(kMargin + metrics.height() / 2, panel.Rect.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-panel.Rect.height() / 2, -metrics.height() / 2, panel.Rect.height(),
                    metrics.height()),
             Qt::AlignCenter, panel.Title);
  p.restore();
}

void DrawXGrid(QPainter& p, const TPanel& panel, const TPlotAxis& time, bool labels) {
  const TScale x = panel.X(time);
  for (double v : Ticks(time.View, 10)) {
    if (v < time.View.Min) continue;
    const double px = x(v);
    p.setPen(QPen(kGrid, 1));
    p.drawLine(QPointF(px, panel.Rect.top()), QPointF(px, panel.Rect.bottom()));
    if (!labels) continue;
    p.setPen(kText);
    p.drawText(QRectF(px - 50, panel.Rect.bottom() + kTickLength, 100, 20),
               Qt::AlignHCenter | Qt::AlignTop, FormatAxisLabel(v, QStringLiteral(",")));
  }
  if (!labels) return;
  p.drawText(QRectF(panel.Rect.left(), panel.Rect.bottom() + 24, panel.Rect.width(), 22),
             Qt::AlignHCenter | Qt::AlignTop, time.Title);
}

void DrawFrame(QPainter& p, const TPanel& panel) {
  p.setPen(QPen(kFrame, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(panel.Rect);
}

namespace {

// How a legend entry wraps: at blanks, or anywhere when one word (a long file name) is wider
// than the legend. An entry is never cut.
int LegendTextFlags(const QFontMetricsF& metrics, const QString& text, double width) {
  for (const QString& word : text.split(u' '))
    if (metrics.horizontalAdvance(word) > width) return Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;
  return Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
}

}  // namespace

double DrawLegendLine(QPainter& p, const QRectF& area, double y, const QString& text,
                      const std::function<void(const QRectF&)>& mark) {
  const QFontMetricsF metrics(p.font());
  mark(QRectF(area.left(), y, 24, metrics.height()));
  p.setPen(kText);
  const QRectF box(area.left() + 32, y, area.width() - 32, std::max(area.bottom() - y, metrics.height()));
  const int flags = LegendTextFlags(metrics, text, box.width());
  const QRectF used = metrics.boundingRect(box, flags, text);
  p.drawText(box, flags, text);
  return y + std::max(used.height(), metrics.height()) + metrics.height() * 0.5;
}

std::function<void(const QRectF&)> LineMark(QPainter& p, const QPen& pen) {
  return [&p, pen](const QRectF& r) {
    p.setPen(pen);
    p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
  };
}


QFont BeginPicture(QPainter& p, const QSize& size, const QString& title) {
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(13);
  QFont heading = font;
  heading.setPixelSize(18);
  heading.setBold(true);
  p.setFont(heading);
  p.setPen(kText);
  p.drawText(QRectF(kMargin, kMargin, size.width() - 2 * kMargin, 26), Qt::AlignLeft, title);
  p.setFont(font);
  return font;
}

QByteArray RenderPng(const QSize& size, const TDraw& draw) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  {
    QPainter painter(&image);
    draw(painter, size);
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

QByteArray RenderSvg(const QSize& size, const QString& title, const TDraw& draw) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(size);
  svg.setViewBox(QRect(QPoint(0, 0), size));
  svg.setTitle(title);
  svg.setResolution(96);
  {
    QPainter painter(&svg);
    draw(painter, size);
  }
  return bytes;
}
