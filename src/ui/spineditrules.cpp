#include "ui/spineditrules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "globals/numtext.h"

namespace {

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();

bool IsAsciiDigit(char32_t c) { return c >= u'0' && c <= u'9'; }

// The general form with 4 significant digits: rounded, then written like any number text.
QString GeneralText(double value) {
  char buf[48];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 3);
  double rounded = value;
  std::from_chars(buf, res.ptr, rounded);
  return FormatNumber(rounded);
}

}  // namespace

QString SpinIntText(int32_t value) { return QString::number(value); }

QString SpinFloatText(double value, int precision) {
  if (precision == 0 || !std::isfinite(value)) return FormatNumber(value);
  if (precision < 0) return GeneralText(value);
  // Fixed notation would need more than 15 integer digits: the exponent form takes over.
  if (std::fabs(value) >= 1e15) return FormatNumber(value);
  return FieldFixedText(value, precision);
}

bool TryReadSpinInt(QStringView text, int32_t& value) { return TryReadInt32(text, value); }

bool TryReadSpinFloat(QStringView text, double& value) {
  if (TryReadNumber(text, value)) return true;
  // Beyond the number text a field takes a point without any digit for zero ("-.", ".E5"):
  // spaces, optional sign, the point, an optional well-formed exponent, spaces.
  qsizetype i = 0, end = text.size();
  while (i < end && text[i] == u' ') ++i;
  while (end > i && text[end - 1] == u' ') --end;
  const bool negative = i < end && text[i] == u'-';
  if (i < end && (negative || text[i] == u'+')) ++i;
  if (i == end || text[i++] != u'.') return false;
  if (i < end && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) ++i;
    const qsizetype expStart = i;
    while (i < end && IsAsciiDigit(text[i].unicode())) ++i;
    if (i == expStart) return false;
  }
  if (i != end) return false;
  value = negative ? -0.0 : 0.0;
  return true;
}

int32_t ReadAdvValue(QStringView text, int32_t minValue) {
  const QStringView trimmed = TrimControls(text);
  if (trimmed.isEmpty()) return 0;
  int32_t value = 0;
  return TryReadSpinInt(trimmed, value) ? value : minValue;
}

double ReadAdvFloatValue(QStringView text, int32_t minValue) {
  if (TrimControls(text).isEmpty()) return 0.0;
  double value = 0;
  return TryReadSpinFloat(text, value) ? value : double(minValue);
}

int32_t ReadSpinValue(QStringView text, int32_t minValue) {
  int32_t value = 0;
  return TryReadSpinInt(text, value) ? value : minValue;
}

namespace {
template <class T>
T ClampBoth(T value, T minValue, T maxValue) {
  if (value < minValue) return minValue;
  if (value > maxValue) return maxValue;
  return value;
}
}  // namespace

int32_t ClampAdvInt(int32_t value, int32_t minValue, int32_t maxValue) {
  if (minValue == 0 && maxValue == 0) return value;
  return ClampBoth(value, minValue, maxValue);
}

double ClampAdvFloat(double value, double minValue, double maxValue) {
  if (minValue == maxValue) return value;
  return ClampBoth(value, minValue, maxValue);
}

int32_t ClampSpinInt(int32_t value, int32_t minValue, int32_t maxValue) {
  if (minValue == maxValue) return value;
  return ClampBoth(value, minValue, maxValue);
}

bool OutsideIntLimits(int32_t value, int32_t minValue, int32_t maxValue, bool zeroZeroOff) {
  const bool off = zeroZeroOff ? (minValue == 0 && maxValue == 0) : minValue == maxValue;
  if (off) return false;
  return value < minValue || value > maxValue;
}

int32_t AddIntStep(int32_t value, int64_t step) {
  const int64_t sum = int64_t(value) + step;
  return int32_t(std::clamp<int64_t>(sum, kIntMin, kIntMax));
}

namespace {

bool IsReturn(char32_t ch) { return ch == u'\r' || ch == u'\n'; }

bool IsAcceptedControl(char32_t ch) { return ch < 32 && ch != u'\r'; }

// The floating-point checks, in their order; ch is already mapped from the thousands separator.
bool FloatCharAllowed(char32_t ch, int precision, const TSpinEditState& s) {
  const qsizetype dotPos = s.Text.indexOf(u'.');
  if (ch == u'.') {
    const bool allSelected = s.SelLength > 0 && s.SelLength >= s.Text.size();
    if (!allSelected && (dotPos >= 0 || precision == 0)) return false;
  }
  // A full set of decimals behind the caret refuses anything, control characters included.
  if (precision > 0 && dotPos >= 0 && s.Caret > dotPos && s.SelLength == 0 &&
      s.Text.size() - dotPos - 1 >= precision)
    return false;
  return QChar::isNumber(ch) || ch == u'.' || ch == u'-' || IsAcceptedControl(ch);
}

}  // namespace

TCharResult AdvCharRule(char32_t ch, TSpinType mode, int precision, bool isSigned,
                        const TSpinEditState& state, QChar thousandsSep) {
  if (ch == u'+' || ch == u'\r') return {TCharVerdict::Ignore, ch, false};
  const bool minus = ch == u'-';
  bool allowed = false;
  if (mode == sptFloat) {
    const bool exempt = ch == 27 || ch == 8;
    const char32_t mapped = (!thousandsSep.isNull() && ch == thousandsSep.unicode()) ? U'.' : ch;
    allowed = exempt || FloatCharAllowed(mapped, precision, state);
    ch = mapped;
  } else {
    // "-" passes the integer checks: it never inserts and only toggles the sign.
    allowed = minus || QChar::isNumber(ch) || IsAcceptedControl(ch);
  }
  if (minus) return {allowed ? TCharVerdict::Ignore : TCharVerdict::Refuse, ch, isSigned};
  return {allowed ? TCharVerdict::Accept : TCharVerdict::Refuse, ch, false};
}

TCharResult SpinCharRule(char32_t ch) {
  const bool allowed = IsAsciiDigit(ch) || ch == u'+' || ch == u'-' || ch == u'.' ||
                       (ch < 32 && !IsReturn(ch));
  return {allowed ? TCharVerdict::Accept : TCharVerdict::Refuse, ch, false};
}

TSpinEditState ToggleSign(const TSpinEditState& state) {
  TSpinEditState out = state;
  if (state.Text.startsWith(u'-')) {
    out.Text.remove(0, 1);
    out.Caret = std::max(0, state.Caret - 1);
  } else {
    out.Text.prepend(u'-');
    out.Caret = state.Caret + 1;
  }
  out.SelLength = std::min<int>(state.SelLength, int(out.Text.size()) - out.Caret);
  return out;
}

TSpinSelection SelectionAfterKeyStep(const QString& after, TSpinSelection before) {
  const int size = int(after.size());
  const int start = std::clamp(before.Start, 0, size);
  return {start, std::clamp(before.Length, 0, size - start)};
}

TSpinSelection SelectionAfterButtonStep(const QString& before, const QString& after,
                                        TSpinSelection selection) {
  const bool minusBefore = before.contains(u'-');
  const bool minusAfter = after.contains(u'-');
  int start = selection.Start;
  if (!minusBefore && minusAfter) ++start;
  if (minusBefore && !minusAfter) --start;
  const int size = int(after.size());
  start = std::clamp(start, 0, size);
  if (after.size() != before.size()) return {start, size - start};
  return {start, std::clamp(selection.Length, 0, size - start)};
}
