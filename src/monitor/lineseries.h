#pragma once

#include <QColor>
#include <QString>
#include <vector>

class QWidget;

// One line trace of the trend chart: a polyline through its points in index order. XValues
// are kept in ascending order, YValues are index-parallel to them. Each point costs two doubles.
class TLineSeries {
 public:
  // Creates an empty trace; owner (may be null) is the widget repainted when points change.
  TLineSeries(QString title, QColor color, int width, QWidget* owner = nullptr);

  // Stores one point and returns its index: appended when x is not below the last x, else
  // inserted after the last point whose x is at most x. Only requests a repaint.
  int AddXY(double x, double y);
  // Removes all points and requests a repaint.
  void Clear();
  // Returns the number of points.
  int Count() const { return int(FXValues.size()); }

  // Returns the x values, ascending.
  const std::vector<double>& XValues() const { return FXValues; }
  // Returns the y values, index-parallel to XValues.
  const std::vector<double>& YValues() const { return FYValues; }
  // Returns the lowest and the highest y (kept as points arrive, so that a repaint of a long
  // trace needs no extra pass over it). Meaningless while the trace is empty.
  double MinY() const { return FMinY; }
  double MaxY() const { return FMaxY; }
  // Returns the bytes reserved for the point storage.
  size_t ReservedBytes() const;

  // Title shown in the legend.
  QString Title;
  // Line colour and width in pixels.
  QColor Color;
  int Width;

 private:
  void RequestRepaint();
  void TakeIn(double y);

  std::vector<double> FXValues;
  std::vector<double> FYValues;
  QWidget* FOwner;
  double FMinY = 0;
  double FMaxY = 0;
};
