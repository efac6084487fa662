#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The facts of the user's long time format that a log time stamp needs: the clock kind, where
// the day-period marker stands, whether hours get a leading zero, the separator between hours,
// minutes and seconds, and the morning and afternoon strings.
struct TLongTimeFormat {
  bool TwelveHour = false;   // hours run 1 to 12 with a day-period marker
  bool MarkerFirst = false;  // the marker stands before the time (only with TwelveHour)
  bool LeadingZero = true;   // hours below 10 are written with two digits
  QString Separator = QStringLiteral(":");
  QString AmText = QStringLiteral("am");
  QString PmText = QStringLiteral("pm");
};

// Reads the long time format facts of a locale from its long time pattern and its day-period
// strings. A pattern without separator gives ":", empty day-period strings give "am"/"pm".
TLongTimeFormat LongTimeFormatOf(const QLocale& locale);

// Formats a time of day as a log time stamp: optional "AMPM " prefix, hour ("h" or "hh"),
// separator, two-digit minutes, separator, two-digit seconds, optional " AMPM" suffix, where
// AMPM is the morning or afternoon string. Fractions of a second are not shown.
QString FormatTimeStamp(const QTime& time, const TLongTimeFormat& format);
