// The numeric entry fields' text rules: formatting, reading, limits, typed characters, caret.
#include <gtest/gtest.h>

#include <cstdint>

#include "ui/spineditrules.h"

namespace {

TEST(SpinFloatText, FormatsWithPrecision) {
  const struct {
    double Value;
    int Precision;
    const char* Text;
  } rows[] = {
      {0, 7, "0.0000000"},        // zero padded to all decimals
      {12, 7, "12.0000000"},
      {0.00001, 7, "0.0000100"},  // the step near 1E-5 shows no binary tail
      {0.123456789, 7, "0.1234568"},
      {-0.00000006, 7, "-0.0000001"},  // rounding away from zero keeps the sign
      {-0.125, 2, "-0.13"},
      {-0.0, 2, "0.00"},
      {1e-20, 7, "0.0000000"},
      {0.1, 20, "0.10000000000000000000"},  // beyond 15 digits only zeros
      {-0.00000004, 7, "0.0000000"},  // rounding to zero loses the sign
      {123456789.123456789, 7, "123456789.1234570"},  // digits from the sixteenth on are 0
      {0.125, 2, "0.13"},  // half away from zero, judged on the decimal form
      {1.005, 2, "1.00"},  // its binary value lies below the half
      {999.9999999, 3, "1000.000"},
      {1e15, 7, "1E15"},  // too large for fixed notation
      {12.5, 0, "12.5"},  // precision 0 and below: the number text, rounded to four digits
      {1234.5678, -1, "1235"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(SpinFloatText(r.Value, r.Precision).toStdString(), r.Text) << r.Value;
}

TEST(TryReadSpinInt, ReadsDecimalAndHexWithin32Bits) {
  const struct {
    const char16_t* Text;
    bool Ok;
    int32_t Value;
  } rows[] = {
      {u"+7", true, 7},           {u"  12", true, 12},          {u"$FF", true, 255},
      {u"x10", true, 16},         {u"0X1f", true, 31},          {u"-$10", true, -16},
      {u"$FFFFFFFF", true, -1},   {u"-2147483648", true, INT32_MIN},
      {u"2147483648", false, 0},  {u"$100000000", false, 0},    {u"-", false, 0},
      {u"0x", false, 0},          {u"1.5", false, 0},           {u"12 ", false, 0},
      {u"\u0663", false, 0},     {u"2147483647", true, INT32_MAX}, {u"-2147483649", false, 0},
      {u"", false, 0},            {u"1-2", false, 0},
  };
  for (const auto& r : rows) {
    int32_t value = 0;
    const QString text = QString::fromUtf16(r.Text);
    EXPECT_EQ(TryReadSpinInt(text, value), r.Ok) << text.toStdString();
    EXPECT_EQ(r.Ok ? value : 0, r.Value) << text.toStdString();
  }
}

// Each row reads one text three ways, each with the failure fallback (MinValue) -1.
TEST(ReadValue, ReadsOrFallsBackToMinValue) {
  const struct {
    const char16_t* Text;
    int32_t Adv;
    double AdvFloat;
    int32_t Spin;
  } rows[] = {
      {u"", 0, 0, -1},  // empty reads 0, except in TSpinEdit
      {u" \t ", 0, 0, -1},  // so do blanks
      {u".", -1, 0, -1},     // a lone point reads 0 as a float
      {u"-.", -1, 0, -1},
      {u" 2 ", 2, 2, -1},
      {u"abc", -1, -1, -1},
      {u"1.2.3", -1, -1, -1},
      {u"1e400", -1, -1, -1},  // beyond a double
      {u"\t12\r", 12, -1, -1},
      {u"12.0000000", -1, 12, -1},
      {u"1,5", -1, -1, -1},
      {u"1e3", -1, 1000, -1},
      {u"007", 7, 7, 7},
      {u"$10", 16, -1, 16},
  };
  for (const auto& r : rows) {
    const QString text = QString::fromUtf16(r.Text);
    EXPECT_EQ(ReadAdvValue(text, -1), r.Adv) << text.toStdString();
    EXPECT_EQ(ReadAdvFloatValue(text, -1), r.AdvFloat) << text.toStdString();
    EXPECT_EQ(ReadSpinValue(text, -1), r.Spin) << text.toStdString();
  }
}

// Limits are off when both are 0 (TAdvSpinEdit integers) or equal (its floats and TSpinEdit),
// and hold otherwise; steps saturate.
TEST(SpinLimits, OffRulesAndSaturatingSteps) {
  EXPECT_EQ(ClampAdvInt(-5, 0, 0), -5);
  EXPECT_EQ(ClampAdvInt(5, 1, 4), 4);
  EXPECT_EQ(ClampAdvInt(0, 1, 4), 1);
  EXPECT_EQ(ClampAdvInt(9, 3, 3), 3);
  EXPECT_EQ(ClampAdvFloat(-1e9, 5, 5), -1e9);
  EXPECT_EQ(ClampAdvFloat(2.5, 0, 1), 1);
  EXPECT_EQ(ClampSpinInt(150, 200, 200000), 200);
  EXPECT_EQ(ClampSpinInt(-100, 50, 50), -100);
  EXPECT_TRUE(OutsideIntLimits(2000, 0, 1023, true));
  EXPECT_FALSE(OutsideIntLimits(2000, 0, 0, true));
  EXPECT_TRUE(OutsideIntLimits(150, 200, 200000, false));
  EXPECT_FALSE(OutsideIntLimits(-1, 5, 5, false));
  EXPECT_EQ(AddIntStep(INT32_MAX, 10), INT32_MAX);
  EXPECT_EQ(AddIntStep(INT32_MIN, -1), INT32_MIN);
  EXPECT_EQ(AddIntStep(5, -10), -5);
}

constexpr auto A = TCharVerdict::Accept;
constexpr auto I = TCharVerdict::Ignore;
constexpr auto R = TCharVerdict::Refuse;

TEST(CharRule, JudgesEachTypedCharacter) {
  const struct {
    const char* Name;
    bool SpinEdit;  // TSpinEdit instead of TAdvSpinEdit
    TSpinType Mode;
    int Precision;
    const char16_t* Text;
    int Caret, SelLength;
    char32_t Ch;
    char16_t Thousands;
    TCharVerdict Verdict;
    char16_t Inserted = 0;  // when accepted: 0 for the typed character itself
  } rows[] = {
      {"IntDigit", false, sptNormal, 7, u"12", 2, 0, u'5', u',', A},
      {"IntUnicodeDigit", false, sptNormal, 7, u"12", 2, 0, u'\u0663', u',', A},
      {"IntDigitBeyondTheBasicPlane", false, sptNormal, 7, u"12", 2, 0, U'\U0001D7D9', u',', A},
      {"FloatLetterBeyondTheBasicPlane", false, sptFloat, 7, u"1", 1, 0, U'\U0001D400', u',', R},
      {"IntLetter", false, sptNormal, 7, u"12", 2, 0, u'a', u',', R},
      {"IntPoint", false, sptNormal, 7, u"12", 2, 0, u'.', u',', R},
      {"IntThousandsSeparator", false, sptNormal, 7, u"12", 2, 0, u',', u',', R},
      {"IntBlank", false, sptNormal, 7, u"12", 2, 0, u' ', u',', R},
      {"IntPlusSilent", false, sptNormal, 7, u"12", 2, 0, u'+', u',', I},
      {"IntMinusSilent", false, sptNormal, 7, u"12", 2, 0, u'-', u',', I},
      {"IntReturnSilent", false, sptNormal, 7, u"12", 2, 0, u'\r', u',', I},
      {"IntBackspace", false, sptNormal, 7, u"12", 2, 0, u'\b', u',', A},
      {"FloatFullDecimalsDigit", false, sptFloat, 7, u"0.1234567", 9, 0, u'5', u',', R},
      {"FloatFullDecimalsMinus", false, sptFloat, 7, u"0.1234567", 9, 0, u'-', u',', R},
      {"FloatFullDecimalsPaste", false, sptFloat, 7, u"0.1234567", 9, 0, 0x16, u',', R},
      {"FloatFullDecimalsBackspace", false, sptFloat, 7, u"0.1234567", 9, 0, u'\b', u',', A},
      {"FloatFullDecimalsEscape", false, sptFloat, 7, u"0.1234567", 9, 0, 27, u',', A},
      {"FloatFullDecimalsReturn", false, sptFloat, 7, u"0.1234567", 9, 0, u'\r', u',', I},
      {"FloatDigitBeforePoint", false, sptFloat, 7, u"0.1234567", 1, 0, u'5', u',', A},
      {"FloatDigitWithSelection", false, sptFloat, 7, u"0.1234567", 8, 1, u'5', u',', A},
      {"FloatShortDecimals", false, sptFloat, 7, u"0.12", 4, 0, u'5', u',', A},
      {"FloatMinusSilent", false, sptFloat, 7, u"0.12", 4, 0, u'-', u',', I},
      {"FloatPlusSilent", false, sptFloat, 7, u"5", 1, 0, u'+', u',', I},
      {"FloatSecondPoint", false, sptFloat, 7, u"0.5", 3, 0, u'.', u',', R},
      {"FloatPointOverAll", false, sptFloat, 7, u"0.5", 0, 3, u'.', u',', A},
      {"FloatPointIntoEmpty", false, sptFloat, 7, u"", 0, 0, u'.', u',', A},
      {"FloatPointPrecisionZero", false, sptFloat, 0, u"5", 1, 0, u'.', u',', R},
      {"FloatEnglishCommaIsPoint", false, sptFloat, 7, u"5", 1, 0, u',', u',', A, u'.'},
      {"FloatGermanPointIsPoint", false, sptFloat, 7, u"5", 1, 0, u'.', u'.', A, u'.'},
      {"FloatGermanComma", false, sptFloat, 7, u"5", 1, 0, u',', u'.', R},
      {"FloatCommaAfterPoint", false, sptFloat, 7, u"5.1", 3, 0, u',', u',', R},
      {"FloatTimeSeparator", false, sptFloat, 7, u"5", 1, 0, u':', u',', R},
      {"FloatExponentLetter", false, sptFloat, 7, u"5", 1, 0, u'e', u',', R},
      {"SpinDigit", true, sptNormal, 0, u"1", 1, 0, u'5', 0, A},
      {"SpinPoint", true, sptNormal, 0, u"1", 1, 0, u'.', 0, A},
      {"SpinSign", true, sptNormal, 0, u"1", 1, 0, u'-', 0, A},
      {"SpinPlus", true, sptNormal, 0, u"1", 1, 0, u'+', 0, A},
      {"SpinLetter", true, sptNormal, 0, u"1", 1, 0, u'a', 0, R},
      {"SpinReturnBeeps", true, sptNormal, 0, u"1", 1, 0, u'\r', 0, R},
      {"SpinUnicodeDigit", true, sptNormal, 0, u"1", 1, 0, u'\u0663', 0, R},
      {"SpinBackspace", true, sptNormal, 0, u"1", 1, 0, u'\b', 0, A},
  };
  for (const auto& r : rows) {
    const TSpinEditState state{QString::fromUtf16(r.Text), r.Caret, r.SelLength};
    const TCharResult result =
        r.SpinEdit ? SpinCharRule(r.Ch)
                   : AdvCharRule(r.Ch, r.Mode, r.Precision, false, state,
                                 r.Thousands ? QChar(r.Thousands) : QChar());
    EXPECT_EQ(int(result.Verdict), int(r.Verdict)) << r.Name;
    if (r.Verdict == A) {
      EXPECT_EQ(result.Char, r.Inserted ? char32_t(r.Inserted) : r.Ch) << r.Name;
    }
    EXPECT_FALSE(result.ToggleSign) << r.Name;
  }
}

// A "-" typed into a field that may be negative toggles the sign, the caret and selection
// following the digits; in other fields it toggles nothing.
TEST(CharRule, MinusTogglesTheSignOfSignedFields) {
  const TSpinEditState plain{QStringLiteral("12"), 1, 0};
  EXPECT_TRUE(AdvCharRule(u'-', sptNormal, 0, true, plain, QChar()).ToggleSign);
  EXPECT_FALSE(AdvCharRule(u'-', sptNormal, 0, false, plain, QChar()).ToggleSign);
  const TSpinEditState negated = ToggleSign(plain);
  EXPECT_EQ(negated.Text, QStringLiteral("-12"));
  EXPECT_EQ(negated.Caret, 2);
  const TSpinEditState back = ToggleSign(TSpinEditState{QStringLiteral("-12"), 0, 3});
  EXPECT_EQ(back.Text, QStringLiteral("12"));
  EXPECT_EQ(back.Caret, 0);
  EXPECT_EQ(back.SelLength, 2);
}

TEST(StepSelection, FollowsTheDigitsAfterButtonAndKeySteps) {
  const struct {
    const char* Before;
    const char* After;
    TSpinSelection Selection, Expected;
  } rows[] = {
      {"0.0000000", "-0.0000100", {0, 9}, {1, 9}},  // a minus appears: shift right, to the end
      {"5", "6", {1, 0}, {1, 0}},    // the same length keeps the caret
      {"12", "13", {0, 2}, {0, 2}},  // and the selection
      {"9", "10", {1, 0}, {1, 1}},  // longer: caret to the end selected
      {"-0.0000100", "0.0000000", {1, 0}, {0, 9}},
      {"-1", "0", {2, 0}, {1, 0}},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(SelectionAfterButtonStep(QString::fromLatin1(r.Before),
                                       QString::fromLatin1(r.After), r.Selection),
              r.Expected)
        << r.Before << " -> " << r.After;
  }
  EXPECT_EQ(SelectionAfterKeyStep(QStringLiteral("10"), {1, 0}), (TSpinSelection{1, 0}));
  EXPECT_EQ(SelectionAfterKeyStep(QStringLiteral("10"), {5, 0}), (TSpinSelection{2, 0}));
  EXPECT_EQ(SelectionAfterKeyStep(QStringLiteral("10"), {1, 5}), (TSpinSelection{1, 1}));
}

}  // namespace
