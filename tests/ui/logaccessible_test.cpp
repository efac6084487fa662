// What assistive technology reads of the log pane: its text, the colour of each entry as a text
// attribute, caret, selection, geometry, and an event for each change.
#include <QAccessible>
#include <QTest>
#include <QTextCursor>
#include <QTextEdit>

#include "ui/logaccessible.h"
#include "ui/logpane.h"
#include "ui/logview.h"

namespace {

// Returns the accessible text of the pane, or null when it has none.
QAccessibleTextInterface* TextOf(TLogView* view) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
  return iface ? iface->textInterface() : nullptr;
}

// An event as the test keeps it: its type, where the change or the caret is, the text taken
// out and the text put in.
struct TSeen {
  QAccessible::Event Type;
  int Position;
  QString Removed = {}, Inserted = {};
  bool operator==(const TSeen&) const = default;
};

}  // namespace

class TLogAccessibleTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TLogRegion> r;
  QAccessibleTextInterface* t = nullptr;

  qsizetype StartOf(const QString& text) const { return r->PlainText().indexOf(text); }

 private slots:
  // A green, a blue and a red entry after the pane's initial empty line.
  void init() {
    r = std::make_unique<TLogRegion>();
    r->SetTimeFormat(TLongTimeFormat{});
    r->SetClock([] { return QTime(9, 5, 7); });
    r->resize(780, 100);
    r->show();
    r->LogLine(QStringLiteral("s"), clGreen);
    r->LogLine(QStringLiteral("Error: -12\r"), clBlue);
    r->LogLine(QStringLiteral("Timeout"), clRed);
    t = TextOf(r->reLog);
    QVERIFY(t);
  }
  void cleanup() { SetLogAccessibilityListener({}); }

  void IsAnEditableMultiLineTextNamedByItsCaption() {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(r->reLog);
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("RS232 logging:"));
    QVERIFY(iface->state().editable && iface->state().multiLine && iface->state().selectableText);
    QCOMPARE(t->characterCount(), r->PlainText().size());
    QCOMPARE(t->text(0, t->characterCount()), r->PlainText());
  }

  // Each entry is one run of its colour, up to and with the line break after it; the attributes
  // are written as Qt's own text edits write them.
  void EachEntryIsARunOfItsColour_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("colour");
    QTest::newRow("green, from the PC") << "09:05:07  s" << "rgb(0,128,0)";
    QTest::newRow("blue, from the board") << "09:05:07  Error: -12" << "rgb(0,0,255)";
    QTest::newRow("red, from the tool") << "09:05:07  Timeout" << "rgb(255,0,0)";
  }

  void EachEntryIsARunOfItsColour() {
    QFETCH(QString, entry);
    QFETCH(QString, colour);
    const int start = int(StartOf(entry));
    const int end = std::min(start + int(entry.size()) + 1, t->characterCount());
    for (int offset : {start, start + 10, end - 1}) {
      int from = -1, to = -1;
      const QString attributes = t->attributes(offset, &from, &to);
      QCOMPARE(attributes, QStringLiteral("font-family:\"MS Sans Serif\";font-size:8pt;"
                                          "font-weight:normal;font-style:normal;"
                                          "text-position:baseline;color:") +
                               colour + QStringLiteral(";text-align:left;"));
      QCOMPARE(std::pair(from, to), std::pair(start, end));
    }
  }

  // A QTextEdit holding text in an entry's format reports the same attributes.
  void AttributesReadAsAQtTextEditReadsThem() {
    const qsizetype blue = StartOf(QStringLiteral("09:05:07  Error"));
    QTextEdit edit;
    QTextCursor(edit.document()).insertText(QStringLiteral("Error"),
                                            r->reLog->CharFormat(r->reLog->Document().FormatAt(blue)));
    int from = -1, to = -1;
    const QString expected =
        QAccessible::queryAccessibleInterface(&edit)->textInterface()->attributes(1, &from, &to);
    QCOMPARE(t->attributes(int(blue), &from, &to), expected);
  }

  void LinesWordsAndTheEndAreFoundAroundAnOffset() {
    const int blue = int(StartOf(QStringLiteral("09:05:07  Error")));
    int from = -1, to = -1;
    QCOMPARE(t->textAtOffset(blue + 12, QAccessible::LineBoundary, &from, &to),
             QStringLiteral("09:05:07  Error: -12\n"));
    QCOMPARE(from, blue);
    QCOMPARE(t->textBeforeOffset(blue + 12, QAccessible::LineBoundary, &from, &to),
             QStringLiteral("09:05:07  s\n"));
    QCOMPARE(t->textAfterOffset(blue + 12, QAccessible::LineBoundary, &from, &to),
             QStringLiteral("09:05:07  Timeout"));
    QCOMPARE(to, t->characterCount());
    QCOMPARE(t->textAtOffset(blue + 12, QAccessible::WordBoundary, &from, &to),
             QStringLiteral("Error"));
    QCOMPARE(std::pair(from, to), std::pair(blue + 10, blue + 15));
    QCOMPARE(t->textAtOffset(-1, QAccessible::LineBoundary, &from, &to),
             QStringLiteral("09:05:07  Timeout"));
    QCOMPARE(t->textAtOffset(t->characterCount() + 1, QAccessible::LineBoundary, &from, &to),
             QString());
    QCOMPARE(std::pair(from, to), std::pair(-1, -1));
  }

  void CaretAndSelectionGoBothWays() {
    r->reLog->SetSelection(14, 5);
    QCOMPARE(t->cursorPosition(), 5);
    int from = -1, to = -1;
    t->selection(0, &from, &to);
    QCOMPARE(std::pair(from, to), std::pair(5, 14));
    t->setSelection(0, 1, 9);
    QCOMPARE(r->reLog->SelectedText(), QStringLiteral("09:05:07"));
    t->setCursorPosition(3);
    QCOMPARE(t->selectionCount(), 0);
    QCOMPARE(r->reLog->CaretPosition(), 3);
  }

  void CharacterRectAndPointAgree() {
    const int offset = int(StartOf(QStringLiteral("Timeout")));
    const QRect rect = t->characterRect(offset);
    QVERIFY(!rect.isEmpty());
    QVERIFY(QRect(r->reLog->viewport()->mapToGlobal(QPoint()), r->reLog->viewport()->size())
                .contains(rect));
    QCOMPARE(t->offsetAtPoint(rect.center()), offset);
  }

  // Appending an entry tells of the text put in and the caret at the end; editing, of what was
  // replaced; Clear, of everything taken out.
  void ChangesAreAnnounced() {
    QList<TSeen> seen;
    SetLogAccessibilityListener([&](QAccessibleEvent* e) {
      if (e->type() == QAccessible::TextCaretMoved) {
        seen.append({e->type(), static_cast<QAccessibleTextCursorEvent*>(e)->cursorPosition()});
      } else if (e->type() == QAccessible::TextInserted) {
        auto* insert = static_cast<QAccessibleTextInsertEvent*>(e);
        seen.append({e->type(), insert->changePosition(), {}, insert->textInserted()});
      } else if (e->type() == QAccessible::TextRemoved) {
        auto* remove = static_cast<QAccessibleTextRemoveEvent*>(e);
        seen.append({e->type(), remove->changePosition(), remove->textRemoved(), {}});
      } else if (e->type() == QAccessible::TextUpdated) {
        auto* update = static_cast<QAccessibleTextUpdateEvent*>(e);
        seen.append({e->type(), update->changePosition(), update->textRemoved(),
                     update->textInserted()});
      }
    });
    const QString before = r->PlainText();
    const int end = int(before.size());
    r->LogLine(QStringLiteral("OK writing params"), clRed);
    const int added = int(r->PlainText().size());
    r->reLog->SetSelection(1, 3);
    r->reLog->setFocus();
    QTest::keyClick(r->reLog, Qt::Key_X);
    r->btClearLog->click();
    const QString edited = before + QStringLiteral("\n09:05:07  OK writing params");
    QCOMPARE(seen, (QList<TSeen>{
                       {QAccessible::TextInserted, end, {}, "\n09:05:07  OK writing params"},
                       {QAccessible::TextCaretMoved, added},
                       {QAccessible::TextCaretMoved, 3},
                       {QAccessible::TextUpdated, 1, "09", "x"},
                       {QAccessible::TextCaretMoved, 2},
                       {QAccessible::TextRemoved, 0, QString(edited).replace(1, 2, "x"), {}},
                       {QAccessible::TextCaretMoved, 0},
                   }));
  }
};

QTEST_MAIN(TLogAccessibleTest)
#include "logaccessible_test.moc"
