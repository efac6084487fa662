// The log pane: stamped, coloured entries added and shown at the end of a pane users may edit.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <set>

#include "ui/logpane.h"
#include "ui/logview.h"
#include "ui/qcolors.h"

class TLogPaneTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TLogRegion> r;

  // Logs what a board sending garbage without CR gives: one entry of 3000 characters that wraps
  // over dozens of rows, between short ones. Returns where the long entry starts and ends.
  std::pair<qsizetype, qsizetype> LogLongEntryBetweenShortOnes() {
    for (int i = 0; i < 10; ++i) r->LogLine(QStringLiteral("answer %1").arg(i), clBlue);
    QString garbage;
    uint32_t seed = 7;
    for (int i = 0; i < 3000; ++i) {
      seed = seed * 1103515245 + 12345;
      garbage += QChar(u' ' + 1 + (seed >> 16) % 94);
      if (i % 37 == 36) garbage += u' ';
    }
    const qsizetype start = r->PlainText().size() + 1;
    r->LogLine(garbage, clBlue);
    const qsizetype end = r->PlainText().size();
    for (int i = 0; i < 10; ++i) r->LogLine(QStringLiteral("answer %1").arg(i), clBlue);
    return {start, end};
  }

  // Returns the positions at the top of the view from the top of the log to its end, one after
  // each move.
  std::vector<qsizetype> Walk(const std::function<void()>& move) {
    QScrollBar* bar = r->reLog->verticalScrollBar();
    bar->setValue(0);
    std::vector<qsizetype> tops{r->reLog->TopPosition()};
    for (int i = 0; i < 5000 && bar->value() < bar->maximum(); ++i) {
      move();
      tops.push_back(r->reLog->TopPosition());
    }
    return tops;
  }

  // Returns the colours of the first and last character of paragraph line.
  std::pair<QColor, QColor> LineColours(int line) const {
    const QStringList lines = r->PlainText().split(u'\n');
    qsizetype start = 0;
    for (int i = 0; i < line; ++i) start += lines[i].size() + 1;
    return {r->reLog->ColourAt(start), r->reLog->ColourAt(start + lines[line].size() - 1)};
  }

 private slots:
  // A region with a 24-hour format and a clock at 09:05:07, shown at its design size.
  void init() {
    r = std::make_unique<TLogRegion>();
    r->SetTimeFormat(TLongTimeFormat{});
    r->SetClock([] { return QTime(9, 5, 7); });
    r->resize(780, 100);
    r->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.get()));
  }

  // Blanks and controls at both ends of an entry are trimmed, not those inside.
  void FirstEntryFollowsAnEmptyLineUntilClearAndColoursDoNotBleed() {
    r->LogLine(QStringLiteral(" \t\na \t b\r\n\x01 "), clBlue);
    QCOMPARE(r->PlainText(), QStringLiteral("\n09:05:07  a \t b"));
    r->btClearLog->click();
    QCOMPARE(r->PlainText(), QString());
    const TColor colours[] = {clBlue, clGreen, clRed, clBlue, clRed, clGreen};
    for (TColor c : colours) r->LogLine(QStringLiteral("b"), c);
    for (int i = 0; i < 6; ++i)
      QCOMPARE(LineColours(i), std::pair(ToQColor(colours[i]), ToQColor(colours[i])));
  }

  // An entry's own text: blanks and controls (up to character 32) trimmed at both ends only;
  // an empty entry still has its stamp and two spaces.
  void EntryTextsAreTrimmedAtTheEnds() {
    const std::pair<QString, QString> rows[] = {
        {QStringLiteral("  s \r\n"), QStringLiteral("s")},
        {QStringLiteral("\nError: 5\r"), QStringLiteral("Error: 5")},
        {QString(), QString()},
        {QStringLiteral(" \t\r\n\x01\x1f "), QString()},
        {QStringLiteral("!x!"), QStringLiteral("!x!")},  // character 33 is no blank
    };
    for (const auto& [text, entry] : rows) {
      r->btClearLog->click();
      r->LogLine(text, clGreen);
      QCOMPARE(r->PlainText(), QStringLiteral("09:05:07  ") + entry);
    }
  }

  // Entries are written in 8 pt "MS Sans Serif" (the desktop's substitute where it is absent);
  // the region shows its caption, the colour legend and "Clear".
  void FontLegendAndClearButton() {
    r->LogLine(QStringLiteral("s"), clGreen);
    const QFont font = r->reLog->FontAt(r->PlainText().size() - 1);
    QCOMPARE(font.family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(font.pointSize(), 8);
    QCOMPARE(r->btClearLog->text(), QStringLiteral("Clear"));
    QStringList captions;
    for (QLabel* label : r->findChildren<QLabel*>()) captions << label->text();
    for (const char* caption : {"RS232 logging:", "= from ZIRV", "= from PC", "= from Software"})
      QVERIFY2(captions.contains(QLatin1String(caption)), caption);
    const auto squares = r->findChildren<QWidget*>(QStringLiteral("legendSquare"));
    QCOMPARE(squares.size(), 3);
    const TColor order[] = {clBlue, clGreen, clRed};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(squares[i]->palette().color(QPalette::Window), ToQColor(order[i]));
    }
  }

  // The system announcing new regional settings makes the stamps follow its time format again.
  void LocaleChangeRereadsTheTimeFormat() {
    TLongTimeFormat odd;
    odd.Separator = QStringLiteral("#");
    r->SetTimeFormat(odd);
    QEvent change(QEvent::LocaleChange);
    QApplication::sendEvent(r.get(), &change);
    const TLongTimeFormat system = LongTimeFormatOf(QLocale::system());
    QCOMPARE(r->TimeFormat().Separator, system.Separator);
    QCOMPARE(r->TimeFormat().TwelveHour, system.TwelveHour);
  }

  // Wherever the user left the caret, selection and view, a new entry goes to the end and the
  // view follows it, even when it wraps over many rows.
  void NewEntryGoesToTheEndAndIsShown() {
    for (int i = 0; i < 60; ++i) r->LogLine(QStringLiteral("answer %1").arg(i), clBlue);
    QTest::qWait(1);
    r->reLog->verticalScrollBar()->setValue(0);
    r->reLog->SetSelection(20, 30);
    const QString before = r->PlainText();
    r->LogLine(QString(2000, u'x'), clRed);
    QCOMPARE(r->PlainText(), before + QStringLiteral("\n09:05:07  ") + QString(2000, u'x'));
    QVERIFY(r->reLog->SelectedText().isEmpty());
    QCOMPARE(r->reLog->CaretPosition(), r->PlainText().size());
    QVERIFY(r->reLog->viewport()->rect().contains(r->reLog->CaretRect()));
    QCOMPARE(r->reLog->verticalScrollBar()->value(), r->reLog->verticalScrollBar()->maximum());
  }

  // Every row of a long entry comes to the top of the view by the scroll bar's arrows, by
  // dragging its slider and by the wheel, not just the entry's first row.
  void EveryRowIsReachedByTheScrollBarAndTheWheel() {
    const auto [start, end] = LogLongEntryBetweenShortOnes();
    QScrollBar* bar = r->reLog->verticalScrollBar();
    // The scroll bar's range follows the text at the next paint, which a busy machine delays.
    QTRY_VERIFY(bar->maximum() > 0);
    const std::vector<qsizetype> rows =
        Walk([bar] { bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); });
    QCOMPARE(bar->value(), bar->maximum());
    std::vector<qsizetype> inEntry;
    for (qsizetype top : rows)
      if (top >= start && top < end) inEntry.push_back(top);
    QVERIFY2(inEntry.size() > 20, qPrintable(QString::number(inEntry.size())));
    QCOMPARE(inEntry.front(), start);
    QVERIFY(end - inEntry.back() < 150);  // the last row, which holds at most a row's characters
    for (size_t i = 1; i < inEntry.size(); ++i)  // one row a step
      QVERIFY(inEntry[i] - inEntry[i - 1] > 20 && inEntry[i] - inEntry[i - 1] < 150);

    std::set<qsizetype> dragged;
    for (int value = bar->minimum(); value <= bar->maximum(); ++value) {
      bar->setValue(value);
      dragged.insert(r->reLog->TopPosition());
    }
    QCOMPARE(dragged, std::set<qsizetype>(rows.begin(), rows.end()));

    QWheelEvent notch(QPointF(5, 5), r->reLog->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    const std::vector<qsizetype> wheeled =
        Walk([&] { QApplication::sendEvent(r->reLog->viewport(), &notch); });
    const int lines = QApplication::wheelScrollLines();
    for (size_t i = 0; i + 1 < wheeled.size(); ++i) QCOMPARE(wheeled[i], rows[i * lines]);
    QCOMPARE(wheeled.back(), rows.back());
    bar->setValue(0);
    QWheelEvent part(QPointF(5, 5), r->reLog->mapToGlobal(QPointF(5, 5)), QPoint(),
                     QPoint(0, -120 / lines), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &part);  // over the scroll bar too, a notch's part a row
    QCOMPARE(r->reLog->TopPosition(), rows[1]);
  }

  // A move of the slider counts from the moment it is made: neither an entry logged nor a resize
  // of the pane just before it (both scroll to the end at the next paint) takes it back.
  void SliderMoveOutlastsAScrollToTheEndNotYetPainted() {
    LogLongEntryBetweenShortOnes();
    QScrollBar* bar = r->reLog->verticalScrollBar();
    QTRY_VERIFY(bar->isVisible() && bar->maximum() > 0);
    const std::function<void()> beforeTheMove[] = {
        [this] { r->LogLine(QStringLiteral("answer"), clBlue); },
        [this] { r->reLog->resize(r->reLog->width(), r->reLog->height() - 10); },
    };
    for (const auto& scrollToTheEnd : beforeTheMove) {
      QTRY_COMPARE(bar->value(), bar->maximum());
      scrollToTheEnd();
      bar->setValue(0);
      QCOMPARE(r->reLog->TopPosition(), 0);
      r->reLog->viewport()->repaint();
      QCOMPARE(r->reLog->TopPosition(), 0);
      r->reLog->MoveCaretToEndAndScroll();
    }
  }

  void UserTypesEditsAndCopies() {
    r->LogLine(QStringLiteral("s"), clGreen);
    r->reLog->setFocus();
    QTest::keyClicks(r->reLog, QStringLiteral("note"));
    QTest::keyClick(r->reLog, Qt::Key_Backspace);
    QTest::keyClick(r->reLog, Qt::Key_Return);
    QTest::keyClicks(r->reLog, QStringLiteral("x"));
    r->LogLine(QStringLiteral("Timeout"), clRed);
    QCOMPARE(r->PlainText(), QStringLiteral("\n09:05:07  snot\nx\n09:05:07  Timeout"));
    QCOMPARE(LineColours(3), std::pair(ToQColor(clRed), ToQColor(clRed)));
    r->reLog->SetSelection(11, 15);
    QTest::keySequence(r->reLog, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("snot"));
    r->reLog->SetSelection(11, 11);
    QTest::keyClick(r->reLog, Qt::Key_Right);
    QTest::keyClick(r->reLog, Qt::Key_Delete);
    QTest::keyClick(r->reLog, Qt::Key_Up);
    QTest::keyClicks(r->reLog, QStringLiteral("top"));
    QCOMPARE(r->PlainText(), QStringLiteral("top\n09:05:07  sot\nx\n09:05:07  Timeout"));
  }
};

QTEST_MAIN(TLogPaneTest)
#include "logpane_test.moc"
