#include "ui/timestamp.h"

#include <algorithm>

namespace {

// One field or literal of a Qt time pattern: a run of one pattern letter, or literal text.
struct TPatternToken {
  QChar Letter;  // the pattern letter, or a null char for literal text
  int Length = 0;
  QString Literal;
};

bool IsPatternLetter(QChar c) {
  return QStringLiteral("hHmszaApPt").contains(c);
}

// Reads the quoted literal starting at pos (on the opening quote); '' inside quotes is a quote.
QString ReadQuoted(const QString& pattern, qsizetype& pos) {
  QString text;
  ++pos;
  while (pos < pattern.size()) {
    if (pattern[pos] != u'\'') {
      text += pattern[pos++];
      continue;
    }
    if (pos + 1 < pattern.size() && pattern[pos + 1] == u'\'') {
      text += u'\'';
      pos += 2;
      continue;
    }
    ++pos;
    break;
  }
  return text;
}

// Splits a Qt time pattern into letter runs and literal text, so that quoted text never counts
// as a field.
QList<TPatternToken> Tokenize(const QString& pattern) {
  QList<TPatternToken> tokens;
  qsizetype pos = 0;
  while (pos < pattern.size()) {
    const QChar c = pattern[pos];
    if (IsPatternLetter(c)) {
      qsizetype end = pos;
      while (end < pattern.size() && pattern[end] == c) ++end;
      tokens.append({c, int(end - pos), {}});
      pos = end;
      continue;
    }
    QString literal = c == u'\'' ? ReadQuoted(pattern, pos) : QString(pattern[pos++]);
    if (!tokens.isEmpty() && tokens.last().Letter.isNull()) {
      tokens.last().Literal += literal;
    } else {
      tokens.append({QChar(), 0, literal});
    }
  }
  return tokens;
}

qsizetype IndexOfLetters(const QList<TPatternToken>& tokens, const QString& letters) {
  for (qsizetype i = 0; i < tokens.size(); ++i) {
    if (!tokens[i].Letter.isNull() && letters.contains(tokens[i].Letter)) return i;
  }
  return -1;
}

bool HasLetterOrDigit(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); });
}

// The literal between the hour and the minutes, without blanks around it; ":" when none. Some
// patterns write units instead of a separator ("9시 5분", "9時05分"); one separator cannot
// stand for those, so such locales also get ":".
QString SeparatorAfter(const QList<TPatternToken>& tokens, qsizetype hour) {
  if (hour < 0 || hour + 1 >= tokens.size()) return QStringLiteral(":");
  const QString sep = tokens[hour + 1].Literal.trimmed();
  return sep.isEmpty() || HasLetterOrDigit(sep) ? QStringLiteral(":") : sep;
}

QString TwoDigits(int value) {
  return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

}  // namespace

TLongTimeFormat LongTimeFormatOf(const QLocale& locale) {
  const QList<TPatternToken> tokens = Tokenize(locale.timeFormat(QLocale::LongFormat));
  const qsizetype hour = IndexOfLetters(tokens, QStringLiteral("hH"));
  const qsizetype marker = IndexOfLetters(tokens, QStringLiteral("aApP"));
  TLongTimeFormat format;
  format.TwelveHour = marker >= 0;
  format.MarkerFirst = format.TwelveHour && hour >= 0 && marker < hour;
  format.LeadingZero = hour >= 0 && tokens[hour].Length >= 2;
  format.Separator = SeparatorAfter(tokens, hour);
  if (!locale.amText().isEmpty()) format.AmText = locale.amText();
  if (!locale.pmText().isEmpty()) format.PmText = locale.pmText();
  return format;
}

QString FormatTimeStamp(const QTime& time, const TLongTimeFormat& format) {
  int hour = time.hour();
  if (format.TwelveHour) {
    // Midnight and noon are hour 12 on a 12-hour clock.
    hour = hour % 12 == 0 ? 12 : hour % 12;
  }
  QString stamp = format.LeadingZero ? TwoDigits(hour) : QString::number(hour);
  stamp += format.Separator + TwoDigits(time.minute()) + format.Separator + TwoDigits(time.second());
  if (!format.TwelveHour) return stamp;
  const QString& marker = time.hour() < 12 ? format.AmText : format.PmText;
  return format.MarkerFirst ? marker + u' ' + stamp : stamp + u' ' + marker;
}
