// The log view keeps the layouts of what it painted and repaints its scroll bar only when the
// bar's picture changes; neither may ever show something stale. Each case changes a pane that
// paints after every step, then compares its picture with that of a new view given the final
// text and formats at once, which has nothing to keep from before.
#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <functional>

#include "ui/logpane.h"
#include "ui/logview.h"
#include "ui/qcolors.h"

namespace {

using TStep = std::function<void(TLogRegion&)>;

TStep Log(const QString& text, TColor colour) {
  return [=](TLogRegion& r) { r.LogLine(text, colour); };
}

// Selects [from, to) and types keys over it (an empty text just deletes the selection).
TStep Type(qsizetype from, qsizetype to, const QString& keys) {
  return [=](TLogRegion& r) {
    r.reLog->SetSelection(from, to);
    if (keys.isEmpty()) QTest::keyClick(r.reLog, Qt::Key_Delete);
    for (QChar key : keys) {
      if (key == u'\n') QTest::keyClick(r.reLog, Qt::Key_Return);
      else QTest::keyClicks(r.reLog, QString(key));
    }
  };
}

const TStep kClear = [](TLogRegion& r) { r.btClearLog->click(); };

TStep Width(int width) {
  return [=](TLogRegion& r) { r.reLog->setFixedWidth(width); };
}

const TStep kBiggerFont = [](TLogRegion& r) {
  QFont font = r.reLog->font();
  font.setPixelSize(20);
  r.reLog->setFont(font);
};

const TStep kRedText = [](TLogRegion& r) {
  QPalette palette = r.reLog->palette();
  palette.setColor(QPalette::Text, Qt::red);
  r.reLog->setPalette(palette);
};

const QString kLong = QStringLiteral("wraps ").repeated(40);

}  // namespace

class TLogViewTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TLogRegion> r;

  // Returns a view of the same size, font and colours as the pane that is given the pane's text,
  // paragraph by paragraph and run by run, and shows its top.
  std::unique_ptr<TLogView> Copy() const {
    const TLogText& doc = r->reLog->Document();
    auto copy = std::make_unique<TLogView>();
    copy->setFont(r->reLog->font());
    copy->setPalette(r->reLog->palette());
    copy->resize(r->reLog->size());
    for (qsizetype i = 0; i < doc.ParagraphCount(); ++i) {
      const qsizetype start = doc.ParagraphStart(i);
      bool newParagraph = i > 0;
      for (const TFormatSpan& span : doc.Spans(start, doc.ParagraphEnd(i))) {
        const QTextCharFormat format = r->reLog->CharFormat(span.Format);
        copy->AppendText(doc.ParagraphText(i).mid(span.Start, span.Length),
                         FromQColor(format.foreground().color()), format.font(), newParagraph);
        newParagraph = false;
      }
      if (newParagraph) copy->AppendText({}, clBlue, copy->font(), true);
    }
    copy->SetSelection(0, 0);
    copy->show();
    return copy;
  }

  static QImage Picture(TLogView& view) {
    view.clearFocus();  // no caret in the picture
    return view.viewport()->grab().toImage();
  }

 private slots:
  // A shown region, tall enough for every case's text, with a fixed clock and 24-hour stamps.
  void init() {
    r = std::make_unique<TLogRegion>();
    r->SetTimeFormat(TLongTimeFormat{});
    r->SetClock([] { return QTime(9, 5, 7); });
    r->resize(780, 320);
    r->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.get()));
  }

  void PaintingOnTheWayChangesNothing_data() {
    QTest::addColumn<std::vector<TStep>>("steps");
    const std::vector<TStep> entries = {Log("s", clGreen), Log("\nError: -12\r", clBlue),
                                        Log(kLong, clBlue), Log("Timeout", clRed)};
    auto with = [&](std::vector<TStep> more) {
      std::vector<TStep> steps = entries;
      steps.insert(steps.end(), more.begin(), more.end());
      return steps;
    };
    // Offsets: the empty first line, "09:05:07  s" from 1, "09:05:07  Error: -12" from 13.
    QTest::newRow("entries appended") << with({Log("p 0.125", clGreen)});
    QTest::newRow("text typed into a painted entry") << with({Type(12, 12, "xyz")});
    QTest::newRow("a painted entry broken in two") << with({Type(20, 20, "\n")});
    QTest::newRow("two painted entries joined") << with({Type(11, 14, {})});
    QTest::newRow("the pane narrowed") << with({Width(300)});
    QTest::newRow("the pane's font changed") << with({kClear, Type(0, 0, "typed"), kBiggerFont});
    QTest::newRow("the pane's text colour changed") << with({kClear, Type(0, 0, "typed"), kRedText});
    QTest::newRow("cleared and logged again") << with({kClear, Log("OK writing params", clRed)});
  }

  void PaintingOnTheWayChangesNothing() {
    QFETCH(std::vector<TStep>, steps);
    for (const TStep& step : steps) {
      step(*r);
      r->reLog->viewport()->repaint();
    }
    r->reLog->SetSelection(0, 0);
    const auto copy = Copy();
    QCOMPARE(copy->Text(), r->PlainText());
    QCOMPARE(Picture(*r->reLog), Picture(*copy));
  }

  // What the window shows of the scroll bar is what the bar paints now, while entries arrive at
  // the bottom, after the slider was taken to the top and after an entry brought it back.
  void TheScrollBarOnScreenFollowsItsSlider() {
    QScrollBar* bar = r->reLog->verticalScrollBar();
    // The offscreen platform grabs a window from what was last flushed to it.
    const auto onScreen = [&] {
      QApplication::processEvents();
      QApplication::processEvents();
      const QPoint at = bar->mapTo(r.get(), QPoint());
      const QImage shown =
          r->screen()->grabWindow(r->winId(), at.x(), at.y(), bar->width(), bar->height()).toImage();
      const QImage painted = bar->grab().toImage();
      return shown.convertToFormat(painted.format()) == painted;
    };
    for (int i = 0; i < 200; ++i) r->LogLine(QStringLiteral("answer %1").arg(i), clBlue);
    QTRY_VERIFY(bar->isVisible());
    QVERIFY(onScreen());
    r->LogLine(QStringLiteral("answer"), clBlue);
    QVERIFY(onScreen());
    bar->setValue(0);
    QVERIFY(onScreen());
    r->LogLine(QStringLiteral("answer"), clBlue);
    QVERIFY(onScreen());
    QCOMPARE(bar->value(), bar->maximum());
  }
};

QTEST_MAIN(TLogViewTest)
#include "logview_test.moc"
