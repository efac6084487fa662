// The main window as a whole, driven through its controls against the simulated board.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <tuple>
#include <utility>

#include "linestate.h"
#include "tests/monitor/manualclock.h"
#include "mainwindowfixture.h"
#include "monitor/chart.h"
#include "monitor/sampletimer.h"
#include "parameters/paramtable.h"
#include "ui/qcolors.h"

namespace {

using zirvsim::TBoardParams;
using zirvsim::TFault;

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes the next run of the file dialog pick fileName (the proposed name when empty).
void AnswerDialog(QFileDialog* dialog, const QString& fileName) {
  QTimer::singleShot(0, dialog, [dialog, fileName] {
    if (!fileName.isEmpty()) dialog->selectFile(fileName);
    static_cast<QDialog*>(dialog)->accept();  // the file dialog checks the name first
  });
}

// Returns how far the motor overshot a step test of 100 counts with the board's P set to p: the
// largest excursion of the error points beyond zero, or -1 when the test drew no full trace.
double StepOvershoot(double p) {
  TMainFixture f;
  TBoardParams params = f.Sim.Params();
  params.P = p;
  f.Sim.SetParams(params);
  f.ConnectToMonitor();
  f.Window->seSICommandStep->SetValue(100);
  Click(f.Window->btLaunchSITest);
  const std::vector<double> errors = f.Window->Chart1->Series1.YValues();
  if (errors.size() != 199) return -1;
  return std::max(0.0, -*std::min_element(errors.begin(), errors.end()));
}

// Returns a descriptor of this process open on the device at path (the simulator keeps one),
// or -1.
int OpenDescriptorOf(const std::string& path) {
  const QDir fds(QStringLiteral("/proc/self/fd"));
  for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
    if (QFile::symLinkTarget(fds.filePath(fd)) == QString::fromStdString(path)) return fd.toInt();
  }
  return -1;
}

}  // namespace

class TMainWindowTest : public TMainWindowSuite {
  Q_OBJECT

 private slots:
  void StartsDisconnectedAndExits() {
    QCOMPARE(w->windowTitle(), QStringLiteral("ZIRV7 Tuning Tool Version 0.1"));
    // The platform appends the application's display name to a caption that does not end with
    // it ("... Version 0.1 \u2014 ZIRV7 Tuning Tool"); the caption must reach it unchanged.
    const QString displayName = QApplication::applicationDisplayName();
    QVERIFY2(w->windowTitle().endsWith(displayName), qPrintable(displayName));
    QVERIFY(w->btConnect->isEnabled() && w->cbPort->isEnabled() && !w->btDisconnect->isEnabled());
    QVERIFY(!w->tsParameters->isEnabled() && !w->tsRTMonitor->isEnabled());
    QCOMPARE(w->cbPort->currentText(), QStringLiteral("COM1"));
    QCOMPARE(w->cbPort->itemText(w->cbPort->count() - 1), QStringLiteral("COM32"));
    QCOMPARE(w->PageControl1->currentWidget(), w->tsParameters);
    QVERIFY(w->SampleTimer->Enabled() && w->SampleTimer->Interval() == 1000);
    // Showing again must not replace the received-line list, nor lose what it holds.
    QStringList* lineBuf = w->Channel.LineBuf.get();
    lineBuf->append(QStringLiteral("kept\r"));
    w->FormShow();
    QVERIFY(w->Channel.LineBuf.get() == lineBuf && *lineBuf == QStringList{"kept\r"});
    w->Exit1->trigger();
    QVERIFY(!w->isVisible());
  }

  void ConnectDisconnectConnectAgain() {
    for (int round = 0; round < 2; ++round) {
      w->Channel.RS232Buf = QStringLiteral("partial");
      w->Channel.FWaitRS232 = true;
      F->Connect();
      QVERIFY(w->ComPort1.Connected() && w->ComPort1.BaudRate() == br57600);
      QVERIFY(w->Channel.RS232Buf.isEmpty() && !w->Channel.FWaitRS232);
      QVERIFY(!w->btConnect->isEnabled() && !w->cbPort->isEnabled());
      QVERIFY(w->btDisconnect->isEnabled() && w->tsParameters->isEnabled());
      QVERIFY(w->tsRTMonitor->isEnabled());
      w->Channel.RS232Buf = QStringLiteral("partial");
      Click(w->btDisconnect);
      QVERIFY(!w->ComPort1.Connected() && w->btConnect->isEnabled());
      QVERIFY(!w->tsParameters->isEnabled() && w->Channel.RS232Buf.isEmpty());
    }
  }

  // Whatever state the device was left in, the window's port makes it the board's line: 57600
  // bit/s, 8N1, raw, no flow control, and watches arrivals only.
  void ConnectSetsUpTheBoardLine() {
    const int fd = OpenDescriptorOf(F->Sim.DevicePath());
    QVERIFY(ScrambleLine(fd));
    F->Connect();
    QVERIFY(w->ComPort1.Connected() && w->ComPort1.Events() == TComEvents{evRxChar});
    QCOMPARE(DescribeLine(fd),
             QStringLiteral("57600 bit/s, 8 bits, parity off, 1 stop bit, raw, flow control: none"));
  }

  void FailedConnectLeavesControlsDisconnected() {
    QFile::link(QStringLiteral("/nonexistent/zirv7-device"),
                F->ConfigDir.filePath(QStringLiteral("zirv7tune/ports/COM12")));
    F->Connect(QStringLiteral("COM12"));
    const QStringList errors = std::exchange(F->Errors, {});
    QVERIFY2(errors.size() == 1 && errors[0].startsWith(QStringLiteral("Unable to open com port")),
             qPrintable(errors.join(u'\n')));
    QVERIFY(!w->ComPort1.Connected() && w->btConnect->isEnabled() && !w->tsParameters->isEnabled());
  }

  void RegionsStackAndExtraHeightGoesToTheLog() {
    QCOMPARE(w->centralWidget()->size(), QSize(780, 608));
    w->resize(w->width(), w->height() + 200);
    QCoreApplication::processEvents();
    // The platform may cap the window at its screen's height; whatever was gained goes to the log.
    QVERIFY(w->centralWidget()->height() > 608);
    QCOMPARE(w->PageControl1->height(), 472);
    QCOMPARE(w->Panel2->height(), w->centralWidget()->height() - 33 - 472 - 3);
  }

  // Assistive technology reads each control's name, or the caption of the label it is labelled
  // by (the buddy), as the port selector and every entry field are.
  void ControlsCarryTheNamesPeopleRead() {
    QCOMPARE(w->lbPort->buddy(), w->cbPort);
    const auto name = [](QWidget* widget) {
      return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    const std::pair<QWidget*, const char*> names[] = {
        {w->btReadBoardParams, "Read ZIRV parameters"},
        {w->cbLiveSet, "Set when changing"}, {w->seParametersSVMCycle, "SVM Cycle time (c):"},
        {w->Panel2->reLog, "RS232 logging:"},
    };
    for (const auto& [widget, caption] : names) QCOMPARE(name(widget), QLatin1String(caption));
    for (auto* field : w->findChildren<TSpinEditBase*>())
      QVERIFY2(!name(field).isEmpty(), qPrintable(field->objectName()));
  }

  // A screen reader reads a status value as its caption and the value ("Error: -3.25"): the
  // value label is named by the text it shows, in step with each sample, and labelled by its
  // caption. A label named by its caption was read as "Error: Error:".
  void StatusValuesAreReadWithTheirCaptions() {
    F->ConnectToMonitor();
    zirvsim::TStatusOverride status;
    status.Error = -3.25;
    status.Output = 41.5;
    F->Sim.SetStatusOverride(status);
    Click(w->btSampleStatus);
    const std::pair<QLabel*, const char*> rows[] = {
        {w->lbStatusError, "Error:"}, {w->lbStatusOutput, "Output:"},
        {w->lbStatusTestOsc, "Test Osc:"}};
    for (const auto& [label, caption] : rows) {
      QAccessibleInterface* value = QAccessible::queryAccessibleInterface(label);
      QCOMPARE(value->text(QAccessible::Name), label->text());
      // The caption comes first; the group box ("Status") labels it as well.
      const auto labelledBy = value->relations(QAccessible::Label);
      QVERIFY(!labelledBy.isEmpty());
      QCOMPARE(labelledBy[0].first->text(QAccessible::Name), QLatin1String(caption));
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(w->lbStatusError)->text(QAccessible::Name),
             QStringLiteral("-3.25"));
  }

  // A red field's tooltip and accessible description tell what the board holds, a green one
  // has none; before any read nothing is known of the board, and the tip says so. The chart
  // tells its mouse gestures, which nothing else in the window shows.
  void TooltipsTellWhatTheWindowDoesNotShow() {
    auto description = [](QWidget* widget) {
      return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description);
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.pset"));
    WriteFile(path, "[ZIRVParam]\r\nP=0.5\r\n");
    w->LoadParameterFile(path);
    QCOMPARE(w->seParametersP->toolTip(), QStringLiteral("Board: not read yet"));
    F->ConnectAndRead();
    QCOMPARE(w->seParametersP->toolTip(), QString());
    TypeInto(w->seParametersP, QStringLiteral("0.5"));
    TypeInto(w->seParametersMaxOutput, QStringLiteral("50"));
    const std::pair<QWidget*, const char*> rows[] = {
        {w->seParametersP, "Board: 0.2"}, {w->seParametersMaxOutput, "Board: 95"},
        {w->seParametersI, ""}};
    for (const auto& [field, tip] : rows) {
      QCOMPARE(field->toolTip(), QString::fromLatin1(tip));
      QCOMPARE(description(field), QString::fromLatin1(tip));
    }
    const QString gestures = w->Chart1->toolTip();
    for (const char* part : {"drag to the right", "drag to the left", "right mouse button"})
      QVERIFY2(gestures.contains(QLatin1String(part)), part);
    QCOMPARE(description(w->Chart1), gestures);
  }

  void ReadShowsAndMarksWhatFieldsCanHold() {
    const struct {
      const char* Key;  // the row's file key
      double TBoardParams::*Field;
      double Board;
      const char* Shown;
      const char* Marks;
      const char* Sent;  // by the Write that follows
      double Stored;     // in ActPIDParams after that Write
    } rows[] = {
        // FaultError is compared after rounding; with nothing red, Write sends nothing.
        {"FaultError", &TBoardParams::FaultError, 999.5, "1000", "GGGGGGGGGGGGGG", nullptr, 999.5},
        // P with more decimals than shown stays red.
        {"P", &TBoardParams::P, 0.000123456, "0.0001235", "RGGGGGGGGGGGGG", "p 0.0001235", 0.0001235},
        // MaxOutput is shown rounded but compared unrounded.
        {"MaxOutput", &TBoardParams::MaxOutput, 95.4, "95", "GGGGRGGGGGGGGG", "m 95", 95},
    };
    F->Connect();
    // Never marked, nothing is red: Write sends nothing, then marks the fields against the
    // never-read (all-zero) record, where only SVM Cycle (1) differs.
    QCOMPARE(F->Marks(), QString(14, u'-'));
    Click(w->btWriteBoardParams);
    QCOMPARE(F->TakeWire(), TWire{});
    QCOMPARE(F->LogTexts().constLast(), QStringLiteral("OK writing params"));
    QCOMPARE(F->Marks(), QStringLiteral("GGGGGGGGGGGGGR"));
    for (const auto& r : rows) {
      TBoardParams params;
      params.*r.Field = r.Board;
      F->Sim.SetParams(params);
      Click(w->btReadBoardParams);
      QCOMPARE(w->ParameterFields.at(RowIndexOf(r.Key))->Text(), QLatin1String(r.Shown));
      QCOMPARE(F->Marks(), QLatin1String(r.Marks));
      QCOMPARE(F->TakeWire(), TWire{"l"});  // nothing stray from the write before
      Click(w->btWriteBoardParams);
      QCOMPARE(F->TakeWire(), r.Sent ? TWire{r.Sent} : TWire{});
      QCOMPARE(F->LogTexts().constLast(), QStringLiteral("OK writing params"));
      QCOMPARE(w->ActPIDParams.*ParamTable().at(RowIndexOf(r.Key)).DoubleField, r.Stored);
      QCOMPARE(F->Marks(), QString(14, u'G'));
    }
    QCOMPARE(F->LogColour(QStringLiteral("OK writing params")), ToQColor(clRed));
  }

  // Red rows go out in the table's order; one the board answers otherwise (it clamps MaxOutput)
  // stays red. A row without answer ends the write, and the rows written stay red.
  void WriteSendsRedRowsInTableOrderUntilATimeout() {
    F->ConnectAndRead();
    TypeInto(w->seParametersMaxOutput, QStringLiteral("150"));
    TypeInto(w->seParametersD, QStringLiteral("0.25"));
    TypeInto(w->seParametersP, QStringLiteral("0.5"));
    QCOMPARE(F->Marks(), QStringLiteral("RGRGRGGGGGGGGG"));
    Click(w->btWriteBoardParams);
    QCOMPARE(F->TakeWire(), (TWire{"p 0.5", "d 0.25", "m 150"}));
    QVERIFY(w->ActPIDParams.D == 0.25 && w->ActPIDParams.MaxOutput == 100);
    QCOMPARE(w->seParametersMaxOutput->Text(), QStringLiteral("150"));
    QCOMPARE(F->Marks(), QStringLiteral("GGGGRGGGGGGGGG"));
    TypeInto(w->seParametersFF0, QStringLiteral("0.5"));
    TypeInto(w->seParametersI, QStringLiteral("0.5"));
    F->Sim.ScriptAnswer("0", {});  // the "0" command gets no answer at all
    Click(w->btWriteBoardParams);
    QCOMPARE(F->TakeWire(), (TWire{"i 0.5", "m 150", "0 0.5"}));
    QCOMPARE(F->LogTexts().mid(F->LogTexts().size() - 2),
             (QStringList{"Timeout", "Error writing params"}));
    QCOMPARE(F->LogColour(QStringLiteral("Error writing params")), ToQColor(clRed));
    QVERIFY(w->ActPIDParams.I == 0.5 && w->ActPIDParams.FF0 == 0);
    QCOMPARE(F->Marks(), QStringLiteral("GRGGRRGGGGGGGG"));
  }

  // An echo with an unreadable number ends the write with the conversion error alone: no
  // outcome line, the rows after it unsent, the record unchanged. The next Write sends both.
  void MalformedEchoEndsTheWriteWithItsError() {
    const TBoardParams board;
    F->ConnectAndRead(board);
    TypeInto(w->seParametersP, QStringLiteral("0.5"));
    TypeInto(w->seParametersD, QStringLiteral("0.25"));
    F->Sim.SetFault(TFault::MalformedNumber, 0);
    Click(w->btWriteBoardParams);
    QCOMPARE(std::exchange(F->Errors, {}),
             QStringList{QStringLiteral("'1.2.3' is not a valid floating point value")});
    QCOMPARE(F->TakeWire(), TWire{"p 0.5"});
    QVERIFY(w->ActPIDParams.P == board.P && w->SampleTimer->Enabled());
    const QStringList log = F->LogTexts();
    QVERIFY(!log.contains(QStringLiteral("OK writing params")));
    QVERIFY(!log.contains(QStringLiteral("Error writing params")));
    F->Sim.SetFault(TFault::None);
    Click(w->btWriteBoardParams);
    QCOMPARE(F->TakeWire(), (TWire{"p 0.5", "d 0.25"}));
    QCOMPARE(F->Marks(), QString(14, u'G'));
  }

  // The timer is off while Read and Write wait for the board, and keeps its state after a
  // failure, as do the fields' texts and marks: a read that fails shows none of the board's
  // new values, also when it parsed some of them before the line that failed.
  void SamplingTimerStateSurvivesReadAndWrite() {
    F->ConnectAndRead();
    TBoardParams changed;
    changed.P = 0.75;
    changed.SVMCycle = 2;
    F->Sim.SetParams(changed);
    bool enabledDuringExchange = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] { enabledDuringExchange |= w->SampleTimer->Enabled(); });
    const struct {
      QPushButton* Button;
      bool Enabled;
      TFault Fault;
      int Param;
    } rows[] = {
        {w->btReadBoardParams, true, TFault::NoAnswer, 0},
        {w->btWriteBoardParams, true, TFault::NoAnswer, 0},
        {w->btReadBoardParams, false, TFault::NoAnswer, 0},
        {w->btWriteBoardParams, false, TFault::NoAnswer, 0},
        {w->btReadBoardParams, true, TFault::CutShort, 1},     // 16 of the 17 lines
        {w->btReadBoardParams, false, TFault::MissingTag, 9},  // "(m)", after "(p)" was read
    };
    for (const auto& r : rows) {
      F->Sim.SetFault(r.Fault, r.Param);
      TypeInto(w->seParametersP, QString::number(r.Enabled));
      const auto fields = std::pair(F->Texts(), F->Marks());
      w->SampleTimer->SetEnabled(r.Enabled);
      w->Channel.FWaitRS232 = false;  // no idle wait left behind by the previous round
      enabledDuringExchange = false;
      probe.start(1);
      Click(r.Button);
      probe.stop();
      QVERIFY(!enabledDuringExchange && w->SampleTimer->Enabled() == r.Enabled);
      const QString outcome = QStringLiteral("Error %1 params")
                                  .arg(r.Button == w->btReadBoardParams ? "reading" : "writing");
      QCOMPARE(F->LogTexts().constLast(), outcome);
      QCOMPARE(F->LogColour(outcome), ToQColor(clRed));
      QVERIFY(std::pair(F->Texts(), F->Marks()) == fields);
    }
  }

  // Loading works while disconnected: missing and malformed keys give defaults, values go
  // through the fields' limits and are marked against the never-read (all-zero) record. A save
  // writes what the fields show.
  void LoadWhileDisconnectedThenSave() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.pset"));
    WriteFile(path, "[zirvparam]\r\np=0.5\r\nI=0.333333333\r\nMaxOutput=95abc\r\nTPSC=0x10\r\n"
                    "SVMCycle=9\r\nPhaseAdvance=-3\r\n");
    w->LoadParameterFile(path);
    QCOMPARE(F->Texts(), (QStringList{"0.5000000", "0.3333333", "0.0000000", "0.0000000", "95",
                                      "0.0000000", "0.0000000", "1000", "1", "16", "50", "0", "0",
                                      "4"}));
    QCOMPARE(F->Marks(), QStringLiteral("RRGGRGGRRRRGGR"));
    const QString saved = dir.filePath(QStringLiteral("saved.pset"));
    w->SaveParameterFile(saved);
    QVERIFY2(ReadFile(saved).startsWith("[ZIRVParam]\r\nP=0.5\r\nI=0.3333333\r\nD=0\r\n"),
             ReadFile(saved).constData());
  }

  // A name without extension gets ".pset"; saving after an open proposes the opened file and
  // overwrites it as accepted.
  void DialogsPickRememberAndPassOnNames() {
    QTemporaryDir dir;
    w->seParametersP->SetFloatValue(0.5);
    AnswerDialog(w->SaveDialog1, dir.filePath(QStringLiteral("first")));
    w->SaveParameters1->trigger();
    QVERIFY(ReadFile(dir.filePath(QStringLiteral("first.pset"))).contains("\r\nP=0.5\r\n"));
    const QString opened = dir.filePath(QStringLiteral("opened.pset"));
    WriteFile(opened, "[ZIRVParam]\r\nP=0.25\r\n");
    AnswerDialog(w->OpenDialog1, opened);
    w->Open1->trigger();
    QCOMPARE(w->seParametersP->Text(), QStringLiteral("0.2500000"));
    w->seParametersP->SetFloatValue(0.75);
    AnswerDialog(w->SaveDialog1, QString());
    w->SaveParameters1->trigger();
    QVERIFY2(ReadFile(opened).contains("\r\nP=0.75\r\n"), ReadFile(opened).constData());
  }

  void FailedSaveReachesTheErrorReportOnly() {
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing/p.pset"));
    const QStringList log = F->LogTexts();
    w->SaveDialog1->setDirectory(dir.path());
    AnswerDialog(w->SaveDialog1, missing);
    w->SaveParameters1->trigger();
    QCOMPARE(std::exchange(F->Errors, {}),
             QStringList{QStringLiteral("Unable to write to ") + missing});
    QCOMPARE(F->LogTexts(), log);
  }

  // A failing sample logs its failure and keeps labels and chart; the next one, after the idle
  // wait the failure left behind, shows each status line in its label and adds the next point.
  // A whole session under a "," locale: the board, the fields and the file still use ".".
  void WholeSessionUnderACommaLocale() {
    const QLocale german(QLocale::German, QLocale::Germany);
    QLocale::setDefault(german);
    TAdvSpinEdit::SetUserLocale(german);
    const auto restore = qScopeGuard([] {
      QLocale::setDefault(QLocale::c());
      TAdvSpinEdit::SetUserLocale(std::nullopt);
    });
    TBoardParams board;
    board.P = 0.0125;
    F->ConnectAndRead(board);
    QCOMPARE(w->seParametersP->Text(), QStringLiteral("0.0125000"));
    QCOMPARE(F->Marks(), QString(14, u'G'));
    TypeInto(w->seParametersD, QStringLiteral("1.5"));
    TypeInto(w->seParametersTPSC, QStringLiteral("5"));
    Click(w->btWriteBoardParams);
    QCOMPARE(F->TakeWire(), (TWire{"d 1.5", "t 5"}));
    QVERIFY(F->Sim.Params().D == 1.5 && F->Sim.Params().TicksPerServo == 5);
    QCOMPARE(F->Marks(), QString(14, u'G'));

    w->PageControl1->setCurrentWidget(w->tsRTMonitor);
    Click(w->btSampleStatus);
    TypeInto(w->seSICommandStep, QStringLiteral("100"));
    Click(w->btLaunchSITest);
    TypeInto(w->seMovement, QStringLiteral("100"));
    Click(w->btSetOscVal);
    Click(w->btStop);
    QCOMPARE(F->TakeWire(), (TWire{"s", "r0c100ok1", "o 29400", "o 0"}));
    QCOMPARE(w->Chart1->Series1.Count(), 1 + 199);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("de.pset"));
    w->SaveParameterFile(path);
    QVERIFY2(ReadFile(path).contains("\r\nP=0.0125\r\nI=0.0005\r\nD=1.5\r\n"),
             ReadFile(path).constData());
    TypeInto(w->seParametersD, QStringLiteral("1"));
    w->LoadParameterFile(path);
    QCOMPARE(w->seParametersD->Text(), QStringLiteral("1.5000000"));
    WriteFile(path, "[ZIRVParam]\r\nP=0.5\r\nI=0,5\r\n");
    w->LoadParameterFile(path);
    QCOMPARE(w->seParametersP->Text(), QStringLiteral("0.5000000"));
    QCOMPARE(w->seParametersI->Text(), QStringLiteral("0.0000000"));  // "," is no decimal point
    QVERIFY(F->TakeWire().empty());  // files never touch the board
  }

  void SampleShowsStatusAndAddsNextPoint() {
    F->ConnectToMonitor();
    F->Sim.SetFault(TFault::MissingTag, 3);
    Click(w->btSampleStatus);
    QCOMPARE(F->LogColour(QStringLiteral("Could not retreive status")), ToQColor(clRed));
    QCOMPARE(w->lbStatusTestOsc->text(), QStringLiteral("No data received yet"));
    QCOMPARE(w->Chart1->Series1.Count(), 0);
    F->Sim.SetFault(TFault::None);
    w->Chart1->AddChartPoint(1, 2);
    F->Sim.SetStatusOverride({.Command = 1200, .Feedback = -17, .Error = -3.25, .ErrorI = 0.5,
                              .ErrorD = -0.0625, .Output = 41.5, .LimitState = 1, .Enabled = 0,
                              .TestOsc = 29400});
    Click(w->btSampleStatus);
    QCOMPARE(F->TakeWire(), (TWire{"s", "s"}));
    const std::pair<QLabel*, const char*> shown[] = {
        {w->lbStatusEnabled, "0"},   {w->lbStatusError, "-3.25"},     {w->lbStatusErrorI, "0.5"},
        {w->lbStatusErrorD, "-0.0625"}, {w->lbStatusEncoder, "-17"},   {w->lbStatusCommand, "1200"},
        {w->lbStatusOutput, "41.5"}, {w->lbStatusOutputLimited, "1"}, {w->lbStatusTestOsc, "29400"},
    };
    for (const auto& [label, text] : shown) QCOMPARE(label->text(), QLatin1String(text));
    QCOMPARE(w->Chart1->Series1.XValues(), (std::vector<double>{1, 2}));
    QCOMPARE(w->Chart1->Series1.YValues(), (std::vector<double>{2, -3.25}));  // "Error"
    QCOMPARE(w->Chart1->Series2.YValues(), (std::vector<double>{1, 41.5}));   // "Output"
  }

  // One sample at each period, counted on the timer's clock: a period that never applied
  // (1000 ms) gives none in the first second, a timer restarted too early more than one a period.
  void AutomaticSamplesAtThePeriod() {
    F->ConnectToMonitor();
    TManualClock& clock = UseManualClock(*w->SampleTimer);
    w->seSampleInterval->SetText(QStringLiteral("200"));
    w->cbSampleAutomatic->setChecked(true);
    QCOMPARE(clock.Advance(199), 0);
    for (int period = 1; period <= 15; ++period) {
      clock.Advance(period == 1 ? 1 : 200);
      QCOMPARE(F->Samples(), period);
    }
    w->cbSampleAutomatic->setChecked(false);
    QCOMPARE(clock.Advance(1000), 5);  // the timer ticks on, and the ticks sample nothing
    QCOMPARE(F->Samples(), 15);
    // Each sample plotted, unless its answer came too late (on a very busy machine).
    const int late = int(F->LogTexts().count(QStringLiteral("Could not retreive status")));
    QCOMPARE(w->Chart1->Series1.Count(), 15 - late);
  }

  // A tick that found the port closed used to end with its error before enabling the timer
  // again, so ticking "Automatic" after reconnecting silently sampled nothing.
  void DisconnectWhileAutomaticRecoversAfterReconnect() {
    F->ConnectToMonitor();
    TManualClock& clock = UseManualClock(*w->SampleTimer);
    w->seSampleInterval->SetText(QStringLiteral("200"));
    w->cbSampleAutomatic->setChecked(true);
    clock.Advance(200);
    QCOMPARE(F->Samples(), 1);
    Click(w->btDisconnect);
    clock.Advance(200);
    QVERIFY(!w->cbSampleAutomatic->isChecked());
    QCOMPARE(clock.Advance(1000), 5);  // later ticks find "Automatic" clear and do nothing
    QCOMPARE(std::exchange(F->Errors, {}), QStringList{QStringLiteral("Port Not Open")});
    QVERIFY(w->SampleTimer->Enabled());
    F->ConnectToMonitor();
    w->cbSampleAutomatic->setChecked(true);
    clock.Advance(200);
    QCOMPARE(F->Samples(), 1);
  }

  // The points of a step test come in one repaint, although they are added while the
  // exchange waits for the board's lines; "auto Fw/Rev:" flips the step after each test.
  void StepTestsRepaintOnceAndFlipWhenAsked() {
    F->ConnectToMonitor();
    Click(w->btSampleStatus);
    w->Chart1->repaint();  // paints what the sample left to paint, now rather than later
    const int paintsBefore = w->Chart1->PaintCount();
    w->seSICommandStep->SetValue(50);
    w->seSIPrediv->SetValue(2);
    w->cbSIAutoFwdRev->setChecked(true);
    Click(w->btLaunchSITest);
    QCOMPARE(w->seSICommandStep->Text(), QStringLiteral("-50"));
    QCOMPARE(w->Chart1->PaintCount(), paintsBefore);  // nothing painted while the points came
    QVERIFY(QTest::qWaitFor([&] { return w->Chart1->PaintCount() > paintsBefore; }));
    QCOMPARE(w->Chart1->PaintCount(), paintsBefore + 1);
    Click(w->btLaunchSITest);
    QCOMPARE(w->seSICommandStep->Text(), QStringLiteral("50"));
    QCOMPARE(F->TakeWire(), (TWire{"s", "r2c50ok1", "r2c-50ok1"}));
    QCOMPARE(w->Chart1->Series2.XValues().back(), 1.0 + 2 * 199);
  }

  // An unreadable number ends the step test with its error; the points before it must stay.
  // With the simulated motor, a higher P shows more overshoot in the step test's points.
  void HigherPOvershootsMore() {
    const double low = StepOvershoot(0.05);
    const double high = StepOvershoot(2.0);
    QVERIFY(low >= 0);
    QVERIFY2(high > low + 5, qPrintable(QStringLiteral("%1 vs %2").arg(high).arg(low)));
  }

  void BadStepNumberKeepsThePointsBefore() {
    F->ConnectToMonitor();
    F->Sim.SetFault(TFault::MalformedNumber, 10);  // the error of the fourth pair
    w->SampleTimer->SetEnabled(false);
    Click(w->btLaunchSITest);
    QCOMPARE(w->Chart1->Series1.Count(), 3);
    QCOMPARE(std::exchange(F->Errors, {}),
             QStringList{QStringLiteral("'1.2.3' is not a valid floating point value")});
    QVERIFY(w->SampleTimer->Enabled());
  }

  // A step answer takes the board about a second to send. Further clicks of "Launch Test"
  // meanwhile start nothing (nor flip the step); another exchange that empties the received
  // lines breaks the answer, and then nothing of it is plotted: the lines left are not its own.
  void StepTestWhileOneWaitsPlotsOnlyWhatTheBoardSent_data() {
    QTest::addColumn<QString>("interrupt");
    QTest::addColumn<QList<int>>("clicksAtMs");
    QTest::addColumn<TWire>("wire");
    QTest::addColumn<int>("points");
    QTest::newRow("double click") << QStringLiteral("btLaunchSITest") << QList<int>{100}
                                  << TWire{"r0c100ok1"} << 199;
    QTest::newRow("triple click") << QStringLiteral("btLaunchSITest") << QList<int>{100, 200}
                                  << TWire{"r0c100ok1"} << 199;
    QTest::newRow("Sample status") << QStringLiteral("btSampleStatus") << QList<int>{100}
                                   << TWire{"r0c100ok1", "s"} << 0;
  }
  void StepTestWhileOneWaitsPlotsOnlyWhatTheBoardSent() {
    QFETCH(QString, interrupt);
    QFETCH(QList<int>, clicksAtMs);
    QFETCH(TWire, wire);
    QFETCH(int, points);
    UseBoard({});  // paced as the serial line would be
    F->ConnectToMonitor();
    w->SampleTimer->SetEnabled(false);
    w->seSICommandStep->SetValue(100);
    w->cbSIAutoFwdRev->setChecked(true);
    auto* button = w->findChild<QPushButton*>(interrupt);
    for (int ms : clicksAtMs) QTimer::singleShot(ms, button, [button] { Click(button); });
    Click(w->btLaunchSITest);
    QCOMPARE(F->TakeWire(), wire);
    QCOMPARE(w->Chart1->Series1.Count(), points);
    if (points > 0) {  // the answer itself: the full step, then the motor following it
      QCOMPARE(w->Chart1->Series1.YValues().front(), 100.0);
      QVERIFY(w->Chart1->Series1.YValues()[10] < 100);
    }
    QCOMPARE(w->seSICommandStep->Value(), -100);  // flipped once, by the test that ran
    if (interrupt == QStringLiteral("btSampleStatus"))
      QVERIFY(F->LogTexts().contains(QStringLiteral("Could not retreive status")));
  }

  // Set sends 2,940,000 / speed rounded half to even, and "o 0" for 0 (no division). Stop sends
  // "o 0"; with "Set when changing" ticked the change to 0 sends it once more.
  void OscillatorCommandsOfSetAndStop() {
    const std::pair<int, const char*> rows[] = {
        {7, "o 420000"},  {3, "o 980000"},    {1000000, "o 3"},   {5880000, "o 0"},
        {1176000, "o 2"}, {-1176000, "o -2"}, {-1, "o -2940000"}, {0, "o 0"}};
    F->ConnectToMonitor();
    for (const auto& [speed, sent] : rows) {
      w->seMovement->SetValue(speed);
      w->SampleTimer->SetEnabled(false);  // Set and Stop enable it whatever it was
      Click(w->btSetOscVal);
      QCOMPARE(F->TakeWire(), TWire{sent});
      QVERIFY(w->SampleTimer->Enabled());
    }
    const std::tuple<bool, int, int> stops[] = {{true, 100, 2}, {true, 0, 1}, {false, 100, 1}};
    for (const auto& [liveSet, before, zeros] : stops) {
      w->cbLiveSet->setChecked(false);
      w->seMovement->SetValue(before);
      w->cbLiveSet->setChecked(liveSet);
      w->SampleTimer->SetEnabled(false);
      Click(w->btStop);
      QVERIFY(w->SampleTimer->Enabled());
      QCOMPARE(w->seMovement->Text(), QStringLiteral("0"));
      QCOMPARE(F->TakeWire(), TWire(zeros, "o 0"));
    }
  }

  // A step of the field while Set waits runs a nested command; the outer one must then end
  // with "Error" instead of reading a line that is not there.
  void NestedOscillatorCommandEndsOuterWithError() {
    F->ConnectToMonitor();
    w->seMovement->SetValue(100);
    w->cbLiveSet->setChecked(true);
    F->Sim.ScriptAnswer("o 29400", {});  // the outer command waits for an answer that never comes
    // In the first poll of the outer command's wait in which the board has that command: the
    // nested command's purge would otherwise discard it on its way.
    QTimer step;
    connect(&step, &QTimer::timeout, [&] {
      if (F->Sim.ReceivedCommands().empty()) return;
      step.stop();
      QTest::keyClick(w->seMovement, Qt::Key_Up);
    });
    step.start(0);
    w->btSetOscVal->click();
    QCOMPARE(F->TakeWire(), (TWire{"o 29400", "o 26727"}));
    QCOMPARE(F->LogTexts().count(QStringLiteral("Error")), 1);
    QCOMPARE(F->LogColour(QStringLiteral("Error")), ToQColor(clRed));
    QVERIFY(!w->Channel.FWaitRS232 && w->SampleTimer->Enabled());
  }
};

int main(int argc, char* argv[]) {
  TMainWindowTest test;
  return ExecOnDesignScreen({&test}, argc, argv);
}
#include "mainwindow_test.moc"
