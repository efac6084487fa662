#include <gtest/gtest.h>

#include <QLocale>
#include <QRegularExpression>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "globals/errors.h"
#include "globals/numtext.h"

namespace {

// Runs check twice: with the C locale, and with the C library and Qt default locales set to
// German, whose decimal separator is ",". The number text must not change with the locale.
// (If de_DE is not installed, setlocale fails and only Qt's default locale changes.)
void InBothLocales(const std::function<void()>& check) {
  check();
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  check();
  QLocale::setDefault(QLocale::c());
  std::setlocale(LC_ALL, "C");
}

// The double rounded to 15 significant digits, computed without the code under test.
double RoundTo15(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  double out = 0;
  std::from_chars(buf, r.ptr, out);
  return out;
}

struct TWriteCase {
  const char* Fault;
  double Value;
  const char* Text;
};

const TWriteCase kWriteCases[] = {
    {"zero has no point", 0.0, "0"},
    {"negative zero loses its sign", -0.0, "0"},
    {"a negative that rounds to zero shows no sign", std::nearbyint(-0.4), "0"},
    {"one half", 0.5, "0.5"},
    {"integer has no point", 95, "95"},
    {"negative integer", -1000, "-1000"},
    {"fixed at e = -3", 0.0001, "0.0001"},
    {"fixed at e = -3 with more digits", 0.00012345, "0.00012345"},
    {"E form at e = -4", 0.00001, "1E-5"},
    {"E form with fraction", 0.000012345, "1.2345E-5"},
    {"negative E form", -0.000012345, "-1.2345E-5"},
    {"E form never writes a plus", 1e15, "1E15"},
    {"fixed up to 15 digits", 999999999999999.0, "999999999999999"},
    {"fixed 10^14", 1e14, "100000000000000"},
    {"rounding carries into the E form", 999999999999999.9, "1E15"},
    {"rounding carries into fixed from below", 0.00009999999999999999, "0.0001"},
    {"just below the fixed range", 0.0000999999999999990, "9.9999999999999E-5"},
    {"15 digits hide binary noise", 0.1 + 0.2, "0.3"},
    {"one third", 1.0 / 3, "0.333333333333333"},
    {"two thirds round up", 2.0 / 3, "0.666666666666667"},
    {"18-digit integer rounds to 15", 123456789012345678.0, "1.23456789012346E17"},
    {"exact tie rounds to even, up", 123456789012345.5, "123456789012346"},
    {"exact tie rounds to even, down", 123456789012344.5, "123456789012344"},
    {"tie below the integer rounds to even", 1000000000000005.0, "1E15"},
    {"large exponent", 1e300, "1E300"},
    {"smallest denormal", 4.9406564584124654e-324, "4.94065645841247E-324"},
    {"largest double", 1.7976931348623157e308, "1.79769313486232E308"},
    {"fraction below one in fixed", 0.0125, "0.0125"},
    {"mixed fixed", -12.5, "-12.5"},
};

TEST(FormatNumber, WritesTheNumberText) {
  InBothLocales([] {
    for (const auto& c : kWriteCases)
      EXPECT_EQ(FormatNumber(c.Value).toStdString(), c.Text) << c.Fault;
  });
}

TEST(FormatNumber, WritesEveryIntegerUpTo15DigitsInFull) {
  std::mt19937_64 rng(7);
  long long nines = 0;
  for (int digits = 1; digits <= 15; ++digits) {
    nines = nines * 10 + 9;
    EXPECT_EQ(FormatNumber(double(nines)), QString::number(nines));
    EXPECT_EQ(FormatNumber(double(-nines)), QString::number(-nines));
    const long long r = (long long)(rng() % (unsigned long long)nines);
    EXPECT_EQ(FormatNumber(double(r)), QString::number(r));
  }
}

struct TReadCase {
  const char* Fault;
  const char* Text;
  bool Ok;
  double Value;
};

const double kMax = std::numeric_limits<double>::max();
const TReadCase kReadCases[] = {
    {"plain fraction", "0.5", true, 0.5},
    {"leading point", ".5", true, 0.5},
    {"trailing point", "5.", true, 5},
    {"spaces around", "  -1.5e3  ", true, -1500},
    {"explicit plus", "+7", true, 7},
    {"exponent with plus", "1e+5", true, 1e5},
    {"capital exponent", "1.2345E-5", true, 0.000012345},
    {"E form as written", "1E15", true, 1e15},
    {"many digits round to nearest", "0.33333333333333333333333", true, 1.0 / 3},
    {"largest double", "1.7976931348623157e308", true, kMax},
    {"just below overflow rounds to the largest", "1.7976931348623158e308", true, kMax},
    {"tiny exponent underflows to zero", "1e-400", true, 0},
    {"negative underflow is zero", "-1e-400", true, 0},
    {"400 zeros after the point underflow", nullptr, true, 0},
    {"zero with huge exponent", "0e999999", true, 0},
    {"huge negative exponent", "1e-99999999999999999999", true, 0},
    {"denormal kept", "4.9e-324", true, 4.9406564584124654e-324},
    {"overflow by exponent", "1e400", false, 0},
    {"overflow past the rounding point", "1.797693134862315808e308", false, 0},
    {"huge exponent", "1e99999999999999999999", false, 0},
    {"400 digits", nullptr, false, 0},
    {"empty", "", false, 0},
    {"spaces only", "   ", false, 0},
    {"lone point", ".", false, 0},
    {"lone sign", "-", false, 0},
    {"two signs", "+-1", false, 0},
    {"exponent without mantissa", "e5", false, 0},
    {"exponent without digits", "1e", false, 0},
    {"exponent sign without digits", "1e+", false, 0},
    {"comma as separator", "1,5", false, 0},
    {"thousands separator", "1 000", false, 0},
    {"two points", "1.2.3", false, 0},
    {"infinity", "inf", false, 0},
    {"not a number", "nan", false, 0},
    {"hex float", "0x1p3", false, 0},
    {"tab is not a space", "\t1", false, 0},
    {"trailing letters", "12abc", false, 0},
    {"sign after spaces inside", "- 1", false, 0},
};

std::string LongText(const TReadCase& c) {
  if (c.Ok) return "0." + std::string(400, '0') + "1";
  return std::string(400, '9');
}

TEST(TryReadNumber, ReadsOnlyTheGrammar) {
  InBothLocales([] {
    for (const auto& c : kReadCases) {
      const std::string text = c.Text ? c.Text : LongText(c);
      double value = -77;
      const bool ok = TryReadNumber(QString::fromStdString(text), value);
      EXPECT_EQ(ok, c.Ok) << c.Fault;
      EXPECT_EQ(value, c.Ok ? c.Value : -77.0) << c.Fault;
    }
  });
}

TEST(ReadNumber, RaisesTheConversionError) {
  try {
    ReadNumber(u"1,5");
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message().toStdString(), "'1,5' is not a valid floating point value");
  }
  EXPECT_EQ(ReadNumber(u" 2.5 "), 2.5);
}

// Writes a million random finite doubles (all magnitudes, bit patterns drawn at random) and
// reads them back: the result must be the value rounded to 15 significant digits, and the
// text must have the written form.
TEST(NumberText, MillionRandomDoublesRoundTrip) {
  const QRegularExpression form(R"(^-?(0|[1-9]\d*(\.\d*[1-9])?|0\.\d*[1-9]|[1-9](\.\d*[1-9])?E-?[1-9]\d*)$)");
  InBothLocales([&] {
    std::mt19937_64 rng(20240611);
    int failures = 0;
    for (int k = 0; k < 1000000 && failures < 10; ++k) {
      double v;
      const uint64_t bits = rng();
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) continue;
      const QString text = FormatNumber(v);
      double back = 0;
      const bool ok = TryReadNumber(text, back) && back == RoundTo15(v) &&
                      (k % 16 != 0 || form.match(text).hasMatch());
      if (!ok) ADD_FAILURE() << ++failures << ": " << text.toStdString();
    }
  });
}

struct TRoundCase {
  const char* Fault;
  double Value;
  int32_t Rounded;
};

const TRoundCase kRoundCases[] = {
    {"tie to even down", 2.5, 2},     {"tie to even up", 3.5, 4},
    {"negative tie", -2.5, -2},       {"negative tie up", -3.5, -4},
    {"below half", 0.4999999999999999, 0},
    {"clamped high", 1e300, INT32_MAX}, {"clamped low", -1e300, INT32_MIN},
    {"top of range", 2147483647.4, INT32_MAX}, {"NaN gives zero", NAN, 0},
};

TEST(RoundToInt32, RoundsHalfEvenAndClamps) {
  for (const auto& c : kRoundCases) EXPECT_EQ(RoundToInt32(c.Value), c.Rounded) << c.Fault;
}

TEST(TrimControls, TrimsEveryControlCharacter) {
  EXPECT_EQ(TrimControls(u"\n\t \x01 a b\r\x1f ").toString(), QStringLiteral("a b"));
  EXPECT_TRUE(TrimControls(u"\r\n").isEmpty());
  EXPECT_EQ(TrimControls(u"\u00a0x").toString(), QStringLiteral("\u00a0x"));  // 160 kept
}

}  // namespace
