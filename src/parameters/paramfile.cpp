#include "parameters/paramfile.h"

#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "parameters/profile.h"

namespace {

int HexDigit(QChar c) {
  if (c >= u'0' && c <= u'9') return c.unicode() - u'0';
  if (c >= u'a' && c <= u'f') return c.unicode() - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c.unicode() - u'A' + 10;
  return -1;
}

// Length of a hexadecimal prefix at the start of text, 0 when there is none.
qsizetype HexPrefixLength(QStringView text) {
  if (text.startsWith(u"0x") || text.startsWith(u"0X")) return 2;
  if (text.startsWith(u'$') || text.startsWith(u'x') || text.startsWith(u'X')) return 1;
  return 0;
}

// Reads digits of the given base; false when there are none, another character follows or
// the magnitude exceeds limit.
bool ReadDigits(QStringView digits, int base, uint64_t limit, uint64_t& magnitude) {
  if (digits.isEmpty()) return false;
  uint64_t result = 0;
  for (QChar c : digits) {
    const int d = HexDigit(c);
    if (d < 0 || d >= base) return false;
    result = result * uint64_t(base) + uint64_t(d);
    if (result > limit) return false;
  }
  magnitude = result;
  return true;
}

}  // namespace

QString FloatKeyText(double value) { return FormatNumber(value); }

QString IntKeyText(int32_t value) { return QString::number(value); }

bool ReadFloatKey(QStringView text, double& value) {
  if (text.isEmpty()) return false;
  return TryReadNumber(text, value);
}

bool ReadIntKey(QStringView text, int32_t& value) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  QStringView rest = text.mid(i);
  const bool negative = rest.startsWith(u'-');
  if (negative || rest.startsWith(u'+')) rest = rest.mid(1);

  uint64_t magnitude = 0;
  const qsizetype prefix = HexPrefixLength(rest);
  if (prefix > 0) {
    if (!ReadDigits(rest.mid(prefix), 16, 0xFFFFFFFFull, magnitude)) return false;
    // Hexadecimal gives a 32-bit pattern; a sign negates it with wrap-around.
    const uint32_t bits = negative ? uint32_t(0u - uint32_t(magnitude)) : uint32_t(magnitude);
    value = int32_t(bits);
    return true;
  }
  const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  if (!ReadDigits(rest, 10, limit, magnitude)) return false;
  value = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
  return true;
}

TParamFileValues DefaultParamFileValues() {
  TParamFileValues values;
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    values[k].IsFloat = table[k].FileFloat;
    values[k].Float = table[k].FileDefault;
    values[k].Int = int32_t(table[k].FileDefault);
  }
  return values;
}

void WriteParamFile(const QString& fileName, const TParamFileValues& values) {
  TProfileFile file(fileName);
  const QString section = QString::fromLatin1(kParamSection);
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    const TParamRow& row = table[k];
    const QString text = row.FileFloat ? FloatKeyText(values[k].Float)
                                       : IntKeyText(values[k].Int);
    file.WriteString(section, QString::fromLatin1(row.FileKey), text);
  }
  file.UpdateFile();
}

TParamFileValues ReadParamFile(const QString& fileName) {
  TParamFileValues values = DefaultParamFileValues();
  TProfileFile file(fileName);
  const QString section = QString::fromLatin1(kParamSection);
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    const QString text = file.ReadString(section, QString::fromLatin1(table[k].FileKey), {});
    // A failed read leaves the default in place.
    if (table[k].FileFloat)
      ReadFloatKey(text, values[k].Float);
    else
      ReadIntKey(text, values[k].Int);
  }
  return values;
}
