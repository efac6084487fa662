// Table tests of the numeric entry fields' text rules: formatting, parsing, limits,
// typed-character verdicts and the caret after steps.

#include <gtest/gtest.h>

#include <cstdint>

#include "ui/spineditrules.h"

namespace {

struct FloatTextCase {
  const char* name;
  double value;
  int precision;
  const char* expected;
};

const FloatTextCase kFloatTexts[] = {
    {"ZeroPadsDecimals", 0, 7, "0.0000000"},
    {"StepNearTenToMinusFiveShowsNoBinaryTail", 0.00001, 7, "0.0000100"},
    {"NegativeKeepsSign", -1.5, 7, "-1.5000000"},
    {"RoundsHalfUpAtLastDecimal", 0.123456789, 7, "0.1234568"},
    {"NegativeRoundingToZeroLosesSign", -0.00000004, 7, "0.0000000"},
    {"NegativeRoundingAwayFromZero", -0.00000006, 7, "-0.0000001"},
    {"IntegerGetsAllDecimals", 12, 7, "12.0000000"},
    {"SixteenthDigitOnIsZero", 123456789.123456789, 7, "123456789.1234570"},
    {"HalfAwayFromZeroOnDecimalForm", 0.125, 2, "0.13"},
    {"NegativeHalfAwayFromZero", -0.125, 2, "-0.13"},
    {"BinaryBelowHalfRoundsDown", 1.005, 2, "1.00"},
    {"CarryAddsIntegerDigit", 999.9999999, 3, "1000.000"},
    {"NegativeZeroHasNoSign", -0.0, 2, "0.00"},
    {"TinyValueIsZero", 1e-20, 7, "0.0000000"},
    {"ManyDecimalsBeyondFifteenDigitsAreZero", 0.1, 20, "0.10000000000000000000"},
    {"HugeValueLeavesFixedNotation", 1e15, 7, "1E15"},
    {"PrecisionZeroIsNumberText", 12.5, 0, "12.5"},
    {"NegativePrecisionFourDigits", 1234.5678, -1, "1235"},
};

class SpinFloatTextTest : public testing::TestWithParam<FloatTextCase> {};

TEST_P(SpinFloatTextTest, Formats) {
  const FloatTextCase& c = GetParam();
  EXPECT_EQ(SpinFloatText(c.value, c.precision).toStdString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, SpinFloatTextTest, testing::ValuesIn(kFloatTexts),
                         [](const auto& info) { return std::string(info.param.name); });

struct IntParseCase {
  const char* name;
  const char16_t* text;
  bool ok;
  int32_t value;
};

const IntParseCase kIntParses[] = {
    {"PlainDecimal", u"123", true, 123},
    {"Negative", u"-5", true, -5},
    {"ExplicitPlus", u"+7", true, 7},
    {"LeadingSpaces", u"  12", true, 12},
    {"DollarHex", u"$FF", true, 255},
    {"XHex", u"x10", true, 16},
    {"ZeroXHex", u"0X1f", true, 31},
    {"NegativeHex", u"-$10", true, -16},
    {"HexFullPatternWraps", u"$FFFFFFFF", true, -1},
    {"MaxInt", u"2147483647", true, 2147483647},
    {"MinInt", u"-2147483648", true, INT32_MIN},
    {"DecimalOverflow", u"2147483648", false, 0},
    {"DecimalUnderflow", u"-2147483649", false, 0},
    {"HexOverflow", u"$100000000", false, 0},
    {"Empty", u"", false, 0},
    {"LoneSign", u"-", false, 0},
    {"PrefixOnly", u"0x", false, 0},
    {"Point", u"1.5", false, 0},
    {"TrailingSpace", u"12 ", false, 0},
    {"MinusInside", u"1-2", false, 0},
    {"NonAsciiDigit", u"\u0663", false, 0},
};

class TryReadSpinIntTest : public testing::TestWithParam<IntParseCase> {};

TEST_P(TryReadSpinIntTest, Parses) {
  const IntParseCase& c = GetParam();
  int32_t value = 0;
  ASSERT_EQ(TryReadSpinInt(QString::fromUtf16(c.text), value), c.ok);
  if (c.ok) {
    EXPECT_EQ(value, c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TryReadSpinIntTest, testing::ValuesIn(kIntParses),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReadCase {
  const char* name;
  const char16_t* text;
  int32_t adv;       // ReadAdvValue with MinValue -1
  double advFloat;   // ReadAdvFloatValue with MinValue -1
  int32_t spin;      // ReadSpinValue with MinValue -1
};

// Each row reads one text three ways, each with the failure fallback -1.
const ReadCase kReads[] = {
    {"EmptyReadsZeroExceptSpinEdit", u"", 0, 0, -1},
    {"BlanksReadZeroExceptSpinEdit", u" \t ", 0, 0, -1},
    {"ControlsAroundTrimmedForInteger", u"\t12\r", 12, -1, -1},
    {"FixedTextFailsAsInteger", u"12.0000000", -1, 12, -1},
    {"LonePointReadsZeroAsFloat", u".", -1, 0, -1},
    {"SignedLonePoint", u"-.", -1, 0, -1},
    {"GarbageFallsBack", u"abc", -1, -1, -1},
    {"LocaleCommaNotAccepted", u"1,5", -1, -1, -1},
    {"ExponentAccepted", u"1e3", -1, 1000, -1},
    {"SpacesAroundFloat", u" 2 ", 2, 2, -1},
    {"TwoPoints", u"1.2.3", -1, -1, -1},
    {"FloatOverflowFallsBack", u"1e400", -1, -1, -1},
    {"LeadingZeros", u"007", 7, 7, 7},
    {"HexReadsAsInteger", u"$10", 16, -1, 16},
};

class ReadValueTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadValueTest, ReadsOrFallsBack) {
  const ReadCase& c = GetParam();
  const QString text = QString::fromUtf16(c.text);
  EXPECT_EQ(ReadAdvValue(text, -1), c.adv);
  EXPECT_EQ(ReadAdvFloatValue(text, -1), c.advFloat);
  EXPECT_EQ(ReadSpinValue(text, -1), c.spin);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadValueTest, testing::ValuesIn(kReads),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpinLimits, EachKindHasItsOwnOffRule) {
  // TAdvSpinEdit integer limits: off only when both are 0.
  EXPECT_EQ(ClampAdvInt(-5, 0, 0), -5);
  EXPECT_EQ(ClampAdvInt(5, 1, 4), 4);
  EXPECT_EQ(ClampAdvInt(0, 1, 4), 1);
  EXPECT_EQ(ClampAdvInt(3, 3, 3), 3);
  EXPECT_EQ(ClampAdvInt(9, 3, 3), 3);
  // Float and TSpinEdit limits: off when equal, whatever the value.
  EXPECT_EQ(ClampAdvFloat(-1e9, 5, 5), -1e9);
  EXPECT_EQ(ClampAdvFloat(2.5, 0, 1), 1);
  EXPECT_EQ(ClampSpinInt(150, 200, 200000), 200);
  EXPECT_EQ(ClampSpinInt(-100, 50, 50), -100);
  EXPECT_TRUE(OutsideIntLimits(2000, 0, 1023, true));
  EXPECT_FALSE(OutsideIntLimits(2000, 0, 0, true));
  EXPECT_FALSE(OutsideIntLimits(-1, 5, 5, false));
  EXPECT_TRUE(OutsideIntLimits(150, 200, 200000, false));
}

TEST(SpinLimits, StepSaturatesInsteadOfWrapping) {
  EXPECT_EQ(AddIntStep(INT32_MAX, 10), INT32_MAX);
  EXPECT_EQ(AddIntStep(INT32_MIN, -1), INT32_MIN);
  EXPECT_EQ(AddIntStep(5, -10), -5);
}

struct CharCase {
  const char* name;
  bool spinEdit;  // TSpinEdit instead of TAdvSpinEdit
  TSpinType mode;
  int precision;
  const char16_t* text;
  int caret;
  int selLength;
  char16_t ch;
  char16_t thousands;
  TCharVerdict verdict;
  char16_t inserted;  // 0: the typed character itself
};

constexpr auto A = TCharVerdict::Accept;
constexpr auto I = TCharVerdict::Ignore;
constexpr auto R = TCharVerdict::Refuse;

const CharCase kChars[] = {
    {"IntDigit", false, sptNormal, 7, u"12", 2, 0, u'5', u',', A, 0},
    {"IntUnicodeDigit", false, sptNormal, 7, u"12", 2, 0, u'\u0663', u',', A, 0},
    {"IntLetter", false, sptNormal, 7, u"12", 2, 0, u'a', u',', R, 0},
    {"IntPoint", false, sptNormal, 7, u"12", 2, 0, u'.', u',', R, 0},
    {"IntThousandsSeparator", false, sptNormal, 7, u"12", 2, 0, u',', u',', R, 0},
    {"IntBlank", false, sptNormal, 7, u"12", 2, 0, u' ', u',', R, 0},
    {"IntPlusSilent", false, sptNormal, 7, u"12", 2, 0, u'+', u',', I, 0},
    {"IntMinusSilent", false, sptNormal, 7, u"12", 2, 0, u'-', u',', I, 0},
    {"IntReturnSilent", false, sptNormal, 7, u"12", 2, 0, u'\r', u',', I, 0},
    {"IntBackspace", false, sptNormal, 7, u"12", 2, 0, u'\b', u',', A, 0},
    {"FloatFullDecimalsRefuseDigit", false, sptFloat, 7, u"0.1234567", 9, 0, u'5', u',', R, 0},
    {"FloatFullDecimalsRefuseMinus", false, sptFloat, 7, u"0.1234567", 9, 0, u'-', u',', R, 0},
    {"FloatFullDecimalsRefusePaste", false, sptFloat, 7, u"0.1234567", 9, 0, 0x16, u',', R, 0},
    {"FloatFullDecimalsBackspace", false, sptFloat, 7, u"0.1234567", 9, 0, u'\b', u',', A, 0},
    {"FloatFullDecimalsEscape", false, sptFloat, 7, u"0.1234567", 9, 0, 27, u',', A, 0},
    {"FloatDigitBeforePoint", false, sptFloat, 7, u"0.1234567", 1, 0, u'5', u',', A, 0},
    {"FloatDigitWithSelection", false, sptFloat, 7, u"0.1234567", 8, 1, u'5', u',', A, 0},
    {"FloatShortDecimals", false, sptFloat, 7, u"0.12", 4, 0, u'5', u',', A, 0},
    {"FloatMinusSilent", false, sptFloat, 7, u"0.12", 4, 0, u'-', u',', I, 0},
    {"FloatSecondPoint", false, sptFloat, 7, u"0.5", 3, 0, u'.', u',', R, 0},
    {"FloatPointOverAll", false, sptFloat, 7, u"0.5", 0, 3, u'.', u',', A, 0},
    {"FloatPointIntoEmpty", false, sptFloat, 7, u"", 0, 0, u'.', u',', A, 0},
    {"FloatPointPrecisionZero", false, sptFloat, 0, u"5", 1, 0, u'.', u',', R, 0},
    {"FloatEnglishCommaIsPoint", false, sptFloat, 7, u"5", 1, 0, u',', u',', A, u'.'},
    {"FloatGermanPointIsPoint", false, sptFloat, 7, u"5", 1, 0, u'.', u'.', A, u'.'},
    {"FloatGermanCommaRefused", false, sptFloat, 7, u"5", 1, 0, u',', u'.', R, 0},
    {"FloatCommaAfterPointRefused", false, sptFloat, 7, u"5.1", 3, 0, u',', u',', R, 0},
    {"FloatTimeSeparator", false, sptFloat, 7, u"5", 1, 0, u':', u',', R, 0},
    {"FloatExponentLetter", false, sptFloat, 7, u"5", 1, 0, u'e', u',', R, 0},
    {"FloatPlusSilent", false, sptFloat, 7, u"5", 1, 0, u'+', u',', I, 0},
    {"FloatReturnSilent", false, sptFloat, 7, u"0.1234567", 9, 0, u'\r', u',', I, 0},
    {"SpinDigit", true, sptNormal, 0, u"1", 1, 0, u'5', 0, A, 0},
    {"SpinPointAllowed", true, sptNormal, 0, u"1", 1, 0, u'.', 0, A, 0},
    {"SpinMinusAllowed", true, sptNormal, 0, u"1", 1, 0, u'-', 0, A, 0},
    {"SpinPlusAllowed", true, sptNormal, 0, u"1", 1, 0, u'+', 0, A, 0},
    {"SpinLetter", true, sptNormal, 0, u"1", 1, 0, u'a', 0, R, 0},
    {"SpinReturnBeeps", true, sptNormal, 0, u"1", 1, 0, u'\r', 0, R, 0},
    {"SpinUnicodeDigitRefused", true, sptNormal, 0, u"1", 1, 0, u'\u0663', 0, R, 0},
    {"SpinBackspace", true, sptNormal, 0, u"1", 1, 0, u'\b', 0, A, 0},
};

class CharRuleTest : public testing::TestWithParam<CharCase> {};

TEST_P(CharRuleTest, Judges) {
  const CharCase& c = GetParam();
  const TSpinEditState state{QString::fromUtf16(c.text), c.caret, c.selLength};
  const TCharResult r = c.spinEdit
                            ? SpinCharRule(QChar(c.ch))
                            : AdvCharRule(QChar(c.ch), c.mode, c.precision, false, state,
                                          c.thousands ? QChar(c.thousands) : QChar());
  EXPECT_EQ(int(r.Verdict), int(c.verdict));
  if (c.verdict == A) {
    EXPECT_EQ(r.Char, QChar(c.inserted ? c.inserted : c.ch));
  }
  EXPECT_FALSE(r.ToggleSign);
}

INSTANTIATE_TEST_SUITE_P(Table, CharRuleTest, testing::ValuesIn(kChars),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SignToggle, OnlySignedFieldsToggleAndCaretFollows) {
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

struct ButtonSelCase {
  const char* name;
  const char* before;
  const char* after;
  TSpinSelection sel;
  TSpinSelection expected;
};

const ButtonSelCase kButtonSels[] = {
    {"MinusAppearsShiftsRightAndSelectsToEnd", "0.0000000", "-0.0000100", {0, 9}, {1, 9}},
    {"SameLengthKeepsCaret", "5", "6", {1, 0}, {1, 0}},
    {"SameLengthKeepsSelection", "12", "13", {0, 2}, {0, 2}},
    {"LongerSelectsCaretToEnd", "9", "10", {1, 0}, {1, 1}},
    {"MinusVanishesShiftsLeft", "-0.0000100", "0.0000000", {1, 0}, {0, 9}},
    {"ShorterKeepsCaretInside", "-1", "0", {2, 0}, {1, 0}},
};

class ButtonSelectionTest : public testing::TestWithParam<ButtonSelCase> {};

TEST_P(ButtonSelectionTest, Follows) {
  const ButtonSelCase& c = GetParam();
  EXPECT_EQ(SelectionAfterButtonStep(QString::fromLatin1(c.before), QString::fromLatin1(c.after),
                                     c.sel),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ButtonSelectionTest, testing::ValuesIn(kButtonSels),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyStepSelection, FitsTheOldSelectionIntoTheNewText) {
  EXPECT_EQ(SelectionAfterKeyStep(QStringLiteral("10"), {1, 0}), (TSpinSelection{1, 0}));
  EXPECT_EQ(SelectionAfterKeyStep(QStringLiteral("10"), {5, 0}), (TSpinSelection{2, 0}));
  EXPECT_EQ(SelectionAfterKeyStep(QStringLiteral("10"), {1, 5}), (TSpinSelection{1, 1}));
}

}  // namespace
