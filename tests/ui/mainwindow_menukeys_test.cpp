// Keys that reach the File menu (Alt, Alt+F, F10) do not leave the entry field being typed in:
// the menu's commands see the text as typed, and only a move to another control of the window
// rewrites it.
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "mainwindowfixture.h"

namespace {

// Presses and releases a key where the keyboard goes: the focused widget or an open menu.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = QApplication::activePopupWidget();
  if (!target) target = QApplication::focusWidget();
  QTest::keyClick(target, key, modifiers);
  QCoreApplication::processEvents();
}

}  // namespace

class TMainMenuKeysTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TMainFixture> F;
  TfMain* w = nullptr;
  QStringList Changes;

  // Connects, then types 2000 into "BLDC Phase advance (a):" (limits 0 to 1023) after entering
  // it as Tab would; the field keeps the focus.
  void TypeIntoPhaseAdvance() {
    F->Connect();
    TAdvSpinEdit* field = w->seParametersPhaseAdvance;
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    field->setFocus(Qt::TabFocusReason);
    QObject::connect(field, &TSpinEditBase::OnChange, [this, field] { Changes << field->Text(); });
    QTest::keyClicks(field, QStringLiteral("2000"));
    Changes.clear();
  }

 private slots:
  void init() {
    F = std::make_unique<TMainFixture>();
    w = F->Window.get();
    Changes.clear();
  }
  void cleanup() {
    const QStringList errors = std::exchange(F->Errors, {});
    F.reset();
    QCOMPARE(errors, QStringList());
  }

  void MenuKeysKeepTheTextAsTyped_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("backInField");
    QTest::newRow("Alt, then Escape") << "Alt Esc" << "2000" << true;
    QTest::newRow("Alt twice") << "Alt Alt" << "2000" << true;
    QTest::newRow("Alt+F, then Escape twice") << "AltF Esc Esc" << "2000" << true;
    QTest::newRow("F10") << "F10" << "2000" << true;
    // From the menu bar the focus may still go on to another control: that leaves the field.
    QTest::newRow("Alt, then a click into another field") << "Alt ClickP" << "1023" << false;
  }

  void MenuKeysKeepTheTextAsTyped() {
    QFETCH(QString, keys);
    QFETCH(QString, text);
    QFETCH(bool, backInField);
    TypeIntoPhaseAdvance();
    for (const QString& key : keys.split(u' ')) {
      if (key == u"Alt") Press(Qt::Key_Alt, Qt::AltModifier);
      if (key == u"AltF") Press(Qt::Key_F, Qt::AltModifier);
      if (key == u"Esc") Press(Qt::Key_Escape);
      if (key == u"F10") Press(Qt::Key_F10);
      if (key == u"ClickP") QTest::mouseClick(w->seParametersP, Qt::LeftButton);
    }
    QCOMPARE(w->seParametersPhaseAdvance->Text(), text);
    QCOMPARE(Changes, text == u"2000" ? QStringList() : QStringList{text});
    QCOMPARE(w->seParametersPhaseAdvance->hasFocus(), backInField);
  }

  // Alt+F, S saves what the field shows, 2000, and leaves the field as it was.
  void SaveByKeysWritesTheTypedValue() {
    TypeIntoPhaseAdvance();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("typed.pset"));
    Press(Qt::Key_F, Qt::AltModifier);
    QVERIFY(QApplication::activePopupWidget() == w->File1);
    QTimer::singleShot(0, w->SaveDialog1, [this, path] {
      w->SaveDialog1->selectFile(path);
      static_cast<QDialog*>(w->SaveDialog1)->accept();
    });
    Press(Qt::Key_S);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY2(file.readAll().contains("\r\nPhaseAdvance=2000\r\n"), qPrintable(path));
    QCOMPARE(w->seParametersPhaseAdvance->Text(), QStringLiteral("2000"));
    QCOMPARE(Changes, QStringList());
  }
};

QTEST_MAIN(TMainMenuKeysTest)
#include "mainwindow_menukeys_test.moc"
