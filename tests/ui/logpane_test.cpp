#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

#include "ui/logpane.h"

namespace {

const QTime kNow(9, 5, 7);
const QString kStamp = QStringLiteral("09:05:07");

TLongTimeFormat TwentyFourHours() {
  TLongTimeFormat f;
  f.LeadingZero = true;
  return f;
}

// Checks that every character of paragraph `line` has the given colour.
bool LineHasColour(TLogRegion& region, int line, TColor colour) {
  const QString text = region.PlainText();
  qsizetype start = 0;
  for (int i = 0; i < line; ++i) start = text.indexOf(u'\n', start) + 1;
  qsizetype end = text.indexOf(u'\n', start);
  if (end < 0) end = text.size();
  for (qsizetype pos = start; pos < end; ++pos) {
    if (region.reLog->ColourAt(pos) != ToQColor(colour)) return false;
  }
  return end > start;
}

}  // namespace

class TLogPaneTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TLogRegion> FRegion;

  // Returns a region with a fixed clock and a 24-hour format, shown at the design size.
  TLogRegion& Region() {
    FRegion = std::make_unique<TLogRegion>();
    FRegion->SetTimeFormat(TwentyFourHours());
    FRegion->SetClock([] { return kNow; });
    FRegion->resize(780, 100);
    FRegion->show();
    return *FRegion;
  }

 private slots:
  void TrimsBlanksAndControlsAtBothEnds_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("entry");
    QTest::newRow("command with blanks and CR LF") << "  s \r\n" << "s";
    QTest::newRow("answer with leading LF and trailing CR") << "\nError: 5\r" << "Error: 5";
    QTest::newRow("empty text leaves stamp and two spaces") << "" << "";
    QTest::newRow("only blanks and controls") << " \t\r\n\x01\x1f " << "";
    QTest::newRow("inner blanks and controls stay") << "\ta \t b\r" << "a \t b";
    QTest::newRow("character 33 is not trimmed") << "!x!" << "!x!";
  }

  void TrimsBlanksAndControlsAtBothEnds() {
    QFETCH(QString, text);
    QFETCH(QString, entry);
    TLogRegion& region = Region();
    region.LogLine(text, clGreen);
    QCOMPARE(region.PlainText(), QStringLiteral("\n") + kStamp + QStringLiteral("  ") + entry);
    QVERIFY(LineHasColour(region, 1, clGreen));
  }

  void FirstEntryFollowsInitialEmptyLineUntilClear() {
    TLogRegion& region = Region();
    QCOMPARE(region.PlainText(), QString());
    region.LogLine(QStringLiteral("a"), clBlue);
    QCOMPARE(region.PlainText(), QStringLiteral("\n09:05:07  a"));
    region.btClearLog->click();
    QCOMPARE(region.PlainText(), QString());
    region.LogLine(QStringLiteral("b"), clBlue);
    region.LogLine(QStringLiteral("c"), clRed);
    QCOMPARE(region.PlainText(), QStringLiteral("09:05:07  b\n09:05:07  c"));
  }

  void AlternatingColoursDoNotBleed() {
    TLogRegion& region = Region();
    const TColor colours[] = {clBlue, clGreen, clRed, clBlue, clRed, clGreen};
    for (TColor c : colours) region.LogLine(QStringLiteral("line"), c);
    for (int i = 0; i < 6; ++i) QVERIFY2(LineHasColour(region, i + 1, colours[i]), "colour");
    QCOMPARE(region.reLog->FontAt(region.PlainText().size() - 1).pointSize(), 8);
    QCOMPARE(region.reLog->FontAt(region.PlainText().size() - 1).family(),
             QStringLiteral("MS Sans Serif"));
  }

  void NewEntryGoesToEndWhateverUserSelected() {
    TLogRegion& region = Region();
    for (int i = 0; i < 60; ++i) region.LogLine(QStringLiteral("answer %1").arg(i), clBlue);
    QTest::qWait(1);
    region.reLog->verticalScrollBar()->setValue(0);
    region.reLog->SetSelection(20, 30);  // caret and selection in the middle, view at the top
    region.LogLine(QStringLiteral("OK writing params"), clRed);
    QVERIFY(region.PlainText().endsWith(QStringLiteral("\n09:05:07  OK writing params")));
    QVERIFY(region.PlainText().contains(QStringLiteral("answer 1\n")));
    QVERIFY(LineHasColour(region, 61, clRed));
    QCOMPARE(region.reLog->CaretPosition(), region.PlainText().size());
    QVERIFY(region.reLog->SelectedText().isEmpty());
    const QRect caret = region.reLog->CaretRect();
    QVERIFY2(caret.isValid() && region.reLog->viewport()->rect().contains(caret), "not visible");
    QCOMPARE(region.reLog->verticalScrollBar()->value(),
             region.reLog->verticalScrollBar()->maximum());
  }

  void LongWrappedEntryShowsItsEnd() {
    TLogRegion& region = Region();
    region.LogLine(QString(2000, u'x'), clBlue);
    const QRect caret = region.reLog->CaretRect();
    QVERIFY2(caret.isValid() && region.reLog->viewport()->rect().contains(caret), "not visible");
  }

  void TypedTextStaysAndEntriesFollowIt() {
    TLogRegion& region = Region();
    region.LogLine(QStringLiteral("s"), clGreen);
    region.reLog->setFocus();
    QTest::keyClicks(region.reLog, QStringLiteral("note"));
    QTest::keyClick(region.reLog, Qt::Key_Backspace);
    QTest::keyClick(region.reLog, Qt::Key_Return);
    QTest::keyClicks(region.reLog, QStringLiteral("x"));
    QCOMPARE(region.PlainText(), QStringLiteral("\n09:05:07  snot\nx"));
    region.LogLine(QStringLiteral("Timeout"), clRed);
    QCOMPARE(region.PlainText(), QStringLiteral("\n09:05:07  snot\nx\n09:05:07  Timeout"));
    QVERIFY(LineHasColour(region, 3, clRed));
  }

  void EditingKeysWorkInTheMiddle() {
    TLogRegion& region = Region();
    region.LogLine(QStringLiteral("abc"), clBlue);  // "\n09:05:07  abc"
    region.reLog->setFocus();
    region.reLog->SetSelection(11, 11);
    QTest::keyClick(region.reLog, Qt::Key_Right);
    QTest::keyClick(region.reLog, Qt::Key_Delete);
    QTest::keyClick(region.reLog, Qt::Key_Up);
    QTest::keyClicks(region.reLog, QStringLiteral("top"));
    QCOMPARE(region.PlainText(), QStringLiteral("top\n09:05:07  ac"));
  }

  void CopiesSelection() {
    TLogRegion& region = Region();
    region.LogLine(QStringLiteral("Error"), clRed);
    region.reLog->SetSelection(11, 16);
    QTest::keySequence(region.reLog, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Error"));
    QCOMPARE(region.PlainText(), QStringLiteral("\n09:05:07  Error"));
  }

  void LocaleChangeRereadsTimeFormat() {
    TLogRegion& region = Region();
    TLongTimeFormat odd;
    odd.Separator = QStringLiteral("#");
    region.SetTimeFormat(odd);
    QEvent change(QEvent::LocaleChange);
    QApplication::sendEvent(&region, &change);
    const TLongTimeFormat system = LongTimeFormatOf(QLocale::system());
    QCOMPARE(region.TimeFormat().Separator, system.Separator);
    QCOMPARE(region.TimeFormat().TwelveHour, system.TwelveHour);
  }

  void ShowsLegendAndClearButton() {
    TLogRegion& region = Region();
    QCOMPARE(region.btClearLog->text(), QStringLiteral("Clear"));
    QCOMPARE(region.btClearLog->size(), QSize(37, 19));
    QCOMPARE(region.reLog->width(), 616);
    QStringList captions;
    for (QLabel* label : region.findChildren<QLabel*>()) captions << label->text();
    for (const char* caption : {"RS232 logging:", "= from ZIRV", "= from PC", "= from Software"}) {
      QVERIFY2(captions.contains(QString::fromLatin1(caption)), caption);
    }
    const auto squares = region.findChildren<QWidget*>(QStringLiteral("legendSquare"));
    QCOMPARE(squares.size(), 3);
    const TColor order[] = {clBlue, clGreen, clRed};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(squares[i]->size(), QSize(17, 17));
      QCOMPARE(squares[i]->palette().color(QPalette::Window), ToQColor(order[i]));
    }
  }
};

QTEST_MAIN(TLogPaneTest)
#include "logpane_test.moc"
