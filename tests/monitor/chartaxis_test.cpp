// Axis arithmetic of the trend chart: ranges, pixels, label steps, label values and text.
#include <gtest/gtest.h>

#include <cmath>

#include "monitor/chartaxis.h"

namespace {

struct TNiceStepCase {
  const char* Fault;
  double Range;
  int N;
  double Step;
};

TEST(NiceStep, PicksTheSmallestStepThatFits) {
  const TNiceStepCase cases[] = {
      {"half steps for 3.7 with room for 9", 3.7, 9, 0.5},
      {"tens for 99 with room for 10", 99, 10, 10},
      {"round(R/step) == n is still allowed", 1, 10, 0.1},
      {"twenties when five fit", 100, 5, 20},
      {"small decimal steps", 0.001, 5, 0.0002},
      {"never below 1e-12", 1e-20, 5, 1e-12},
      {"no room gives 1e-12", 50, 0, 1e-12},
      {"huge ranges end in a finite step", 1e300, 10, 1e299},
      {"a negative range is measured by size", -3.7, 9, 0.5},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(NiceStep(c.Range, c.N), c.Step) << c.Fault;
}

struct TLabelCountCase {
  const char* Fault;
  int Length, Size, N;
};

TEST(LabelCount, AddsATenthOfTheSizeAsGap) {
  const TLabelCountCase cases[] = {
      {"size 10 gets a gap of 1", 99, 10, 9},
      {"gap rounds 1.5 to 2 (ties to even)", 100, 15, 6},
      {"a zero size does not divide by zero", 100, 0, 100},
      {"too short for one label", 5, 20, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(LabelCount(c.Length, c.Size), c.N) << c.Fault;
}

// Ten pixels per character, so that label texts of different lengths differ in width.
int TextWidth(const QString& text) { return 10 * int(text.size()); }
int LineHeight(const QString&) { return 10; }

struct TStepCase {
  const char* Fault;
  TStepInput In;
  double Step;
};

TEST(AxisLabelStep, FollowsLabelSizeAndPointCount) {
  const TStepCase vertical[] = {
      {"left axis: 3.7 with room for 9 labels", {{0, 3.7}, 99, false, 0}, 0.5},
      {"zero range gives step 1", {{5, 5}, 300, false, 0}, 1},
      {"no room for a label", {{0, 10}, 5, false, 0}, 1e-12},
  };
  for (const auto& c : vertical) EXPECT_DOUBLE_EQ(AxisLabelStep(c.In, LineHeight), c.Step) << c.Fault;
  const TStepCase horizontal[] = {
      {"few points are numbered in whole steps", {{0.5, 3.5}, 990, true, 3}, 1},
      {"many points may use fractional steps", {{0.5, 3.5}, 990, true, 1000}, 0.1},
      {"whole steps measured again on whole labels", {{-0.123, 99.6}, 440, true, 1000}, 10},
      {"the empty chart", {{0, 0}, 500, true, 0}, 1},
  };
  for (const auto& c : horizontal) EXPECT_DOUBLE_EQ(AxisLabelStep(c.In, TextWidth), c.Step) << c.Fault;
}

struct TLabelCase {
  const char* Fault;
  TAxisRange View;
  double Step;
  std::vector<double> Labels;
};

TEST(AxisLabelValues, RunFromTheTopLabelDown) {
  const TLabelCase cases[] = {
      {"empty axis has the single label 0", {0, 0}, 1, {0}},
      {"one point has its own label", {1, 1}, 1, {1}},
      {"labels stop at the minimum", {-0.2, 3.9}, 0.5, {3.5, 3, 2.5, 2, 1.5, 1, 0.5, 0}},
      {"a minimum of 0 is labelled", {0, 10}, 2, {10, 8, 6, 4, 2, 0}},
      {"negative range: top label below the maximum", {-10.5, -0.3}, 2, {-2, -4, -6, -8, -10}},
      {"a label never stands above the maximum", {0.3, 9.7}, 5, {5}},
      {"10000 steps or more give no labels", {0, 1e6}, 1, {}},
      {"same number text at both ends gives one label", {5, 5 + 1e-15}, 1e-12, {5 + 1e-15}},
  };
  for (const auto& c : cases) {
    const std::vector<double> got = AxisLabelValues(c.View, c.Step);
    ASSERT_EQ(got.size(), c.Labels.size()) << c.Fault;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.Labels[i], 1e-9) << c.Fault;
  }
}

TEST(AxisLabelValues, RangeBelow1e10HasOneLabel) {
  EXPECT_EQ(AxisLabelValues({1, 1 + 1e-11}, 1e-12).size(), 1u);
}

struct TFormatCase {
  const char* Fault;
  double Value;
  const char* Separator;
  const char* Text;
};

TEST(FormatAxisLabel, GroupsThousandsAndKeepsThreeDecimals) {
  const TFormatCase cases[] = {
      {"zero", 0, ",", "0"},
      {"grouping and three decimals", 1234567.891, ",", "1,234,567.891"},
      {"exact thousand", 1000, ",", "1,000"},
      {"no grouping below a thousand", 100, ",", "100"},
      {"trailing zeros dropped", 0.5, ",", "0.5"},
      {"negative with grouping", -1234.5, ",", "-1,234.5"},
      {"rounded to three decimals", 1.23456, ",", "1.235"},
      {"rounding carries into a new group", 999.9996, ",", "1,000"},
      {"tiny value shows as 0", 1e-300, ",", "0"},
      {"no minus on a value that shows as 0", -0.0004, ",", "0"},
      {"large value in full digits", 1e21, ",", "1,000,000,000,000,000,000,000"},
      {"the system's separator is used", 12345, "\u00a0", "12\u00a0345"},
      {"decimal point stays '.' with '.' grouping", 1234.5, ".", "1.234.5"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatAxisLabel(c.Value, QString::fromUtf8(c.Separator)), QString::fromUtf8(c.Text)) << c.Fault;
}

TEST(FormatAxisLabel, OverrideReplacesTheSystemSeparator) {
  SetAxisGroupSeparator(QStringLiteral("'"));
  EXPECT_EQ(FormatAxisLabel(1234567), QStringLiteral("1'234'567"));
  SetAxisGroupSeparator(QString());
}

TEST(ViewRange, PlacesTheDataTenPixelsInside) {
  const TAxisRange r = ViewRange(0, 100, 120);
  EXPECT_DOUBLE_EQ(r.Min, -10);
  EXPECT_DOUBLE_EQ(r.Max, 110);
  const TAxisMap map{r, 0, 120};
  EXPECT_EQ(map.Pixel(0), 10);
  EXPECT_EQ(map.Pixel(100), 110);
  const TAxisMap up{r, 120, 0};
  EXPECT_EQ(up.Pixel(0), 110);
  EXPECT_NEAR(up.Value(110), 0, 1e-12);
}

TEST(ViewRange, ZeroRangeStaysAtTheMiddle) {
  const TAxisRange r = ViewRange(5, 5, 300);
  EXPECT_EQ(r.Min, 5);
  EXPECT_EQ(r.Max, 5);
  EXPECT_EQ((TAxisMap{r, 0, 101}.Pixel(5)), 50);
  EXPECT_EQ((TAxisMap{r, 0, 101}.Pixel(1e300)), 50);
}

TEST(ViewRange, ExtremeValuesStayFinite) {
  const TAxisRange r = ViewRange(-1.7e308, 1.7e308, 220);
  EXPECT_TRUE(std::isfinite(r.Min) && std::isfinite(r.Max));
  const TAxisMap map{r, 0, 220};
  EXPECT_NEAR(map.Pixel(0), 110, 1);
  EXPECT_EQ((TAxisMap{{0, 1}, 0, 100}.Pixel(1e300)), 1e12);  // clamped, not overflowing
}

TEST(HalveToFraction, StopsAtAFractionOrZero) {
  EXPECT_EQ(HalveToFraction(8), 0.5);
  EXPECT_EQ(HalveToFraction(2.5), 2.5);
  EXPECT_EQ(HalveToFraction(0), 0);
  EXPECT_LT(std::abs(HalveToFraction(1e300)), 1e300);
}

// Any finite data must give a bounded set of labels: no endless loop, no huge label list.
TEST(AxisLabels, ExtremeRangesEnd) {
  const TAxisRange ranges[] = {{-1e300, 1e300}, {1e-300, 2e-300}, {-1e-300, 1e300}, {1, 1 + 1e-15},
                               {1e300, 1e300}, {-1.7e308, 1.7e308}, {0, 1e-11}, {1e15, 1e15 + 2}};
  for (const auto& data : ranges) {
    for (bool horizontal : {false, true}) {
      const TAxisRange view = ViewRange(data.Min, data.Max, 400);
      const double step = AxisLabelStep({view, 400, horizontal, 5}, horizontal ? TextWidth : LineHeight);
      const auto labels = AxisLabelValues(view, step);
      EXPECT_LE(labels.size(), 100u) << data.Min << " " << data.Max;
      for (double v : labels) EXPECT_TRUE(std::isfinite(v));
    }
  }
}

}  // namespace
