#include "tuning/neldermead.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

using TPoint = std::vector<double>;

// from + t x (to - from)
TPoint Along(const TPoint& from, const TPoint& to, double t) {
  TPoint p(from.size());
  for (size_t i = 0; i < p.size(); ++i) p[i] = from[i] + t * (to[i] - from[i]);
  return p;
}

class TSimplex {
 public:
  TSimplex(const std::function<double(const TPoint&)>& cost, const TPoint& start, const TPoint& steps)
      : FCost(cost) {
    Add(start);
    for (size_t i = 0; i < start.size(); ++i) {
      TPoint p = start;
      p[i] += steps[i];
      Add(p);
    }
  }

  // One step of the search: reflect the worst vertex through the centre of the others, then
  // expand, contract or shrink as the classic method does.
  void Step() {
    Sort();
    const TPoint centre = Centre();
    const TPoint reflected = Along(FPoints.back(), centre, 2);
    const double r = Evaluate(reflected);
    if (r < FValues.front()) {
      const TPoint expanded = Along(FPoints.back(), centre, 3);
      const double e = Evaluate(expanded);
      return e < r ? Replace(expanded, e) : Replace(reflected, r);
    }
    if (r < FValues[FValues.size() - 2]) return Replace(reflected, r);
    const bool outside = r < FValues.back();
    const TPoint contracted = Along(FPoints.back(), centre, outside ? 1.5 : 0.5);
    const double c = Evaluate(contracted);
    if (c < std::min(r, FValues.back())) return Replace(contracted, c);
    Shrink();
  }

  // Returns whether every vertex lies within tolerance x steps of the best one on each axis.
  bool Converged(const TPoint& steps, double tolerance) {
    Sort();
    for (const TPoint& p : FPoints)
      for (size_t i = 0; i < p.size(); ++i)
        if (std::abs(p[i] - FPoints.front()[i]) > tolerance * std::abs(steps[i])) return false;
    return true;
  }

  TMinimum Best() {
    Sort();
    return {FPoints.front(), FValues.front(), FCalls};
  }
  int Calls() const { return FCalls; }

 private:
  double Evaluate(const TPoint& p) {
    ++FCalls;
    const double value = FCost(p);
    return std::isnan(value) ? INFINITY : value;
  }
  void Add(const TPoint& p) {
    FPoints.push_back(p);
    FValues.push_back(Evaluate(p));
  }
  void Replace(const TPoint& p, double value) {
    FPoints.back() = p;
    FValues.back() = value;
  }
  void Shrink() {
    for (size_t j = 1; j < FPoints.size(); ++j) {
      FPoints[j] = Along(FPoints.front(), FPoints[j], 0.5);
      FValues[j] = Evaluate(FPoints[j]);
    }
  }
  void Sort() {
    std::vector<size_t> order(FPoints.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return FValues[a] < FValues[b]; });
    std::vector<TPoint> points;
    std::vector<double> values;
    for (size_t j : order) {
      points.push_back(FPoints[j]);
      values.push_back(FValues[j]);
    }
    FPoints = std::move(points);
    FValues = std::move(values);
  }
  // The centre of all vertices but the worst.
  TPoint Centre() const {
    TPoint c(FPoints.front().size(), 0.0);
    for (size_t j = 0; j + 1 < FPoints.size(); ++j)
      for (size_t i = 0; i < c.size(); ++i) c[i] += FPoints[j][i] / static_cast<double>(FPoints.size() - 1);
    return c;
  }

  const std::function<double(const TPoint&)>& FCost;
  std::vector<TPoint> FPoints;
  std::vector<double> FValues;
  int FCalls = 0;
};

}  // namespace

TMinimum NelderMead(const std::function<double(const std::vector<double>&)>& cost,
                    const std::vector<double>& start, const std::vector<double>& steps, double tolerance,
                    int maxCalls) {
  TSimplex simplex(cost, start, steps);
  while (simplex.Calls() < maxCalls && !simplex.Converged(steps, tolerance)) simplex.Step();
  return simplex.Best();
}
