#include "globals/numtext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "globals/errors.h"

namespace {

// Lays out "d.ddde[+-]xx" (std::to_chars' scientific form) as number text: fixed notation for
// magnitudes 1E-4 up to below 1E15, else "d.dddE-x"; no trailing zeros.
// The text is laid out in a buffer on the stack: numbers are written by the thousand (a run's
// samples), and one allocation per number, the result's, is what that costs.
QString LayoutScientific(std::string_view sci) {
  const bool negative = sci[0] == '-';
  size_t pos = negative ? 1 : 0;
  char digits[32];  // to_chars gives at most 17 significant digits of a double
  int n = 0;
  for (; pos < sci.size() && sci[pos] != 'e'; ++pos)
    if (sci[pos] != '.' && n < int(sizeof digits)) digits[n++] = sci[pos];
  size_t expAt = pos + 1;  // value = d.ddd x 10^exp10
  if (expAt < sci.size() && sci[expAt] == '+') ++expAt;
  int exp10 = 0;
  std::from_chars(sci.data() + std::min(expAt, sci.size()), sci.data() + sci.size(), exp10);
  while (n > 1 && digits[n - 1] == '0') --n;

  const int e = exp10 + 1;  // value = 0.ddd x 10^e
  char out[80];
  int len = 0;
  const auto put = [&](char c, int count = 1) {
    for (int k = 0; k < count; ++k) out[len++] = c;
  };
  const auto putDigits = [&](int from, int to) {
    for (int k = from; k < to; ++k) out[len++] = digits[k];
  };
  if (negative) put('-');
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      put('0');
      put('.');
      put('0', -e);
      putDigits(0, n);
    } else if (n <= e) {
      putDigits(0, n);
      put('0', e - n);
    } else {
      putDigits(0, e);
      put('.');
      putDigits(e, n);
    }
  } else {
    putDigits(0, 1);
    if (n > 1) {
      put('.');
      putDigits(1, n);
    }
    put('E');
    len = int(std::to_chars(out + len, out + sizeof out, e - 1).ptr - out);
  }
  return QString::fromLatin1(out, len);
}

// Returns the text of a value that is no finite, non-zero number, "" for one that is.
QString SpecialText(double value) {
  if (value == 0) return QStringLiteral("0");
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
  return QString();
}

}  // namespace

QString FormatNumber(double value) {
  if (const QString special = SpecialText(value); !special.isEmpty()) return special;
  // d.dddddddddddddde[+-]xx: 15 significant digits, correctly rounded.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  return LayoutScientific(std::string_view(buf, size_t(res.ptr - buf)));
}

QString ExactNumberText(double value) {
  if (const QString special = SpecialText(value); !special.isEmpty()) return special;
  // Without a precision to_chars gives the fewest digits that read back to the same double.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  return LayoutScientific(std::string_view(buf, size_t(res.ptr - buf)));
}

namespace {
bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

int HexDigit(QChar c) {
  if (IsDigit(c)) return c.unicode() - u'0';
  if (c >= u'a' && c <= u'f') return c.unicode() - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c.unicode() - u'A' + 10;
  return -1;
}

// Reads the exponent digits of a checked number text, saturating far beyond any double.
long long ExponentOf(const std::string& ascii, std::string::size_type e) {
  if (e == std::string::npos) return 0;
  long long exponent = 0;
  const bool negative = ascii[e + 1] == '-';
  for (auto k = e + 1; k < ascii.size(); ++k) {
    if (ascii[k] < '0' || ascii[k] > '9') continue;
    exponent = std::min<long long>(exponent * 10 + (ascii[k] - '0'), 1000000000LL);
  }
  return negative ? -exponent : exponent;
}

// Whether a checked, non-zero number text is below 1 in magnitude: the value is
// 0.d1d2... x 10^m with m = (digits before the point, leading zeros dropped) + exponent, or
// minus the zeros after the point when the integer part is zero.
bool BelowOne(const std::string& ascii) {
  const auto e = ascii.find('e');
  const std::string mantissa = ascii.substr(0, e);
  const auto point = std::min(mantissa.find('.'), mantissa.size());
  const auto first = mantissa.find_first_of("123456789");
  if (first == std::string::npos) return true;  // zero digits only
  const long long m = first < point ? (long long)(point - first)
                                    : -(long long)(first - point - 1);
  return m + ExponentOf(ascii, e) <= 0;
}
}  // namespace

bool TryReadNumber(QStringView text, double& value) {
  qsizetype i = 0;
  const qsizetype len = text.size();
  while (i < len && text[i] == u' ') ++i;
  qsizetype end = len;
  while (end > i && text[end - 1] == u' ') --end;

  // Check the grammar and collect an ASCII copy for from_chars (which takes no "+").
  std::string ascii;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') ascii += '-';
    ++i;
  }
  int mantissaDigits = 0;
  while (i < end && IsDigit(text[i])) { ascii += char(text[i].unicode()); ++i; ++mantissaDigits; }
  if (i < end && text[i] == u'.') {
    ascii += '.';
    ++i;
    while (i < end && IsDigit(text[i])) { ascii += char(text[i].unicode()); ++i; ++mantissaDigits; }
  }
  if (mantissaDigits == 0) return false;
  if (i < end && (text[i] == u'e' || text[i] == u'E')) {
    ascii += 'e';
    ++i;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) { ascii += char(text[i].unicode()); ++i; }
    int expDigits = 0;
    while (i < end && IsDigit(text[i])) { ascii += char(text[i].unicode()); ++i; ++expDigits; }
    if (expDigits == 0) return false;
  }
  if (i != end) return false;

  double parsed = 0;
  auto res = std::from_chars(ascii.data(), ascii.data() + ascii.size(), parsed);
  if (res.ptr != ascii.data() + ascii.size()) return false;
  if (res.ec == std::errc::result_out_of_range) {
    // from_chars leaves the result untouched here, so tell underflow from overflow by the
    // text's magnitude: too small for a double reads as zero; too large is not a number.
    if (!BelowOne(ascii)) return false;
    parsed = ascii[0] == '-' ? -0.0 : 0.0;
  } else if (res.ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

double ReadNumber(QStringView text) {
  double value = 0;
  if (!TryReadNumber(text, value))
    throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
  return value;
}

bool TryReadInt32(QStringView text, int32_t& value) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';

  bool hex = false;
  if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return false;

  // Hexadecimal covers the 32 bits as a pattern and a sign negates it with wrap-around;
  // decimal must fit the signed range, with one more unit on the negative side.
  const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t acc = 0;
  for (; i < n; ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0 || d >= (hex ? 16 : 10)) return false;
    acc = acc * (hex ? 16 : 10) + uint64_t(d);
    if (acc > limit) return false;
  }
  value = int32_t(negative ? 0u - uint32_t(acc) : uint32_t(acc));
  return true;
}

int32_t RoundToInt32(double value) {
  if (std::isnan(value)) return 0;
  const double r = RoundHalfEven(value);
  if (r <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (r >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return int32_t(r);
}

QStringView TrimControls(QStringView text) {
  qsizetype b = 0, e = text.size();
  while (b < e && text[b].unicode() <= 32) ++b;
  while (e > b && text[e - 1].unicode() <= 32) --e;
  return text.mid(b, e - b);
}

namespace {

// Adds one to a string of decimal digits, growing it on a carry out of the first digit.
void IncrementDigits(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return;
    }
    *it = '0';
  }
  digits.insert(digits.begin(), '1');
}

}  // namespace

QString FixedNumberText(double value, int decimals) {
  if (std::isfinite(value) && std::fabs(value) >= 1e15) return FormatNumber(value);
  return QString::number(value, 'f', decimals);
}

// The value is first written with 18 significant digits and the rounding decision is taken on
// that decimal form: a first dropped digit of 5 or more rounds the magnitude up (0.125 with 2
// decimals is 0.13; 1.005, held as 1.00499999999999989, is 1.00).
QString FieldFixedText(double value, int precision) {
  char buf[48];
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                           std::chars_format::scientific, 17);
  const std::string sci(buf, res.ptr);
  std::string digits = sci.substr(0, 1) + sci.substr(2, 17);
  const int e = std::stoi(sci.substr(sci.find('e') + 1)) + 1;  // value = 0.digits x 10^e

  // Digits kept: those down to the last decimal, but never more than 15 significant ones.
  const int kept = std::min(15, e + precision);
  std::string k;
  if (kept < 0) {
    k = "0";
  } else {
    k = kept == 0 ? "0" : digits.substr(0, size_t(kept));
    if (digits[size_t(kept)] >= '5') IncrementDigits(k);
  }
  // The result is k x 10^(e - kept); shift it to an integer count of 10^-precision units.
  std::string units = k;
  if (k.find_first_not_of('0') == std::string::npos) {
    units = "0";
  } else {
    units.append(size_t(e - kept + precision), '0');
  }
  const bool isZero = units == "0";
  if (units.size() < size_t(precision) + 1)
    units.insert(0, size_t(precision) + 1 - units.size(), '0');
  units.insert(units.size() - size_t(precision), 1, '.');
  if (std::signbit(value) && !isZero) units.insert(0, 1, '-');
  return QString::fromLatin1(units.data(), qsizetype(units.size()));
}
