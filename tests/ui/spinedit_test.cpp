// Widget tests of the numeric entry fields: keys, arrow buttons with their repeat timer,
// entering and leaving, change notifications and the text colour. The suite runs once per
// locale (C, German with "," decimals and "." thousands, English with "," thousands).

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "ui/spinedit.h"

namespace {

// A window with fields configured as the tool's parameter and monitor tabs configure them.
struct TWindow {
  QWidget Root;
  TAdvSpinEdit* P = new TAdvSpinEdit(&Root);
  TAdvSpinEdit* Deadband = new TAdvSpinEdit(&Root);
  TAdvSpinEdit* ChargeElcos = new TAdvSpinEdit(&Root);
  TAdvSpinEdit* PhaseAdvance = new TAdvSpinEdit(&Root);
  TAdvSpinEdit* SVMCycle = new TAdvSpinEdit(&Root);
  TSpinEdit* SampleInterval = new TSpinEdit(&Root);
  TSpinEdit* Movement = new TSpinEdit(&Root);
  QPushButton* Other = new QPushButton(QStringLiteral("Other"), &Root);
  QStringList Changes;  // "<field>=<text>" per OnChange

  TWindow() {
    auto* layout = new QVBoxLayout(&Root);
    const QList<QWidget*> fields{P, Deadband, ChargeElcos, PhaseAdvance, SVMCycle, SampleInterval,
                                 Movement, Other};
    for (QWidget* w : fields) layout->addWidget(w);
    P->setObjectName("P");
    P->SetSpinType(sptFloat);
    P->SetPrecision(7);
    P->SetIncrementFloat(0.00001);
    P->SetIncrementFloatPage(1.0);
    Deadband->setObjectName("Deadband");
    Deadband->SetPrecision(7);
    ChargeElcos->setObjectName("ChargeElcos");
    ChargeElcos->SetMaxValue(1);
    PhaseAdvance->setObjectName("PhaseAdvance");
    PhaseAdvance->SetMaxValue(1023);
    SVMCycle->setObjectName("SVMCycle");
    SVMCycle->SetMinValue(1);
    SVMCycle->SetMaxValue(4);
    SVMCycle->SetValue(1);
    SampleInterval->setObjectName("SampleInterval");
    SampleInterval->SetIncrement(100);
    SampleInterval->SetMinValue(200);
    SampleInterval->SetMaxValue(200000);
    SampleInterval->SetValue(1000);
    Movement->setObjectName("Movement");
    Movement->SetIncrement(10);
    for (auto* f : Root.findChildren<TSpinEditBase*>()) {
      QObject::connect(f, &TSpinEditBase::OnChange, [this](QObject* sender) {
        Changes << sender->objectName() + "=" + static_cast<TSpinEditBase*>(sender)->Text();
      });
      f->Loaded();
    }
    Root.show();
    QApplication::setActiveWindow(&Root);
    if (!QTest::qWaitForWindowActive(&Root)) qWarning("window not active");
  }

  // Gives a field the focus as Tab would (which selects all).
  void Enter(QWidget* field) {
    if (field->hasFocus()) Other->setFocus(Qt::TabFocusReason);
    field->setFocus(Qt::TabFocusReason);
  }
  // Moves the focus to the push button, leaving the focused field.
  void Leave() { Other->setFocus(Qt::TabFocusReason); }
};

int gAlerts = 0;

}  // namespace

class TSpinEditTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    gAlerts = 0;
    TSpinEditBase::SetAlertSound([] { ++gAlerts; });
  }

  void BuildingRaisesNothingAndFormsTextsWithPoint() {
    TWindow w;
    QCOMPARE(w.Changes, QStringList());
    QCOMPARE(w.P->Text(), QStringLiteral("0.0000000"));
    QCOMPARE(w.Deadband->Text(), QStringLiteral("0"));
    QCOMPARE(w.SVMCycle->Text(), QStringLiteral("1"));
    QCOMPARE(w.SampleInterval->Text(), QStringLiteral("1000"));
  }

  void ArrowKeysStepFloatFieldOnceEach() {
    TWindow w;
    w.Enter(w.P);
    QTest::keyClick(w.P, Qt::Key_Down);
    QCOMPARE(w.Changes, QStringList{"P=-0.0000100"});
    QTest::keyClick(w.P, Qt::Key_Up);
    QCOMPARE(w.Changes.last(), QStringLiteral("P=0.0000000"));
    QTest::keyClick(w.P, Qt::Key_PageUp);
    QCOMPARE(w.P->Text(), QStringLiteral("1.0000000"));
    QTest::keyClick(w.P, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(w.P->Text(), QStringLiteral("1.0000100"));
    QTest::keyClick(w.P, Qt::Key_PageDown);
    QCOMPARE(w.P->Text(), QStringLiteral("0.0000100"));
    QCOMPARE(w.Changes.size(), 5);
  }

  void KeyStepPutsCaretBack() {
    TWindow w;
    w.Enter(w.P);
    w.P->setCursorPosition(3);
    QTest::keyClick(w.P, Qt::Key_Up);
    QCOMPARE(w.P->cursorPosition(), 3);
    QVERIFY(!w.P->hasSelectedText());
    w.P->setSelection(2, 3);
    QTest::keyClick(w.P, Qt::Key_Down);
    QCOMPARE(w.P->selectionStart(), 2);
    QCOMPARE(w.P->selectedText().size(), 3);
  }

  void TypingOverSelectionNotifiesPerCharacterAndLeavingRewrites() {
    TWindow w;
    w.Enter(w.P);
    QVERIFY(w.P->hasSelectedText());
    QTest::keyClicks(w.P, QStringLiteral("0.5"));
    QCOMPARE(w.Changes, (QStringList{"P=0", "P=0.", "P=0.5"}));
    QTest::keyClick(w.P, Qt::Key_Tab);
    QCOMPARE(w.Changes.size(), 4);
    QCOMPARE(w.P->Text(), QStringLiteral("0.5000000"));
  }

  void FullDecimalsRefuseWithAlertButBackspaceDeletes() {
    TWindow w;
    w.P->SetFloatValue(0.1234567);
    w.Enter(w.P);
    w.P->end(false);
    const int before = int(w.Changes.size());
    QTest::keyClick(w.P, Qt::Key_5);
    QTest::keyClick(w.P, Qt::Key_Minus);
    QCOMPARE(w.P->Text(), QStringLiteral("0.1234567"));
    QCOMPARE(gAlerts, 2);
    QTest::keyClick(w.P, Qt::Key_Backspace);
    QCOMPARE(w.P->Text(), QStringLiteral("0.123456"));
    w.P->setCursorPosition(1);
    QTest::keyClick(w.P, Qt::Key_3);
    QCOMPARE(w.P->Text(), QStringLiteral("03.123456"));
    QCOMPARE(int(w.Changes.size()), before + 2);
  }

  void LonePointReadsZeroAndLeavesAsZero() {
    TWindow w;
    w.Enter(w.P);
    QTest::keyClick(w.P, Qt::Key_Period);
    QCOMPARE(w.P->Text(), QStringLiteral("."));
    QCOMPARE(w.P->FloatValue(), 0.0);
    w.Leave();
    QCOMPARE(w.P->Text(), QStringLiteral("0.0000000"));
  }

  void ThousandsSeparatorOfUserLocaleTypesPoint() {
    TWindow w;
    const QChar sep = TAdvSpinEdit::UserThousandsSeparator();
    if (sep.isNull()) QSKIP("the locale has no thousands separator");
    w.Enter(w.P);
    QTest::keyClicks(w.P, QStringLiteral("1") + sep + QStringLiteral("5"));
    QCOMPARE(w.P->Text(), QStringLiteral("1.5"));
    QCOMPARE(w.P->FloatValue(), 1.5);
    QTest::keyClick(w.P, Qt::Key_Comma);  // a second point, or the decimal comma: refused
    QCOMPARE(w.P->Text(), QStringLiteral("1.5"));
    QCOMPARE(gAlerts, 1);
  }

  void ReadRoundsToShownValue() {
    TWindow w;
    w.P->SetFloatValue(0.123456789);
    QCOMPARE(w.P->Text(), QStringLiteral("0.1234568"));
    QCOMPARE(w.P->FloatValue(), 0.1234568);
  }

  void FloatWrittenIntoIntegerFieldStepsFromMinValue() {
    TWindow w;
    w.Deadband->SetFloatValue(12);
    QCOMPARE(w.Deadband->Text(), QStringLiteral("12.0000000"));
    QCOMPARE(w.Deadband->FloatValue(), 12.0);
    QCOMPARE(w.Deadband->Value(), 0);
    w.Enter(w.Deadband);
    QTest::keyClick(w.Deadband, Qt::Key_Up);
    QCOMPARE(w.Deadband->Text(), QStringLiteral("1"));
    QTest::keyClick(w.Deadband, Qt::Key_Period);
    QCOMPARE(w.Deadband->Text(), QStringLiteral("1"));
    QCOMPARE(gAlerts, 1);
  }

  void StepStoppedAtLimitNotifiesNothing() {
    TWindow w;
    w.ChargeElcos->SetValue(1);
    w.Changes.clear();
    w.Enter(w.ChargeElcos);
    QTest::keyClick(w.ChargeElcos, Qt::Key_Up);
    QCOMPARE(w.Changes, QStringList());
    QTest::keyClick(w.ChargeElcos, Qt::Key_Down);
    QCOMPARE(w.Changes, QStringList{"ChargeElcos=0"});
  }

  void LimitsApplyOnLeavingNotWhileTyping() {
    TWindow w;
    w.Enter(w.PhaseAdvance);
    QTest::keyClicks(w.PhaseAdvance, QStringLiteral("2000"));
    QCOMPARE(w.PhaseAdvance->Value(), 2000);
    w.Changes.clear();
    w.Leave();
    QCOMPARE(w.Changes, QStringList{"PhaseAdvance=1023"});
  }

  void EmptiedFieldStaysEmptyOnLeaving() {
    TWindow w;
    w.Enter(w.SVMCycle);
    QTest::keyClick(w.SVMCycle, Qt::Key_Delete);
    QCOMPARE(w.SVMCycle->Text(), QString());
    QCOMPARE(w.SVMCycle->Value(), 0);
    w.Leave();
    QCOMPARE(w.SVMCycle->Text(), QString());
  }

  void PastedGarbageReadsZeroAndLeavesAsZero() {
    TWindow w;
    w.Enter(w.P);
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    w.P->paste();
    QCOMPARE(w.P->Text(), QStringLiteral("abc"));
    QCOMPARE(w.Changes, QStringList{"P=abc"});
    QCOMPARE(w.P->FloatValue(), 0.0);
    w.Leave();
    QCOMPARE(w.P->Text(), QStringLiteral("0.0000000"));
  }

  void SignKeysChangeNothingInParameterFields() {
    TWindow w;
    for (TAdvSpinEdit* f : {w.P, w.Deadband}) {
      w.Enter(f);
      QTest::keyClick(f, Qt::Key_Minus);
      QTest::keyClick(f, Qt::Key_Plus);
      QTest::keyClick(f, Qt::Key_Return);
    }
    QCOMPARE(w.P->Text(), QStringLiteral("0.0000000"));
    QCOMPARE(w.Deadband->Text(), QStringLiteral("0"));
    QCOMPARE(w.Changes, QStringList());
    QCOMPARE(gAlerts, 0);
  }

  void SpinEditKeepsUnparsableTextAndClampsOnLeaving() {
    TWindow w;
    w.Enter(w.SampleInterval);
    QTest::keyClicks(w.SampleInterval, QStringLiteral("1.5"));
    QCOMPARE(w.SampleInterval->Value(), 200);
    w.Leave();
    QCOMPARE(w.SampleInterval->Text(), QStringLiteral("1.5"));
    w.Enter(w.SampleInterval);
    QTest::keyClicks(w.SampleInterval, QStringLiteral("150"));
    QCOMPARE(w.SampleInterval->Value(), 150);
    w.Changes.clear();
    w.Leave();
    QCOMPARE(w.Changes, QStringList{"SampleInterval=200"});
    w.Enter(w.SampleInterval);
    QTest::keyClick(w.SampleInterval, Qt::Key_Down);
    QTest::keyClick(w.SampleInterval, Qt::Key_PageUp);
    QCOMPARE(w.Changes.size(), 1);
    QTest::keyClick(w.SampleInterval, Qt::Key_Return);
    QCOMPARE(gAlerts, 1);
  }

  void WritingShownValueNotifiesNothing() {
    TWindow w;
    w.Movement->SetValue(0);
    QCOMPARE(w.Changes, QStringList());
    w.Movement->SetValue(50);
    w.Movement->SetValue(0);
    QCOMPARE(w.Changes, (QStringList{"Movement=50", "Movement=0"}));
    w.Movement->SetValue(-100);  // no limits
    QCOMPARE(w.Movement->Text(), QStringLiteral("-100"));
  }

  void ColourStaysThroughTypingAndSteps() {
    TWindow w;
    const TColor initial = w.P->FontColor();
    QCOMPARE(initial, FromQColor(w.P->palette().color(QPalette::Text)));
    w.P->SetFontColor(clRed);
    QCOMPARE(w.Changes, QStringList());
    w.Enter(w.P);
    QTest::keyClicks(w.P, QStringLiteral("1"));
    QTest::keyClick(w.P, Qt::Key_Up);
    w.P->SetFloatValue(3);
    QCOMPARE(w.P->FontColor(), clRed);
    QCOMPARE(w.P->palette().color(QPalette::Text), ToQColor(clRed));
    w.P->SetFontColor(clGreen);
    QCOMPARE(w.P->FontColor(), clGreen);
  }

  void HandlerWritingAnotherFieldNests() {
    TWindow w;
    QStringList order;
    QObject::connect(w.P, &TSpinEditBase::OnChange, [&] {
      order << "P begins";
      w.Movement->SetValue(int(w.P->FloatValue()) + 5);
      order << "P ends";
    });
    QObject::connect(w.Movement, &TSpinEditBase::OnChange,
                     [&] { order << "Movement sees " + w.P->Text(); });
    w.P->SetFloatValue(2);
    QCOMPARE(order, (QStringList{"P begins", "Movement sees 2.0000000", "P ends"}));
    QCOMPARE(w.Movement->Text(), QStringLiteral("7"));
  }

  void ButtonPressFocusesAndSelectsAllClickIntoTextDoesNot() {
    TWindow w;
    w.Leave();
    QTest::mouseClick(w.Movement->Buttons()->UpButton(), Qt::LeftButton);
    QVERIFY(w.Movement->hasFocus());
    QCOMPARE(w.Movement->Text(), QStringLiteral("10"));
    // Selected all ("0") before; the text grew, so caret to end is selected.
    QCOMPARE(w.Movement->selectedText(), QStringLiteral("10"));
    w.Leave();
    QTest::mouseClick(w.P, Qt::LeftButton, {}, QPoint(3, w.P->height() / 2));
    QVERIFY(w.P->hasFocus());
    QVERIFY(!w.P->hasSelectedText());
  }

  void ButtonStepMovesCaretWithMinus() {
    TWindow w;
    w.Enter(w.P);
    QTest::mouseClick(w.P->Buttons()->DownButton(), Qt::LeftButton);
    QCOMPARE(w.P->Text(), QStringLiteral("-0.0000100"));
    QCOMPARE(w.P->selectionStart(), 1);
    QCOMPARE(w.P->selectedText(), QStringLiteral("0.0000100"));
  }

  void OnlyLeftButtonAndReleaseOverButtonStep() {
    TWindow w;
    TTimerSpeedButton* up = w.Movement->Buttons()->UpButton();
    QTest::mouseClick(up, Qt::RightButton);
    QCOMPARE(w.Movement->Text(), QStringLiteral("0"));
    QTest::mousePress(up, Qt::LeftButton);
    QTest::mouseMove(up, QPoint(-30, -30));
    QTest::mouseRelease(up, Qt::LeftButton, {}, QPoint(-30, -30));
    QCOMPARE(w.Movement->Text(), QStringLiteral("0"));
  }

  void HeldButtonRepeats() {
    TWindow w;
    TTimerSpeedButton* up = w.Movement->Buttons()->UpButton();
    QElapsedTimer clock;
    clock.start();
    QTest::mousePress(up, Qt::LeftButton);
    QTest::qWait(1050);
    QTest::mouseRelease(up, Qt::LeftButton);
    // Ticks at 400, 500, ... 1000 ms and one on release: eight steps of 10; timing on a
    // loaded machine may shift a tick, hence the margin.
    const int steps = w.Movement->Value() / 10;
    QVERIFY2(steps >= 7 && steps <= 9, qPrintable(QString::number(steps)));
    QCOMPARE(int(w.Changes.size()), steps);
    QTest::mouseClick(up, Qt::LeftButton);
    QCOMPARE(w.Movement->Value(), (steps + 1) * 10);
  }

  void WheelDoesNotStep() {
    TWindow w;
    w.Enter(w.P);
    QWheelEvent wheel(QPointF(5, 5), w.P->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.P, &wheel);
    QCOMPARE(w.P->Text(), QStringLiteral("0.0000000"));
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
    qInfo("locale %s", qPrintable(locale.name()));
    failures += QTest::qExec(&test, argc, argv);
  }
  return failures;
}

#include "spinedit_test.moc"
