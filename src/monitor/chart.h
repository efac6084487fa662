#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

#include "monitor/chartaxis.h"
#include "monitor/lineseries.h"
#include "monitor/tracerender.h"

class QPushButton;

// The trend chart: loop error and controller output against the running point number, with a
// bottom and a left axis, a dotted grid, a legend at the right and a "Clear" button. Adding and
// clearing points only request a repaint; every repaint draws every point in view.
class TChart : public QWidget {
  Q_OBJECT

 public:
  // Creates an empty chart with both axes automatic.
  explicit TChart(QWidget* parent = nullptr);

  TLineSeries Series1;  // "Error"
  TLineSeries Series2;  // "Output"
  TChartAxis BottomAxis;
  TChartAxis LeftAxis;
  QPushButton* btClear;

  // Adds one sample: both traces get the next point number, Series1 (error) first.
  void AddChartPoint(double output, double error);
  // Empties both traces; a zoom or scroll in force stays in force.
  void btClearClick();

  // Returns the plot rectangle for the widget's present size and data.
  QRect PlotRect() const;
  // Returns whether a zoom or scroll has fixed the axes.
  bool IsZoomed() const { return !BottomAxis.Automatic || !LeftAxis.Automatic; }
  // Selects how traces are drawn (the reduced mode unless a comparison needs every segment).
  void SetTraceMode(TTraceMode mode) { FTraceMode = mode; }
  // Returns the number of paint events handled so far.
  int PaintCount() const { return FPaintCount; }

  // Where everything of one repaint goes: worked out anew for each paint.
  struct TLayout {
    QRect Plot;
    QRect Legend;
    TAxisMap X, Y;
    double XStep = 1, YStep = 1;
    std::vector<double> XLabels, YLabels;
  };
  // Returns the layout for the present size, data and axis state.
  TLayout ComputeLayout() const;

  QSize sizeHint() const override { return {400, 250}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  enum class TDrag { None, Zoom, Scroll };

  TAxisRange DataRangeX() const;
  TAxisRange DataRangeY() const;
  int LegendWidth() const;
  void PaintGrid(QPainter& p, const TLayout& l) const;
  void PaintAxes(QPainter& p, const TLayout& l) const;
  void PaintLabels(QPainter& p, const TLayout& l) const;
  void PaintLegend(QPainter& p, const TLayout& l) const;
  void PaintTraces(QPainter& p, const TLayout& l) const;
  void SaveAutomaticState();
  void ZoomTo(const QPoint& a, const QPoint& b);
  void UndoZoom();
  void ScrollBy(const QPoint& from, const QPoint& to);

  TTraceMode FTraceMode = TTraceMode::Reduced;
  TDrag FDrag = TDrag::None;
  QPoint FDragStart;
  QPoint FDragLast;
  TChartAxis FSavedBottom, FSavedLeft;
  int FPaintCount = 0;
};
