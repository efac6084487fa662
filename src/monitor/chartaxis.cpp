#include "monitor/chartaxis.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "globals/numtext.h"

namespace {

// Pixels beyond this distance are clamped: far outside any screen, well inside an int after
// clipping, and exact as a double.
constexpr double kPixelLimit = 1e12;
constexpr double kDoubleMax = std::numeric_limits<double>::max();

QString& GroupSeparatorOverride() {
  static QString separator;
  return separator;
}

// Returns hi - lo, or (hi/2 - lo/2) * 2 capped at the largest double when the plain difference
// overflows; sets halved so that callers can scale consistently.
double SafeDifference(double hi, double lo, bool& halved) {
  const double d = hi - lo;
  halved = !std::isfinite(d);
  return halved ? hi / 2 - lo / 2 : d;
}

// Returns 10 to the power k, exact for |k| <= 22 and correctly rounded beyond.
double Pow10(int k) { return k >= 0 ? std::pow(10.0, k) : 1.0 / std::pow(10.0, -k); }

// Returns whether two values give the same number text.
bool SameText(double a, double b) { return FormatNumber(a) == FormatNumber(b); }

// Returns the largest label size among the given values.
int LargestLabel(std::initializer_list<double> values,
                 const std::function<int(const QString&)>& labelSize) {
  int s = 0;
  for (double v : values) s = std::max(s, labelSize(FormatAxisLabel(v)));
  return s;
}

// Returns the smallest step 1, 2, 5, 10, 20, ... (never below 1) with round(range/step) <= n.
double WholeStep(double range, int n) { return NiceStep(range, std::max(n, 1), 1.0); }

}  // namespace

double TAxisMap::Pixel(double v) const {
  const double length = std::abs(double(P1) - double(P0));
  const double sign = P1 >= P0 ? 1.0 : -1.0;
  if (!(View.Max > View.Min)) return std::floor((double(P0) + double(P1)) / 2);
  bool halved = false;
  const double range = SafeDifference(View.Max, View.Min, halved);
  const double d = halved ? v / 2 - View.Min / 2 : v - View.Min;
  double offset = d * length / range;
  if (!std::isfinite(offset)) offset = d / range * length;
  if (std::isnan(offset)) offset = 0;
  const double p = std::clamp(double(P0) + sign * offset, -kPixelLimit, kPixelLimit);
  return RoundHalfEven(p);
}

double TAxisMap::Value(double p) const {
  const double length = std::abs(double(P1) - double(P0));
  if (!(View.Max > View.Min) || length == 0) return View.Min;
  const double sign = P1 >= P0 ? 1.0 : -1.0;
  bool halved = false;
  const double range = SafeDifference(View.Max, View.Min, halved);
  const double offset = sign * (p - P0) * (range / length);
  if (!halved) return View.Min + offset;
  return std::clamp(View.Min / 2 + offset, -kDoubleMax / 2, kDoubleMax / 2) * 2;
}

TAxisRange ViewRange(double lo, double hi, int length, int minOffset, int maxOffset) {
  const double usable = double(length) - minOffset - maxOffset;
  if (!(hi > lo) || usable <= 0) return {lo, hi};
  bool halved = false;
  const double range = SafeDifference(hi, lo, halved);
  const double scale = halved ? 2.0 : 1.0;
  const double below = std::min(minOffset * (range / usable) * scale, kDoubleMax);
  const double above = std::min(maxOffset * (range / usable) * scale, kDoubleMax);
  return {std::max(lo - below, -kDoubleMax), std::min(hi + above, kDoubleMax)};
}

int LabelCount(int length, int s) {
  const double gap = RoundHalfEven(s * 10.0 / 100.0);
  const double each = s + gap;
  if (each <= 0) return std::max(length, 0);
  return int(RoundHalfEven(length / each));
}

double NiceStep(double range, int n, double minStep) {
  if (n < 1) return minStep;
  range = std::abs(range);
  // Start one decade below the estimate so that the first candidates are too small.
  const double estimate = range / n;
  int k = estimate > 0 && std::isfinite(estimate) ? int(std::floor(std::log10(estimate))) - 1
                                                  : -400;
  k = std::max(k, int(std::floor(std::log10(minStep))));
  static constexpr double kMultipliers[] = {1, 2, 5};
  for (int guard = 0; guard < 2000; ++guard, ++k) {
    for (double m : kMultipliers) {
      const double step = m * Pow10(k);
      if (step < minStep) continue;
      if (RoundHalfEven(range / step) <= n) return step;
    }
  }
  return kDoubleMax;
}

double HalveToFraction(double v) {
  for (int guard = 0; guard < 2200 && v != 0 && v == std::trunc(v); ++guard) v /= 2;
  return v;
}

double AxisLabelStep(const TStepInput& in,
                     const std::function<int(const QString&)>& labelSize) {
  const double lo = in.View.Min, hi = in.View.Max;
  bool halved = false;
  const double range = std::min(SafeDifference(hi, lo, halved) * (halved ? 2 : 1), kDoubleMax);
  const int s = in.Horizontal ? LargestLabel({lo, hi, HalveToFraction((lo + hi) / 2)}, labelSize)
                              : labelSize(QString());
  const int n = LabelCount(in.Length, s);
  if (range == 0) return 1;
  if (n < 1) return 1e-12;
  double step = NiceStep(range, n);
  // A few points on a long bottom axis are numbered in whole steps.
  if (in.Horizontal && range >= 1.1 && in.MaxTraceCount <= n) step = std::max(step, 1.0);
  if (step < 2) return step;
  // Whole steps: measure again on the whole-number labels that would then be shown.
  const double first = RoundHalfEven(lo), last = std::trunc(hi);
  const int s2 = in.Horizontal
                     ? LargestLabel({first, last, HalveToFraction((first + last) / 2), first + 1,
                                     last - 1},
                                    labelSize)
                     : s;
  return WholeStep(range, LabelCount(in.Length, s2));
}

std::vector<double> AxisLabelValues(const TAxisRange& view, double step) {
  const double lo = view.Min, hi = view.Max;
  const double range = hi - lo;
  if (!(step > 0) || !(std::abs(range / step) < 10000)) return {};
  double v = SameText(lo, hi) ? hi : step * std::trunc(hi / step);
  for (int guard = 0; guard < 4 && v > hi; ++guard) v -= step;
  if (range == 0) return {v};
  if (range < 1e-10 || SameText(v, v - step)) return {v};
  const double floorValue = lo >= 0 ? (lo - 1e-12) / (1 + 1e-12) : lo;
  std::vector<double> labels;
  for (int i = 0; i <= 10001; ++i) {
    const double value = v - i * step;
    if (value < floorValue) break;
    labels.push_back(value);
  }
  return labels;
}

QString FormatAxisLabel(double v, const QString& groupSeparator) {
  if (!std::isfinite(v)) return FormatNumber(v);
  // Exact decimal expansion rounded to three decimals (a double never needs more than ~330
  // digits before the point).
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::abs(v), std::chars_format::fixed, 3);
  std::string text(buf, res.ptr);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  const size_t point = std::min(text.find('.'), text.size());
  QString out;
  for (size_t i = 0; i < point; ++i) {
    if (i > 0 && (point - i) % 3 == 0) out += groupSeparator;
    out += QChar(text[i]);
  }
  out += QString::fromLatin1(text.data() + point, qsizetype(text.size() - point));
  if (v < 0 && out != QLatin1String("0")) out.prepend(u'-');
  return out;
}

QString FormatAxisLabel(double v) {
  const QString& custom = GroupSeparatorOverride();
  return FormatAxisLabel(v, custom.isEmpty() ? QLocale::system().groupSeparator() : custom);
}

void SetAxisGroupSeparator(const QString& separator) { GroupSeparatorOverride() = separator; }
