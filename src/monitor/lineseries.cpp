#include "monitor/lineseries.h"

#include <QWidget>
#include <algorithm>

TLineSeries::TLineSeries(QString title, QColor color, int width, QWidget* owner)
    : Title(std::move(title)), Color(color), Width(width), FOwner(owner) {}

int TLineSeries::AddXY(double x, double y) {
  TakeIn(y);
  // With the running point number every point is appended; an out-of-order x goes after the
  // last point whose x is at most x, so equal x keep their order of arrival.
  if (FXValues.empty() || !(x < FXValues.back())) {
    FXValues.push_back(x);
    FYValues.push_back(y);
    RequestRepaint();
    return int(FXValues.size() - 1);
  }
  const auto at = std::upper_bound(FXValues.begin(), FXValues.end(), x);
  const auto index = at - FXValues.begin();
  FXValues.insert(at, x);
  FYValues.insert(FYValues.begin() + index, y);
  RequestRepaint();
  return int(index);
}

void TLineSeries::Clear() {
  // Release the storage too: a long run may have held millions of points.
  std::vector<double>().swap(FXValues);
  std::vector<double>().swap(FYValues);
  RequestRepaint();
}

size_t TLineSeries::ReservedBytes() const {
  return (FXValues.capacity() + FYValues.capacity()) * sizeof(double);
}

void TLineSeries::TakeIn(double y) {
  if (FXValues.empty()) {
    FMinY = FMaxY = y;
    return;
  }
  FMinY = y < FMinY ? y : FMinY;
  FMaxY = y > FMaxY ? y : FMaxY;
}

void TLineSeries::RequestRepaint() {
  if (FOwner) FOwner->update();
}
