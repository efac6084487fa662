#include <QTest>

#include "ui/timestamp.h"

Q_DECLARE_METATYPE(TLongTimeFormat)

namespace {

TLongTimeFormat Format(bool twelve, bool markerFirst, bool zero, const char* sep = ":") {
  TLongTimeFormat f;
  f.TwelveHour = twelve;
  f.MarkerFirst = markerFirst;
  f.LeadingZero = zero;
  f.Separator = QString::fromUtf8(sep);
  f.AmText = QStringLiteral("AM");
  f.PmText = QStringLiteral("PM");
  return f;
}

}  // namespace

class TTimeStampTest : public QObject {
  Q_OBJECT

 private slots:
  void FormatsStamp_data() {
    QTest::addColumn<TLongTimeFormat>("format");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");
    const auto h24z = Format(false, false, true);
    const auto h24 = Format(false, false, false);
    const auto h12 = Format(true, false, false);
    const auto h12first = Format(true, true, false);
    QTest::newRow("24 h pads hour with leading zero") << h24z << QTime(9, 5, 7) << "09:05:07";
    QTest::newRow("24 h without zero keeps one digit") << h24 << QTime(9, 5, 7) << "9:05:07";
    QTest::newRow("24 h evening not folded to 12") << h24z << QTime(23, 59, 59) << "23:59:59";
    QTest::newRow("24 h midnight is hour 0") << h24z << QTime(0, 0, 0) << "00:00:00";
    QTest::newRow("12 h morning marker after") << h12 << QTime(9, 5, 7) << "9:05:07 AM";
    QTest::newRow("12 h afternoon folds 13 to 1") << h12 << QTime(13, 0, 1) << "1:00:01 PM";
    QTest::newRow("12 h midnight is 12 am") << h12 << QTime(0, 30, 0) << "12:30:00 AM";
    QTest::newRow("12 h noon is 12 pm") << h12 << QTime(12, 0, 0) << "12:00:00 PM";
    QTest::newRow("12 h marker before time") << h12first << QTime(21, 5, 7) << "PM 9:05:07";
    QTest::newRow("12 h with zero pads folded hour")
        << Format(true, false, true) << QTime(14, 5, 7) << "02:05:07 PM";
    QTest::newRow("custom separator used twice")
        << Format(false, false, true, ".") << QTime(9, 5, 7) << "09.05.07";
    QTest::newRow("fractions of a second dropped") << h24z << QTime(9, 5, 7, 999) << "09:05:07";
  }

  void FormatsStamp() {
    QFETCH(TLongTimeFormat, format);
    QFETCH(QTime, time);
    QFETCH(QString, expected);
    QCOMPARE(FormatTimeStamp(time, format), expected);
  }

  void ReadsLocaleFacts_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("twelve");
    QTest::addColumn<bool>("markerFirst");
    QTest::addColumn<bool>("zero");
    QTest::addColumn<QString>("separator");
    QTest::newRow("US clock is 12 h, marker after, no zero") << "en_US" << true << false << false << ":";
    QTest::newRow("German clock is 24 h with zero") << "de_DE" << false << false << true << ":";
    QTest::newRow("Finnish separator is a dot") << "fi_FI" << false << false << false << ".";
    QTest::newRow("Korean marker stands first") << "ko_KR" << true << true << false << ":";
    QTest::newRow("unit words are no separator") << "ja_JP" << false << false << false << ":";
  }

  void ReadsLocaleFacts() {
    QFETCH(QString, locale);
    const TLongTimeFormat f = LongTimeFormatOf(QLocale(locale));
    QTEST(f.TwelveHour, "twelve");
    QTEST(f.MarkerFirst, "markerFirst");
    QTEST(f.LeadingZero, "zero");
    QTEST(f.Separator, "separator");
  }

  void TakesDayPeriodTextsFromLocale() {
    const QLocale us(QStringLiteral("en_US"));
    const TLongTimeFormat f = LongTimeFormatOf(us);
    QCOMPARE(f.AmText, us.amText());
    QCOMPARE(f.PmText, us.pmText());
    QCOMPARE(FormatTimeStamp(QTime(0, 1, 2), f), QStringLiteral("12:01:02 ") + us.amText());
  }
};

QTEST_APPLESS_MAIN(TTimeStampTest)
#include "timestamp_test.moc"
