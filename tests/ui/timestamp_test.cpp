// Log time stamps in the user's long time format, and the facts of that format in a locale.
#include <QTest>

#include "ui/timestamp.h"

class TTimeStampTest : public QObject {
  Q_OBJECT

 private slots:
  void FormatsStamp() {
    const struct {
      bool Twelve, MarkerFirst, Zero;
      const char* Separator;
      QTime Time;
      const char* Stamp;
    } rows[] = {
        {false, false, true, ":", {9, 5, 7}, "09:05:07"},
        {false, false, true, ":", {23, 59, 59}, "23:59:59"},
        {false, false, true, ":", {0, 0, 0}, "00:00:00"},
        {true, false, false, ":", {0, 30, 0}, "12:30:00 am"},
        {true, false, false, ":", {12, 0, 0}, "12:00:00 pm"},
        {true, true, false, ":", {21, 5, 7}, "pm 9:05:07"},
        {true, false, true, ":", {14, 5, 7}, "02:05:07 pm"},
        {false, false, true, ".", {9, 5, 7, 999}, "09.05.07"},  // fractions dropped
    };
    for (const auto& r : rows) {
      const TLongTimeFormat format{r.Twelve, r.MarkerFirst, r.Zero, QLatin1String(r.Separator)};
      QCOMPARE(FormatTimeStamp(r.Time, format), QLatin1String(r.Stamp));
    }
  }

  void ReadsLocaleFacts() {
    const struct {
      const char* Locale;
      bool Twelve, MarkerFirst, Zero;
      const char* Separator;
    } rows[] = {
        {"en_US", true, false, false, ":"}, {"de_DE", false, false, true, ":"},
        {"fi_FI", false, false, false, "."}, {"ko_KR", true, true, false, ":"},
        {"ja_JP", false, false, false, ":"},  // unit words are no separator
    };
    for (const auto& r : rows) {
      const QLocale locale{QLatin1String(r.Locale)};
      const TLongTimeFormat f = LongTimeFormatOf(locale);
      QVERIFY2(f.TwelveHour == r.Twelve && f.MarkerFirst == r.MarkerFirst, r.Locale);
      QVERIFY2(f.LeadingZero == r.Zero && f.Separator == QLatin1String(r.Separator), r.Locale);
      QVERIFY2(f.AmText == locale.amText() && f.PmText == locale.pmText(), r.Locale);
    }
  }
};

QTEST_APPLESS_MAIN(TTimeStampTest)
#include "timestamp_test.moc"
