#include "protocol/taggedvalue.h"

#include "globals/numtext.h"

namespace {

// Characters that may make up the trailing number of an answer line.
bool IsNumberChar(QChar c) {
  return (c >= u'0' && c <= u'9') || c == u'-' || c == u'+' || c == u'.';
}

}  // namespace

bool ParseTaggedValue(const QString& line, const QString& tag, double& value) {
  // The scan deliberately starts at the trimmed length but reads the untrimmed line: for the
  // board's lines (optionally led by one LF) this lands on or just before the last digit.
  const qsizetype n = TrimControls(line).size();
  if (!line.contains(tag)) return false;

  qsizetype i = n;  // 1-based position; the character at i is line[i - 1]
  while (i >= 1 && IsNumberChar(line[i - 1])) --i;

  const QStringView text = TrimControls(QStringView(line).mid(i));
  if (text.isEmpty()) return false;
  value = ReadNumber(text);
  return true;
}
