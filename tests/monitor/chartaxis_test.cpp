// Axis arithmetic of the trend chart: ranges, pixels, label steps, label values and text.
#include <gtest/gtest.h>

#include <cmath>

#include "monitor/chartaxis.h"

namespace {

// Ten pixels per character, so that label texts of different lengths differ in width.
int TextWidth(const QString& text) { return 10 * int(text.size()); }
int LineHeight(const QString&) { return 10; }

TEST(ChartAxisTest, NiceStepIsTheSmallestThatFits) {
  const std::tuple<double, int, double> cases[] = {
      {3.7, 9, 0.5}, {99, 10, 10}, {100, 5, 20}, {0.001, 5, 0.0002}, {1e300, 10, 1e299},
      {1, 10, 0.1},       // round(range / step) == n still fits
      {1e-20, 5, 1e-12},  // never below 1e-12
      {50, 0, 1e-12},     // no room
      {-3.7, 9, 0.5},     // a negative range is measured by its size
  };
  for (const auto& [range, n, step] : cases) EXPECT_DOUBLE_EQ(NiceStep(range, n), step) << range;
}

// Each label gets a gap of a tenth of its size, rounded half to even.
TEST(ChartAxisTest, LabelCountAddsATenthOfTheSizeAsGap) {
  const std::tuple<int, int, int> cases[] = {
      {99, 10, 9}, {100, 15, 6},  // gaps of 1 and of 1.5 rounded to 2
      {100, 0, 100},              // a zero size does not divide by zero
      {5, 20, 0},                 // too short for one label
  };
  for (const auto& [length, size, count] : cases) EXPECT_EQ(LabelCount(length, size), count);
}

TEST(ChartAxisTest, LabelStepFollowsLabelSizeAndPointCount) {
  const std::pair<TStepInput, double> cases[] = {
      {{{0, 3.7}, 99, false, 0}, 0.5},
      {{{5, 5}, 300, false, 0}, 1},  // a zero range
      {{{0.5, 3.5}, 990, true, 3}, 1},  // few points are numbered in whole steps
      {{{0.5, 3.5}, 990, true, 1000}, 0.1},
      {{{-0.123, 99.6}, 440, true, 1000}, 10},  // measured again on the whole labels
      {{{0, 0}, 500, true, 0}, 1},  // the empty chart
      {{{0, 10}, 5, false, 0}, 1e-12},  // no room for a label
  };
  for (const auto& [in, step] : cases)
    EXPECT_DOUBLE_EQ(AxisLabelStep(in, in.Horizontal ? TextWidth : LineHeight), step) << in.Length;
}

TEST(ChartAxisTest, LabelValuesRunFromTheTopLabelDown) {
  const std::tuple<TAxisRange, double, std::vector<double>> cases[] = {
      {{0, 0}, 1, {0}},
      {{1, 1}, 1, {1}},
      {{-0.2, 3.9}, 0.5, {3.5, 3, 2.5, 2, 1.5, 1, 0.5, 0}},
      {{0, 10}, 2, {10, 8, 6, 4, 2, 0}},
      {{-10.5, -0.3}, 2, {-2, -4, -6, -8, -10}},
      {{0.3, 9.7}, 5, {5}},  // never above the maximum
      {{0, 1e6}, 1, {}},  // 10000 steps or more
      {{5, 5 + 1e-15}, 1e-12, {5}},  // the same number text at both ends
      {{1, 1 + 1e-11}, 1e-12, {1}},  // a range below 1e-10
  };
  for (const auto& [view, step, labels] : cases) {
    const std::vector<double> got = AxisLabelValues(view, step);
    ASSERT_EQ(got.size(), labels.size()) << view.Min << " " << view.Max;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], labels[i], 1e-9) << view.Min;
  }
}

TEST(ChartAxisTest, LabelTextGroupsThousandsAndKeepsThreeDecimals) {
  const std::tuple<double, const char*, const char*> cases[] = {
      {1234567.891, ",", "1,234,567.891"}, {1000, ",", "1,000"}, {100, ",", "100"},
      {0.5, ",", "0.5"}, {-1234.5, ",", "-1,234.5"}, {1.23456, ",", "1.235"},
      {999.9996, ",", "1,000"},  // rounding carries into a new group
      {1e-300, ",", "0"}, {-0.0004, ",", "0"},  // no minus on a value shown as 0
      {1e21, ",", "1,000,000,000,000,000,000,000"},
      {12345, "\u00a0", "12\u00a0345"},  // the system's separator
      {1234.5, ".", "1.234.5"},  // the decimal point stays "."
  };
  for (const auto& [value, separator, text] : cases)
    EXPECT_EQ(FormatAxisLabel(value, QString::fromUtf8(separator)), QString::fromUtf8(text));
  SetAxisGroupSeparator(QStringLiteral("'"));  // overrides the system's separator
  EXPECT_EQ(FormatAxisLabel(1234567), QStringLiteral("1'234'567"));
  SetAxisGroupSeparator(QString());
}

// Any finite data gives a bounded list of finite labels on both axes: no endless loop.
TEST(ChartAxisTest, ExtremeRangesGiveFewFiniteLabels) {
  const TAxisRange ranges[] = {{-1e300, 1e300}, {1e-300, 2e-300}, {-1e-300, 1e300},
                               {1, 1 + 1e-15}, {1e300, 1e300}, {-1.7e308, 1.7e308},
                               {0, 1e-11}, {1e15, 1e15 + 2}};
  for (const auto& data : ranges) {
    for (bool horizontal : {false, true}) {
      const TAxisRange view = ViewRange(data.Min, data.Max, 400);
      const double step =
          AxisLabelStep({view, 400, horizontal, 5}, horizontal ? TextWidth : LineHeight);
      const std::vector<double> labels = AxisLabelValues(view, step);
      EXPECT_LE(labels.size(), 100u) << data.Min << " " << data.Max;
      for (double v : labels) EXPECT_TRUE(std::isfinite(v)) << data.Min << " " << data.Max;
    }
  }
}

TEST(ChartAxisTest, ViewRangePlacesTheDataTenPixelsInsideAndStaysFinite) {
  const TAxisMap up{ViewRange(0, 100, 120), 120, 0};
  EXPECT_DOUBLE_EQ(up.View.Min, -10);
  EXPECT_DOUBLE_EQ(up.View.Max, 110);
  EXPECT_EQ(up.Pixel(0), 110);
  EXPECT_TRUE(std::isfinite(ViewRange(-1.7e308, 1.7e308, 220).Max));
  EXPECT_EQ((TAxisMap{{0, 1}, 0, 100}.Pixel(1e300)), 1e12);  // clamped, not overflowing
  // A zero range stays zero and maps every value to the middle.
  const TAxisRange zero = ViewRange(5, 5, 300);
  EXPECT_TRUE(zero.Min == 5 && zero.Max == 5);
  EXPECT_EQ((TAxisMap{zero, 0, 101}.Pixel(1e300)), 50);
}

}  // namespace
