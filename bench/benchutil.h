#pragma once

// Helpers the benchmarks share.

#include <algorithm>
#include <chrono>
#include <vector>

// Returns the median of the values (the upper one of the middle two for an even count): single
// runs suffer from scheduling jitter on a loaded machine, the median much less.
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Calls body(0) ... body(calls - 1) and returns the mean wall time of one call in nanoseconds.
template <class F>
double NanosecondsPerCall(int calls, F&& body) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) body(i);
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / calls;
}
