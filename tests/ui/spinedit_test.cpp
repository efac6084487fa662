// The numeric entry fields as widgets: keys, arrow buttons, entering and leaving, change
// notifications and colour, under the C, German ("," decimals) and English locales.
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <array>
#include <map>

#include "ui/qcolors.h"
#include "ui/spinedit.h"

namespace {

// The tool's P, SVM Cycle and sampling interval fields, configured as the tool does.
struct TWindow {
  QWidget Root;
  TAdvSpinEdit* P = new TAdvSpinEdit(&Root);
  TAdvSpinEdit* SVMCycle = new TAdvSpinEdit(&Root);
  TSpinEdit* Interval = new TSpinEdit(&Root);
  QPushButton* Other = new QPushButton(QStringLiteral("Other"), &Root);
  QString Changes;  // the text at each OnChange, each followed by ";"

  TWindow() {
    auto* layout = new QVBoxLayout(&Root);
    for (QWidget* w : std::initializer_list<QWidget*>{P, SVMCycle, Interval, Other})
      layout->addWidget(w);
    P->SetSpinType(sptFloat);
    P->SetPrecision(7);
    P->SetIncrementFloat(0.00001);
    SVMCycle->SetMinValue(1);
    SVMCycle->SetMaxValue(4);
    SVMCycle->SetValue(1);
    Interval->SetIncrement(100);
    Interval->SetMinValue(200);
    Interval->SetMaxValue(200000);
    Interval->SetValue(1000);
    for (auto* f : std::initializer_list<TSpinEditBase*>{P, SVMCycle, Interval}) {
      QObject::connect(f, &TSpinEditBase::OnChange, [this, f] { Changes += f->Text() + u';'; });
      f->Loaded();
    }
    Root.show();
    QApplication::setActiveWindow(&Root);
    if (!QTest::qWaitForWindowActive(&Root)) qWarning("window not active");
  }

  // Gives a field the focus as Tab would (which selects all).
  void Enter(QWidget* field) {
    Leave();
    field->setFocus(Qt::TabFocusReason);
  }
  void Leave() { Other->setFocus(Qt::TabFocusReason); }
};

int gAlerts = 0;

// Keys of a row: most characters are typed; these capitals stand for keys and actions: U/D
// Up/Down, P/N Page Up/Down, C Ctrl+Return, R Return, B Backspace, X Delete, E caret to the
// end, V paste "abc", S the user's thousands separator, F enter the field, T leave it.
const struct TKeyRow {
  const char* Name;
  int Field;            // P, SVMCycle, Interval
  const char* Initial;  // text written before entering, or nullptr
  const char* Keys;
  const char* Text;  // afterwards
  const char* Changes;
  int Alerts;
} kKeyRows[] = {
    {"float keys step once each", 0, nullptr, "DUPCN", "0.0000100",
     "-0.0000100;0.0000000;1.0000000;1.0000100;0.0000100;", 0},
    {"typed over all, rewritten on leaving", 0, nullptr, "0.5T", "0.5000000",
     "0;0.;0.5;0.5000000;", 0},
    {"full decimals refuse, backspace deletes", 0, "0.1234567", "E5-B", "0.123456", "0.123456;", 2},
    {"thousands separator types a point", 0, nullptr, "1S5,", "1.5", "1;1.;1.5;", 1},
    {"pasted garbage kept until leaving", 0, nullptr, "VT", "0.0000000", "abc;0.0000000;", 0},
    {"sign keys and Return do nothing", 0, nullptr, "-+R", "0.0000000", "", 0},
    {"float text in integer field steps from min", 1, "12.0000000", "U.", "2", "2;", 1},
    {"step stopped at the limit notifies nothing", 1, "4", "UD", "3", "3;", 0},
    {"limits apply on leaving, not while typing", 1, nullptr, "9T", "4", "9;4;", 0},
    {"emptied field stays empty", 1, nullptr, "XT", "", ";", 0},
    {"spin edit keeps unparsable text, clamps on leaving", 2, nullptr, "1.5TF150TFDPR", "200",
     "1;1.;1.5;1;15;150;200;", 1},
};

// Text that reaches a field in one piece: a key giving several characters, or an input-method
// commit (with text still being composed after it). "S" stands for the user's thousands
// separator, "E" before the text puts the caret at the end first.
const struct TPieceRow {
  const char* Name;
  int Field;            // P, SVMCycle, Interval
  const char* Initial;  // text written before entering, or nullptr
  bool InputMethod;     // a commit instead of a key event
  const char16_t* Text;
  const char* Composing;  // the input method's text still being composed
  const char16_t* After;
  const char16_t* Changes;
  int Alerts;
} kPieceRows[] = {
    {"key of several characters, separator typed as point", 0, nullptr, false, u"xSy z", "",
     u".", u".;", 4},
    {"key of several characters, digits one change each", 0, nullptr, false, u"x1y2", "", u"12",
     u"1;12;", 2},
    {"commit into full decimals refused", 0, "0.1234567", true, u"E89", "", u"0.1234567", u"", 2},
    {"commit of a number, one change per character", 0, nullptr, true, u"0.5", "", u"0.5",
     u"0;0.;0.5;", 0},
    {"commit with text still composing", 0, nullptr, true, u"7", "8", u"7", u"7;", 0},
    {"commit of Unicode digits into an integer field", 1, nullptr, true, u"\u06634", "",
     u"\u06634", u"\u0663;\u06634;", 0},
    {"digit beyond the basic plane is one character", 1, nullptr, false, u"\U0001D7D9a", "",
     u"\U0001D7D9", u"\U0001D7D9;", 1},
    {"spin edit takes signs, refuses letters", 2, nullptr, true, u"1a+", "", u"1+", u"1;1+;", 1},
};

// Presses the key a row's capital stands for; returns false for a character to be typed.
bool PressNamedKey(QWidget* field, char letter) {
  static const std::map<char, QKeyCombination> keys = {
      {'U', Qt::Key_Up},        {'D', Qt::Key_Down},   {'P', Qt::Key_PageUp},
      {'N', Qt::Key_PageDown},  {'R', Qt::Key_Return}, {'C', Qt::ControlModifier | Qt::Key_Return},
      {'B', Qt::Key_Backspace}, {'X', Qt::Key_Delete}};
  const auto it = keys.find(letter);
  if (it == keys.end()) return false;
  QTest::keyClick(field, it->second.key(), it->second.keyboardModifiers());
  return true;
}

}  // namespace

class TSpinEditTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    gAlerts = 0;
    TSpinEditBase::SetAlertSound([] { ++gAlerts; });
  }

  void KeysGiveTextAndChanges_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kKeyRows)); ++i) QTest::newRow(kKeyRows[i].Name) << i;
  }

  void KeysGiveTextAndChanges() {
    QFETCH(int, row);
    const TKeyRow& r = kKeyRows[row];
    TWindow w;
    TSpinEditBase* field = std::array<TSpinEditBase*, 3>{w.P, w.SVMCycle, w.Interval}[r.Field];
    QCOMPARE(w.Changes, QString());  // building the window notifies nothing
    if (r.Initial) field->SetText(QLatin1String(r.Initial));
    field->SetFontColor(clRed);
    w.Changes.clear();
    w.Enter(field);
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    const QChar separator = TAdvSpinEdit::UserThousandsSeparator();
    for (const char* k = r.Keys; *k; ++k) {
      if (*k == 'S') QTest::keyClicks(field, QString(separator));
      else if (*k == 'E') field->end(false);
      else if (*k == 'V') field->paste();
      else if (*k == 'F') w.Enter(field);
      else if (*k == 'T') w.Leave();
      else if (!PressNamedKey(field, *k)) QTest::keyClick(field, *k);
    }
    field->SetText(field->Text());  // writing the text shown is no change
    QCOMPARE(field->Text(), QLatin1String(r.Text));
    QCOMPARE(w.Changes, QLatin1String(r.Changes));
    QCOMPARE(gAlerts, r.Alerts);
    QCOMPARE(field->palette().color(QPalette::Text), ToQColor(clRed));  // kept through it all
  }

  // Typed text is filtered character by character however it arrives; paste stays unfiltered.
  void TextInOnePieceIsFilteredLikeKeys_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kPieceRows)); ++i) QTest::newRow(kPieceRows[i].Name) << i;
  }

  void TextInOnePieceIsFilteredLikeKeys() {
    QFETCH(int, row);
    const TPieceRow& r = kPieceRows[row];
    TWindow w;
    TSpinEditBase* field = std::array<TSpinEditBase*, 3>{w.P, w.SVMCycle, w.Interval}[r.Field];
    if (r.Initial) field->SetText(QLatin1String(r.Initial));
    w.Changes.clear();
    w.Enter(field);
    QString text = QString::fromUtf16(r.Text);
    text.replace(u'S', TAdvSpinEdit::UserThousandsSeparator());
    if (text.startsWith(u'E')) field->end(false), text.remove(0, 1);
    if (r.InputMethod) {
      QInputMethodEvent commit(QLatin1String(r.Composing), {});
      commit.setCommitString(text);
      QApplication::sendEvent(field, &commit);
    } else {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
      QApplication::sendEvent(field, &key);
    }
    QCOMPARE(field->Text(), QString::fromUtf16(r.After));
    QCOMPARE(w.Changes, QString::fromUtf16(r.Changes));
    QCOMPARE(gAlerts, r.Alerts);
  }

  // Only a left press released over an arrow steps; a press there focuses the field with all
  // selected, a click into the text only places the caret, and the wheel never steps.
  void MouseStepsOnlyByLeftClicksOnTheArrows() {
    TWindow w;
    TTimerSpeedButton* up = w.Interval->Buttons()->UpButton();
    QTest::mouseClick(up, Qt::RightButton);
    QTest::mousePress(up, Qt::LeftButton);
    QTest::mouseMove(up, QPoint(-30, -30));
    QTest::mouseRelease(up, Qt::LeftButton, {}, QPoint(-30, -30));
    w.Leave();
    QTest::mouseClick(up, Qt::LeftButton);
    QVERIFY(w.Interval->hasFocus() && w.Interval->selectedText() == QStringLiteral("1100"));
    w.Leave();
    QTest::mouseClick(w.P, Qt::LeftButton, {}, QPoint(3, w.P->height() / 2));
    QVERIFY(w.P->hasFocus() && !w.P->hasSelectedText());
    QWheelEvent wheel(QPointF(5, 5), w.P->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.P, &wheel);
    QCOMPARE(w.Changes, QStringLiteral("1100;"));
  }

  // First tick 400 ms after the press, then every 100 ms, and one step on release: eight steps
  // in 1050 ms. A loaded machine may shift a tick, hence the margin.
  void HeldButtonRepeats() {
    if (QLocale() != QLocale::c()) QSKIP("the repeat timer does not depend on the locale");
    TWindow w;
    TTimerSpeedButton* up = w.Interval->Buttons()->UpButton();
    QTest::mousePress(up, Qt::LeftButton);
    QTest::qWait(1050);
    QTest::mouseRelease(up, Qt::LeftButton);
    const int steps = (w.Interval->Value() - 1000) / 100;
    QVERIFY2(steps >= 7 && steps <= 9, qPrintable(QString::number(steps)));
    QCOMPARE(int(w.Changes.count(u';')), steps);
  }

  void HandlerWritingAnotherFieldNests() {
    TWindow w;
    QStringList order;
    QObject::connect(w.P, &TSpinEditBase::OnChange, [&] {
      w.Interval->SetValue(502);
      order << "P's handler ends";
    });
    QObject::connect(w.Interval, &TSpinEditBase::OnChange,
                     [&] { order << "Interval's handler sees " + w.P->Text(); });
    w.P->SetFloatValue(2);
    QCOMPARE(order, (QStringList{"Interval's handler sees 2.0000000", "P's handler ends"}));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TSpinEditTest test;
  // The user's locale decides only the thousands separator; every text keeps ".".
  const QLocale locales[] = {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                             QLocale(QLocale::English, QLocale::UnitedStates)};
  int failures = 0;
  for (const QLocale& locale : locales) {
    QLocale::setDefault(locale);
    TAdvSpinEdit::SetUserLocale(locale);
    failures += QTest::qExec(&test, argc, argv);
  }
  return failures;
}

#include "spinedit_test.moc"
