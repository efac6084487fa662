#include "monitor/chart.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kTickLength = 4;
constexpr int kMinorTickLength = 2;
constexpr int kMinorTicks = 3;
constexpr int kLegendSample = 20;  // length of the line shown beside a legend entry
constexpr int kLegendPadding = 6;
constexpr int kGap = 4;
constexpr int kZoomThreshold = 16;  // pixels a drag must exceed in both directions
const QColor kGrey(128, 128, 128);

// Returns an int pixel for painting, clamped far outside the widget.
int ToInt(double pixel) { return int(std::clamp(pixel, -1e6, 1e6)); }

// Returns whether a range can be fixed: a range of zero width would put every value on one
// pixel, so later points would pile up there until the zoom is undone.
bool HasWidth(const TAxisRange& r) { return r.Max > r.Min; }

void FixAxis(TChartAxis& axis, const TAxisRange& range) {
  axis.Fixed = range;
  axis.Automatic = false;
}

}  // namespace

TChart::TChart(QWidget* parent)
    : QWidget(parent),
      Series1(QStringLiteral("Error"), QColor(0x44, 0x66, 0xA3), 2, this),
      Series2(QStringLiteral("Output"), QColor(0xF3, 0x9C, 0x35), 2, this),
      btClear(new QPushButton(QStringLiteral("Clear"), this)) {
  BottomAxis.Title = QStringLiteral("Time (points)");
  LeftAxis.Title = QStringLiteral("Value");
  btClear->setGeometry(0, 6, 37, 19);
  connect(btClear, &QPushButton::clicked, this, [this] { btClearClick(); });
  setAttribute(Qt::WA_OpaquePaintEvent);
  // The mouse gestures are found nowhere else in the window: the tooltip and the description
  // that assistive technology reads say them.
  const QString gestures = QStringLiteral(
      "Zoom in: drag to the right over the part to see, with the left mouse button.\n"
      "Undo the zoom: drag to the left.\n"
      "Scroll: drag with the right mouse button.");
  setToolTip(gestures);
  setAccessibleDescription(gestures);
}

void TChart::AddChartPoint(double output, double error) {
  const double x = Series1.Count() + 1;
  Series1.AddXY(x, error);
  Series2.AddXY(x, output);
}

void TChart::btClearClick() {
  Series1.Clear();
  Series2.Clear();
}

TAxisRange TChart::DataRangeX() const {
  bool any = false;
  TAxisRange r;
  for (const TLineSeries* s : {&Series1, &Series2}) {
    if (s->Count() == 0) continue;
    const double lo = s->XValues().front(), hi = s->XValues().back();
    r = any ? TAxisRange{std::min(r.Min, lo), std::max(r.Max, hi)} : TAxisRange{lo, hi};
    any = true;
  }
  return r;
}

TAxisRange TChart::DataRangeY() const {
  bool any = false;
  TAxisRange r;
  for (const TLineSeries* s : {&Series1, &Series2}) {
    if (s->Count() == 0) continue;
    const double lo = s->MinY(), hi = s->MaxY();
    r = any ? TAxisRange{std::min(r.Min, lo), std::max(r.Max, hi)} : TAxisRange{lo, hi};
    any = true;
  }
  return r;
}

int TChart::LegendWidth() const {
  const QFontMetrics fm = fontMetrics();
  const int text = std::max(fm.horizontalAdvance(Series1.Title), fm.horizontalAdvance(Series2.Title));
  return 2 * kLegendPadding + kLegendSample + kGap + text;
}

TChart::TLayout TChart::ComputeLayout() const {
  TLayout l;
  const QFontMetrics fm = fontMetrics();
  const int lineH = fm.height();
  const int w = width(), h = height();
  const int marginX = int(std::lround(w * 0.03)), marginY = int(std::lround(h * 0.04));

  // The left axis first: its length depends only on the height, and its labels set the width
  // of the room at the left.
  const int top = marginY + lineH / 2;
  const int bottom = std::max(top + 1, h - 1 - marginY - 2 * lineH - kTickLength - 2);
  const TAxisRange y = LeftAxis.Automatic ? DataRangeY() : LeftAxis.Fixed;
  l.Y = {ViewRange(y.Min, y.Max, bottom - top, LeftAxis.MinimumOffset, LeftAxis.MaximumOffset),
         bottom, top};
  l.YStep = AxisLabelStep({l.Y.View, bottom - top, false, 0}, [lineH](const QString&) { return lineH; });
  l.YLabels = AxisLabelValues(l.Y.View, l.YStep);
  int labelWidth = 0;
  for (double v : l.YLabels) labelWidth = std::max(labelWidth, fm.horizontalAdvance(FormatAxisLabel(v)));
  // Labels of huge values run to hundreds of digits: cap their room so the plot stays visible.
  labelWidth = std::min(labelWidth, w / 3);

  const int left = marginX + lineH + kGap + labelWidth + kGap + kTickLength + 2;
  const int legendW = LegendWidth();
  const int right = std::max(left + 1, w - 1 - marginX - legendW - 2 * kGap);
  l.Legend = QRect(right + 2 * kGap, top, legendW, 2 * lineH + 2 * kLegendPadding);
  const TAxisRange x = BottomAxis.Automatic ? DataRangeX() : BottomAxis.Fixed;
  l.X = {ViewRange(x.Min, x.Max, right - left, BottomAxis.MinimumOffset, BottomAxis.MaximumOffset),
         left, right};
  const long long points = std::max(Series1.Count(), Series2.Count());
  l.XStep = AxisLabelStep({l.X.View, right - left, true, points},
                          [&fm](const QString& text) { return fm.horizontalAdvance(text); });
  l.XLabels = AxisLabelValues(l.X.View, l.XStep);
  l.Plot = QRect(QPoint(left, top), QPoint(right, bottom));
  return l;
}

QRect TChart::PlotRect() const { return ComputeLayout().Plot; }

void TChart::paintEvent(QPaintEvent*) {
  ++FPaintCount;
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const TLayout l = ComputeLayout();
  PaintGrid(p, l);
  PaintAxes(p, l);
  PaintLabels(p, l);
  PaintLegend(p, l);
  PaintTraces(p, l);
  if (FDrag == TDrag::Zoom) {
    p.setClipping(false);
    p.setPen(QPen(Qt::black, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(FDragStart, FDragLast).normalized());
  }
}

void TChart::PaintGrid(QPainter& p, const TLayout& l) const {
  p.setPen(QPen(kGrey, 1, Qt::DotLine));
  for (double v : l.XLabels) {
    const int x = ToInt(l.X.Pixel(v));
    p.drawLine(x, l.Plot.top(), x, l.Plot.bottom());
  }
  for (double v : l.YLabels) {
    const int y = ToInt(l.Y.Pixel(v));
    p.drawLine(l.Plot.left(), y, l.Plot.right(), y);
  }
}

void TChart::PaintAxes(QPainter& p, const TLayout& l) const {
  const QRect& r = l.Plot;
  // Axis lines of 2 px just outside the plot, so that traces never cover them.
  p.fillRect(QRect(r.left() - 2, r.top(), 2, r.height() + 2), Qt::black);
  p.fillRect(QRect(r.left() - 2, r.bottom() + 1, r.width() + 2, 2), Qt::black);
  p.setPen(QPen(kGrey, 1));
  const int tickX = r.left() - 3, tickY = r.bottom() + 3;
  auto ticks = [&](const std::vector<double>& labels, double step, auto draw) {
    for (size_t i = 0; i < labels.size(); ++i) {
      draw(labels[i], kTickLength);
      if (i + 1 == labels.size()) continue;
      for (int k = 1; k <= kMinorTicks; ++k) draw(labels[i] - k * step / (kMinorTicks + 1), kMinorTickLength);
    }
  };
  ticks(l.XLabels, l.XStep, [&](double v, int len) {
    const int x = ToInt(l.X.Pixel(v));
    p.drawLine(x, tickY, x, tickY + len - 1);
  });
  ticks(l.YLabels, l.YStep, [&](double v, int len) {
    const int y = ToInt(l.Y.Pixel(v));
    p.drawLine(tickX - len + 1, y, tickX, y);
  });
}

void TChart::PaintLabels(QPainter& p, const TLayout& l) const {
  const QFontMetrics fm = fontMetrics();
  const int lineH = fm.height();
  const QRect& r = l.Plot;
  p.setPen(Qt::black);
  const int labelTop = r.bottom() + 3 + kTickLength;
  for (double v : l.XLabels) {
    const int x = ToInt(l.X.Pixel(v));
    p.drawText(QRect(x - 500, labelTop, 1000, lineH), Qt::AlignHCenter | Qt::AlignTop, FormatAxisLabel(v));
  }
  const int labelRight = r.left() - 3 - kTickLength - kGap;
  // Left labels stay inside their room (see the cap in ComputeLayout), clear of the title.
  p.save();
  p.setClipRect(QRect(QPoint(labelRight - std::max(width() / 3, 1), 0), QPoint(labelRight, height())));
  for (double v : l.YLabels) {
    const int y = ToInt(l.Y.Pixel(v));
    p.drawText(QRect(labelRight - 2000, y - lineH, 2000, 2 * lineH), Qt::AlignRight | Qt::AlignVCenter,
               FormatAxisLabel(v));
  }
  p.restore();
  p.drawText(QRect(r.left(), labelTop + lineH, r.width(), lineH), Qt::AlignHCenter | Qt::AlignTop,
             BottomAxis.Title);
  // The left title turned to read upwards, centred along the plot.
  p.save();
  p.translate(std::lround(width() * 0.03), r.center().y());
  p.rotate(-90);
  p.drawText(QRect(-r.height() / 2, 0, r.height(), lineH), Qt::AlignCenter, LeftAxis.Title);
  p.restore();
}

void TChart::PaintLegend(QPainter& p, const TLayout& l) const {
  const QFontMetrics fm = fontMetrics();
  const QRect& box = l.Legend;
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(box.adjusted(0, 0, -1, -1));
  int y = box.top() + kLegendPadding;
  for (const TLineSeries* s : {&Series1, &Series2}) {
    const int mid = y + fm.height() / 2;
    const int x = box.left() + kLegendPadding;
    p.setPen(QPen(s->Color, s->Width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(x, mid, x + kLegendSample, mid);
    p.setPen(Qt::black);
    p.drawText(QPoint(x + kLegendSample + kGap, y + fm.ascent()), s->Title);
    y += fm.height();
  }
}

void TChart::PaintTraces(QPainter& p, const TLayout& l) const {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setClipRect(l.Plot);
  const TPlotMapping map{l.X, l.Y, l.Plot};
  for (const TLineSeries* s : {&Series1, &Series2}) {
    p.setPen(QPen(s->Color, s->Width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    DrawTrace(p, s->XValues().data(), s->YValues().data(), size_t(s->Count()), map, FTraceMode);
  }
}

void TChart::SaveAutomaticState() {
  if (IsZoomed()) return;
  FSavedBottom = BottomAxis;
  FSavedLeft = LeftAxis;
}

// Fixes each axis to the rectangle's edges. An axis whose range in view is zero (an empty chart,
// a single point, equal values) has no width to zoom into and stays as it is; when neither axis
// has one, the zoom is ignored.
void TChart::ZoomTo(const QPoint& a, const QPoint& b) {
  const TLayout l = ComputeLayout();
  const TAxisRange x{l.X.Value(std::min(a.x(), b.x())), l.X.Value(std::max(a.x(), b.x()))};
  const TAxisRange y{l.Y.Value(std::max(a.y(), b.y())), l.Y.Value(std::min(a.y(), b.y()))};
  if (!HasWidth(x) && !HasWidth(y)) return;
  SaveAutomaticState();
  if (HasWidth(x)) FixAxis(BottomAxis, x);
  if (HasWidth(y)) FixAxis(LeftAxis, y);
}

void TChart::UndoZoom() {
  if (!IsZoomed()) return;
  BottomAxis = FSavedBottom;
  LeftAxis = FSavedLeft;
}

// Moves both axes with the mouse. An axis with a zero range in view cannot move and is not
// fixed by a scroll, for the same reason as with a zoom.
void TChart::ScrollBy(const QPoint& from, const QPoint& to) {
  const TLayout l = ComputeLayout();
  const bool moveX = HasWidth(l.X.View), moveY = HasWidth(l.Y.View);
  if (!moveX && !moveY) return;
  SaveAutomaticState();
  // An automatic axis becomes fixed at the range it showed, then moves with the mouse.
  auto shift = [](TChartAxis& axis, const TAxisRange& data, const TAxisMap& map, int p0, int p1) {
    const TAxisRange start = axis.Automatic ? data : axis.Fixed;
    const double delta = map.Value(p1) - map.Value(p0);
    FixAxis(axis, {start.Min - delta, start.Max - delta});
  };
  if (moveX) shift(BottomAxis, DataRangeX(), l.X, from.x(), to.x());
  if (moveY) shift(LeftAxis, DataRangeY(), l.Y, from.y(), to.y());
}

void TChart::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (FDrag != TDrag::None || !PlotRect().contains(pos)) return;
  if (event->button() == Qt::LeftButton) FDrag = TDrag::Zoom;
  else if (event->button() == Qt::RightButton) FDrag = TDrag::Scroll;
  FDragStart = FDragLast = pos;
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (FDrag == TDrag::Zoom) {
    FDragLast = pos;
    update();
  } else if (FDrag == TDrag::Scroll) {
    // Leaving the plot ends a scroll.
    if (!PlotRect().contains(pos)) {
      FDrag = TDrag::None;
      return;
    }
    ScrollBy(FDragLast, pos);
    FDragLast = pos;
    update();
  }
}

void TChart::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const TDrag drag = FDrag;
  if (drag == TDrag::Zoom && event->button() != Qt::LeftButton) return;
  if (drag == TDrag::Scroll && event->button() != Qt::RightButton) return;
  FDrag = TDrag::None;
  update();
  if (drag != TDrag::Zoom) return;
  const int dx = pos.x() - FDragStart.x(), dy = pos.y() - FDragStart.y();
  if (std::abs(dx) <= kZoomThreshold || std::abs(dy) <= kZoomThreshold) return;
  if (dx > 0) ZoomTo(FDragStart, pos);
  else UndoZoom();
}

#include "moc_chart.cpp"
