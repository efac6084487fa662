#include <gtest/gtest.h>

#include <QLocale>
#include <QRegularExpression>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "globals/numtext.h"

namespace {

// Runs check with the C locale, then with the C library's and Qt's default locale set to German
// (decimal separator ","; without de_DE installed only Qt's changes).
template <typename TCheck>
void InBothLocales(const TCheck& check) {
  check();
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  check();
  QLocale::setDefault(QLocale::c());
  std::setlocale(LC_ALL, "C");
}

const double kMax = std::numeric_limits<double>::max();

const std::pair<double, const char*> kWritten[] = {
    // Zero, and a negative that rounds to zero, show no sign; integers no point.
    {0.0, "0"}, {-0.0, "0"}, {std::nearbyint(-0.4), "0"}, {95, "95"}, {-12.5, "-12.5"},
    // Fixed down to 0.ddd x 10^-3, E form below, never with "+".
    {0.0001, "0.0001"}, {0.00001, "1E-5"}, {0.000012345, "1.2345E-5"}, {-0.000012345, "-1.2345E-5"},
    {0.0000999999999999990, "9.9999999999999E-5"}, {0.00009999999999999999, "0.0001"},
    // Fixed up to 15 integer digits, E form from 10^15, also when rounding carries there.
    {999999999999999.0, "999999999999999"}, {-123456789012345.0, "-123456789012345"},
    {1e15, "1E15"}, {999999999999999.9, "1E15"}, {1000000000000005.0, "1E15"}, {1e300, "1E300"},
    // 15 significant digits hide binary noise; exact ties round to even.
    {0.1 + 0.2, "0.3"}, {1.0 / 3, "0.333333333333333"}, {2.0 / 3, "0.666666666666667"},
    {123456789012345678.0, "1.23456789012346E17"}, {123456789012345.5, "123456789012346"},
    {123456789012344.5, "123456789012344"}, {4.9406564584124654e-324, "4.94065645841247E-324"},
    {kMax, "1.79769313486232E308"},
};

const std::pair<std::string, double> kRead[] = {
    {".5", 0.5}, {"5.", 5}, {"  -1.5e3  ", -1500}, {"+7", 7}, {"1e+5", 1e5},
    {"0.33333333333333333333333", 1.0 / 3},
    {"1.7976931348623158e308", kMax},  // below the rounding point: the largest double
    // Too small for a double reads as zero, however it is written.
    {"1e-400", 0}, {"-1e-400", 0}, {"0." + std::string(400, '0') + "1", 0}, {"0e999999", 0},
    {"1e-99999999999999999999", 0},
};

// Text that is not a number: outside the grammar, or too large for a double.
const std::string kNotNumbers[] = {
    "", "   ", ".", "-", "+-1", "e5", "1e", "1e+", "1,5", "1 000", "1.2.3", "inf", "nan",
    "0x1p3", "\t1", "12abc", "- 1", "1e400", "1.797693134862315808e308",
    "1e99999999999999999999", std::string(400, '9')};

TEST(NumberText, WritesAndReads) {
  InBothLocales([] {
    for (const auto& [value, text] : kWritten)
      EXPECT_EQ(FormatNumber(value).toStdString(), text);
    for (const auto& [text, expected] : kRead) {
      double value = -77;
      EXPECT_TRUE(TryReadNumber(QString::fromStdString(text), value)) << text;
      EXPECT_EQ(value, expected) << text;
    }
    for (const std::string& text : kNotNumbers) {
      double value = -77;
      EXPECT_FALSE(TryReadNumber(QString::fromStdString(text), value)) << text;
      EXPECT_EQ(value, -77.0) << text;
    }
  });
}

// A million random finite doubles (bit patterns drawn at random, so all magnitudes) written
// and read back give the value rounded to 15 significant digits, in the written form: no
// trailing zeros, no "+", an exponent only in the E form (checked on every 16th value).
TEST(NumberText, MillionRandomDoublesRoundTrip) {
  const QRegularExpression form(
      R"(^-?(0|[1-9]\d*(\.\d*[1-9])?|0\.\d*[1-9]|[1-9](\.\d*[1-9])?E-?[1-9]\d*)$)");
  InBothLocales([&form] {
    std::mt19937_64 rng(20240611);
    int failures = 0;
    for (int k = 0; k < 1000000 && failures < 10; ++k) {
      double v, rounded = 0, back = 0;
      const uint64_t bits = rng();
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) continue;
      char buf[64];  // the reference rounding, without the code under test
      auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
      std::from_chars(buf, r.ptr, rounded);
      const QString text = FormatNumber(v);
      const bool formed = k % 16 != 0 || form.match(text).hasMatch();
      if (!TryReadNumber(text, back) || back != rounded || !formed)
        ADD_FAILURE() << ++failures << ": " << text.toStdString();
    }
  });
}

// The exact text reads back as the very same double, in the tool's number form, with no more
// digits than needed: a board's value put back this way is the value it held.
TEST(NumberText, ExactTextReadsBackTheSameDouble) {
  const QRegularExpression form(
      R"(^-?(0|[1-9]\d*(\.\d*[1-9])?|0\.\d*[1-9]|[1-9](\.\d*[1-9])?E-?[1-9]\d*)$)");
  struct TCase {
    double Value;
    const char* Text;
  };
  for (const TCase& c : {TCase{0.5, "0.5"}, TCase{0.1, "0.1"}, TCase{1e-5, "1E-5"}, TCase{95, "95"},
                         TCase{1.0 / 3, "0.3333333333333333"},
                         TCase{0.12345678901234567, "0.12345678901234566"}, TCase{-2.5e20, "-2.5E20"}})
    EXPECT_EQ(ExactNumberText(c.Value).toStdString(), c.Text);
  InBothLocales([&form] {
    std::mt19937_64 rng(20261209);
    int failures = 0;
    for (int k = 0; k < 200000 && failures < 10; ++k) {
      double v, back = 0;
      const uint64_t bits = rng();
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) continue;
      const QString text = ExactNumberText(v);
      if (!TryReadNumber(text, back) || back != v || !form.match(text).hasMatch())
        ADD_FAILURE() << ++failures << ": " << text.toStdString();
    }
  });
}

TEST(NumberText, RoundsHalfEvenClampsAndTrims) {
  const std::pair<double, int32_t> rows[] = {
      {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.4999999999999999, 0}, {1e300, INT32_MAX},
      {-1e300, INT32_MIN}, {2147483647.4, INT32_MAX}, {NAN, 0}};
  for (const auto& [value, rounded] : rows) EXPECT_EQ(RoundToInt32(value), rounded) << value;
  EXPECT_EQ(TrimControls(u"\n\t \x01\u00a0a b\r\x1f ").toString(), u"\u00a0a b");  // 160 kept
}

}  // namespace
