// The main window as a whole: start-up state, connection control, and the layout.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>

#include "mainfixture.h"
#include "monitor/chart.h"
#include "monitor/sampletimer.h"
#include "ui/spinedit.h"

class TMainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void StartsDisconnectedOnTheParametersPage();
  void ConnectDisconnectConnectAgain();
  void FailedConnectLeavesControlsDisconnected();
  void FormShowTwiceKeepsLineBuf();
  void ReadsParametersFromTheBoard();
  void WholeSessionEndToEnd();
  void ExitClosesTheWindow();
};

void TMainWindowTest::StartsDisconnectedOnTheParametersPage() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QCOMPARE(w.windowTitle(), QStringLiteral("ZIRV7 Tuning Tool Version 0.1"));
  QVERIFY(w.btConnect->isEnabled());
  QVERIFY(w.cbPort->isEnabled());
  QVERIFY(!w.btDisconnect->isEnabled());
  QVERIFY(!w.tsParameters->isEnabled());
  QVERIFY(!w.tsRTMonitor->isEnabled());
  QCOMPARE(w.cbPort->currentText(), QStringLiteral("COM1"));
  QCOMPARE(w.cbPort->count(), 32);
  QCOMPARE(w.cbPort->itemText(31), QStringLiteral("COM32"));
  QCOMPARE(w.PageControl1->currentWidget(), w.tsParameters);
  QVERIFY(!w.ComPort1.Connected());
  QVERIFY(w.Channel.LineBuf != nullptr);
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.0000000"));
  QCOMPARE(w.seParametersSVMCycle->Text(), QStringLiteral("1"));
  QCOMPARE(w.seSampleInterval->Text(), QStringLiteral("1000"));
  QCOMPARE(w.lbStatusError->text(), QStringLiteral("No data received yet"));
  QVERIFY(w.SampleTimer->Enabled());
  QCOMPARE(w.SampleTimer->Interval(), 1000);
  QVERIFY(f.Errors.isEmpty());
}

void TMainWindowTest::ConnectDisconnectConnectAgain() {
  TMainFixture f;
  TfMain& w = *f.Window;
  w.Channel.RS232Buf = QStringLiteral("partial");
  w.Channel.FWaitRS232 = true;
  f.Connect();
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
  QVERIFY(w.ComPort1.Connected());
  QCOMPARE(w.ComPort1.BaudRate(), br57600);
  QVERIFY(w.Channel.RS232Buf.isEmpty());
  QVERIFY(!w.Channel.FWaitRS232);
  QVERIFY(!w.btConnect->isEnabled());
  QVERIFY(!w.cbPort->isEnabled());
  QVERIFY(w.btDisconnect->isEnabled());
  QVERIFY(w.tsParameters->isEnabled());
  QVERIFY(w.tsRTMonitor->isEnabled());

  QTest::mouseClick(w.btDisconnect, Qt::LeftButton);
  QVERIFY(!w.ComPort1.Connected());
  QVERIFY(w.btConnect->isEnabled());
  QVERIFY(!w.tsParameters->isEnabled());
  QVERIFY(w.Channel.RS232Buf.isEmpty());

  f.Connect();
  QVERIFY(w.ComPort1.Connected());
  QVERIFY(f.Errors.isEmpty());
}

void TMainWindowTest::FailedConnectLeavesControlsDisconnected() {
  TMainFixture f;
  TfMain& w = *f.Window;
  // COM12 has no alias, so it means /dev/ttyS11, which a test machine does not have.
  QFile::link(QStringLiteral("/nonexistent/zirv7-device"), f.AliasPath(QStringLiteral("COM12")));
  w.Channel.FWaitRS232 = true;
  f.Connect(QStringLiteral("COM12"));
  QCOMPARE(f.Errors.size(), 1);
  QVERIFY2(f.Errors[0].startsWith(QStringLiteral("Unable to open com port")),
           qPrintable(f.Errors[0]));
  QVERIFY(!w.ComPort1.Connected());
  QCOMPARE(w.ComPort1.Port(), QStringLiteral("COM12"));
  QCOMPARE(w.ComPort1.BaudRate(), br57600);
  QVERIFY(w.btConnect->isEnabled());
  QVERIFY(!w.tsParameters->isEnabled());
  QVERIFY(w.Channel.FWaitRS232);  // the connect ended before clearing it
}

void TMainWindowTest::FormShowTwiceKeepsLineBuf() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QStringList* before = w.Channel.LineBuf.get();
  w.Channel.LineBuf->append(QStringLiteral("kept\r"));
  w.FormShow();
  QCOMPARE(w.Channel.LineBuf.get(), before);
  QCOMPARE(*w.Channel.LineBuf, QStringList{QStringLiteral("kept\r")});
}

void TMainWindowTest::ReadsParametersFromTheBoard() {
  TMainFixture f;
  TfMain& w = *f.Window;
  auto params = f.Sim.Params();
  params.P = 0.0125;
  params.MaxOutput = 80;
  params.SVMCycle = 2;
  f.Sim.SetParams(params);
  f.Connect();
  f.TakeWire();
  QTest::mouseClick(w.btReadBoardParams, Qt::LeftButton);
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
  QCOMPARE(f.TakeWire(), std::vector<std::string>{"l"});
  QVERIFY(w.ActPIDParams.Valid);
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.0125000"));
  QCOMPARE(w.seParametersMaxOutput->Text(), QStringLiteral("80"));
  QCOMPARE(w.seParametersSVMCycle->Text(), QStringLiteral("2"));
  for (TAdvSpinEdit* field : w.ParameterFields)
    QCOMPARE(field->FontColor(), clGreen);
  const QStringList log = f.LogTexts();
  QVERIFY(log.contains(QStringLiteral("l")));
  QVERIFY(log.contains(QStringLiteral("(p) 0.0125")));
}

// A technician's session: read, edit, write, sample, step test, movement, save and open a
// file, all through the controls, with exactly the expected traffic on the wire.
void TMainWindowTest::WholeSessionEndToEnd() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QTemporaryDir files;
  f.Connect();
  f.TakeWire();

  QTest::mouseClick(w.btReadBoardParams, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), std::vector<std::string>{"l"});

  TypeInto(w.seParametersP, QStringLiteral("0.35"));
  TypeInto(w.seParametersTPSC, QStringLiteral("5"));
  QCOMPARE(w.seParametersP->FontColor(), clRed);
  QCOMPARE(w.seParametersI->FontColor(), clGreen);
  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), (std::vector<std::string>{"p 0.35", "t 5"}));
  QCOMPARE(f.Sim.Params().P, 0.35);
  QCOMPARE(f.Sim.Params().TicksPerServo, 5);
  QCOMPARE(w.seParametersP->FontColor(), clGreen);
  QVERIFY(f.LogTexts().contains(QStringLiteral("OK writing params")));

  w.PageControl1->setCurrentWidget(w.tsRTMonitor);
  QTest::mouseClick(w.btSampleStatus, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), std::vector<std::string>{"s"});
  QCOMPARE(w.Chart1->Series1.Count(), 1);
  QVERIFY(w.lbStatusEnabled->text() != QStringLiteral("No data received yet"));

  TypeInto(w.seSICommandStep, QStringLiteral("100"));
  QTest::mouseClick(w.btLaunchSITest, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), std::vector<std::string>{"r0c100ok1"});
  QCOMPARE(w.Chart1->Series1.Count(), 1 + 199);

  TypeInto(w.seMovement, QStringLiteral("100"));
  QTest::mouseClick(w.btSetOscVal, Qt::LeftButton);
  QTest::mouseClick(w.btStop, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), (std::vector<std::string>{"o 29400", "o 0"}));
  QCOMPARE(w.seMovement->Text(), QStringLiteral("0"));

  const QString file = files.filePath(QStringLiteral("tuned.pset"));
  w.SaveParameterFile(file);
  TypeInto(w.seParametersP, QStringLiteral("1"));
  w.LoadParameterFile(file);
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.3500000"));
  QCOMPARE(w.seParametersP->FontColor(), clGreen);
  QVERIFY(f.TakeWire().empty());  // files never touch the board
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
}

void TMainWindowTest::ExitClosesTheWindow() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QVERIFY(w.isVisible());
  w.Exit1->trigger();
  QVERIFY(!w.isVisible());
}

QTEST_MAIN(TMainWindowTest)
#include "main_window_test.moc"
