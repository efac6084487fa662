#pragma once

#include <QString>
#include <functional>
#include <vector>

// Arithmetic of a chart axis: the range in view, the mapping of values to pixels, the label
// step, the label values and their text. Plain functions so that they can be checked without
// a widget.

// A closed range of values, Min <= Max.
struct TAxisRange {
  double Min = 0;
  double Max = 0;
};

// One axis of the trend chart: its title, its offsets in pixels and, once a zoom or a scroll
// has fixed it, the fixed range that takes the place of the data range.
struct TChartAxis {
  QString Title;
  int MinimumOffset = 10;
  int MaximumOffset = 10;
  bool Automatic = true;
  TAxisRange Fixed;  // used while Automatic is false
};

// Maps values of one axis to device pixels: P0 is the pixel of the start of the axis, P1 the
// pixel of its end (P1 < P0 for an axis that runs upwards).
struct TAxisMap {
  TAxisRange View;
  int P0 = 0;
  int P1 = 0;

  // Returns the pixel of value v, rounded to the nearest pixel and clamped to +-1e12 so that
  // callers can clip and convert it safely. A zero range puts every value at the middle.
  double Pixel(double v) const;
  // Returns the value at pixel p (the inverse of Pixel without rounding).
  double Value(double p) const;
};

// Returns the range in view for data from lo to hi on an axis of length pixels: lo lies
// minOffset pixels inside the start, hi maxOffset pixels inside the end. A zero range stays zero.
TAxisRange ViewRange(double lo, double hi, int length, int minOffset = 10, int maxOffset = 10);

// Returns how many labels of size s fit on an axis of length pixels (each label gets a gap of
// 10 % of its size).
int LabelCount(int length, int s);

// Returns the smallest step of the sequence 1, 2, 5 times a power of ten (not below minStep)
// for which round(range / step) <= n.
double NiceStep(double range, int n, double minStep = 1e-12);

// What the label step of an axis depends on besides the label size.
struct TStepInput {
  TAxisRange View;
  int Length = 0;
  bool Horizontal = false;     // the bottom axis measures label widths
  long long MaxTraceCount = 0;  // the most points a trace holds
};

// Returns the label step of an axis. labelSize gives the pixel size of a label text: its width
// on the bottom axis, the line height on the left axis.
double AxisLabelStep(const TStepInput& in, const std::function<int(const QString&)>& labelSize);

// Returns the label values of an axis, from the top label down, for the range in view and step.
std::vector<double> AxisLabelValues(const TAxisRange& view, double step);

// Returns v halved until it has a fractional part or is 0 (the probe for the widest label).
double HalveToFraction(double v);

// Formats a label value as "#,##0.###": thousands grouped with groupSeparator, "." as decimal
// point, at most three decimals, no trailing zeros, no sign on a value that shows as zero.
QString FormatAxisLabel(double v, const QString& groupSeparator);

// Formats a label value with the grouping character in force (see SetAxisGroupSeparator).
QString FormatAxisLabel(double v);

// Sets the grouping character used for labels; an empty override returns to the system's.
void SetAxisGroupSeparator(const QString& separator);
