#pragma once

#include <functional>
#include <vector>

// The least of a function found by the Nelder-Mead simplex search, and the calls it took.
struct TMinimum {
  std::vector<double> Point;
  double Value = 0;
  int Calls = 0;
};

// Searches for a minimum of cost near start without derivatives: the simplex starts at start
// and start + steps[i] along each axis, and the search ends when the simplex has shrunk below
// tolerance (relative to steps) in every axis or after maxCalls calls of cost.
TMinimum NelderMead(const std::function<double(const std::vector<double>&)>& cost,
                    const std::vector<double>& start, const std::vector<double>& steps,
                    double tolerance = 1e-4, int maxCalls = 400);
