// Fuzzes the number reader and the answer-line parser with arbitrary text. Beyond "no crash",
// it checks properties that must hold for every input: a number that reads is finite and
// survives a write/read round trip; the parser raises only conversion errors.
#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "globals/errors.h"
#include "globals/numtext.h"
#include "protocol/taggedvalue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
  double value = 0;
  if (TryReadNumber(text, value)) {
    if (!std::isfinite(value)) std::abort();
    double back = 0;
    if (!TryReadNumber(FormatNumber(value), back)) std::abort();
  }
  // The first byte picks the tag's length, taken from the text itself or a fixed tag.
  const qsizetype tagLength = size > 0 ? data[0] % 8 : 0;
  const QString tag = size > 0 && data[0] & 0x80 ? text.mid(1, tagLength) : QStringLiteral("(p)");
  try {
    double parsed = 0;
    if (ParseTaggedValue(text, tag, parsed) && !std::isfinite(parsed)) std::abort();
  } catch (const EConvertError&) {
  }
  return 0;
}
