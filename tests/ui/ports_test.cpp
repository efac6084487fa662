// From plugging in an adapter to "Connect": the window connects through an alias made by
// zirv7ctl, every port failure reaches the error report with its explanation, and the port
// selector describes what each COM name reaches as devices come and go.
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "globals/errorreport.h"
#include "sim/simulator.h"
#include "tests/simgate.h"
#include "tests/ctl/ctlrun.h"
#include "tests/devices/fakeroot.h"
#include "tests/devices/openholder.h"
#include "tests/serial/ptypeer.h"
#include "ui/errorbox.h"
#include "ui/mainwindow.h"

namespace {

const QString kFtdiById = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

zirvsim::TSimOptions FastBoard() {
  zirvsim::TSimOptions options;
  options.Pacing = false;
  return options;
}

}  // namespace

// A fake machine: the simulated board behind an FTDI adapter (ttyUSB0) and a legacy port
// with no UART behind it (ttyS1, COM2); error reports are recorded with their explanations.
class TPortsUiTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFakeDeviceRoot> Fake;
  std::unique_ptr<zirvsim::TBoardSimulator> Sim;
  std::unique_ptr<TPtyPeer> Phantom;
  std::unique_ptr<TfMain> Window;
  QStringList Errors, Explanations;
  TErrorReporter Previous;

  void Connect(const QString& port) {
    Window->cbPort->setCurrentText(port);
    QTest::mouseClick(Window->btConnect, Qt::LeftButton);
  }
  QString Tip(int index) const { return Window->cbPort->itemData(index, Qt::ToolTipRole).toString(); }
  void Link(const char* com, const char* device) {
    const TCtlResult r = RunCtlCaptured({"link", com, device});
    QVERIFY2(r.Status == kExitOk, qPrintable(r.Err));
  }

 private slots:
  void init() {
    Fake = std::make_unique<TFakeDeviceRoot>();
    Sim = std::make_unique<zirvsim::TBoardSimulator>(FastBoard());
    Sim->Start();
    Fake->PlugUsb({}, QString::fromStdString(Sim->DevicePath()));
    Phantom = std::make_unique<TPtyPeer>();
    Fake->AddLegacyPort("ttyS1", 0, Phantom->SlavePath());
    Errors.clear();
    Explanations.clear();
    Previous = SetErrorReporter([this](const QString& m) {
      Errors << m;
      Explanations << ReportedExplanation();
    });
    Window = std::make_unique<TfMain>();
    Window->show();
  }
  void cleanup() {
    Window.reset();
    SetErrorReporter(Previous);
    Sim.reset();
    Phantom.reset();
    Fake.reset();
  }

  void connectsThroughTheAliasMadeByZirv7ctl() {
    Link("COM3", "/dev/ttyUSB0");
    Connect("COM3");
    QVERIFY2(Errors.isEmpty(), qPrintable(Errors.join('\n') + Explanations.join('\n')));
    QVERIFY(Window->ComPort1.Connected());
    QTest::mouseClick(Window->btReadBoardParams, Qt::LeftButton);
    QCOMPARE(Sim->ReceivedCommands(), std::vector<std::string>{"l"});
  }

  void failuresAreExplained_data() {
    QTest::addColumn<QString>("port");
    // 0 none, 1 another port holds it, 2 unplugged while in use, 3 the same after its link
    // was removed (as a simulated board removes its own when it ends), 4 another program has
    // it open without a lock
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("explanation");
    QTest::newRow("missing device lists the adapters and the link")
        << "COM5" << 0 << "Unable to open com port (Error: 2)"
        << QStringList{"Nothing is at /dev/ttyS4, where COM5 leads.",
                       "/dev/ttyUSB0 — FT232R USB UART (FTDI, A50285BI)", "zirv7ctl link COM5 /dev/ttyUSB0"};
    QTest::newRow("legacy port without uart is refused like a missing one")
        << "COM2" << 0 << "Unable to open com port (Error: 6)"
        << QStringList{"/dev/ttyS1 (COM2) is a legacy serial port with no UART behind it",
                       "zirv7ctl link COM2 /dev/ttyUSB0"};
    QTest::newRow("port in use names the program")
        << "COM3" << 1 << "Unable to open com port (Error: 11)"
        << QStringList{QStringLiteral("/dev/ttyUSB0 (COM3) is in use by test_ui_ports (PID %1)")
                           .arg(QCoreApplication::applicationPid())};
    // Refused as a second open of a port is on Windows: the board's answers would be split.
    QTest::newRow("port held open without a lock is in use")
        << "COM3" << 4 << "Unable to open com port (Error: 16)"
        << QStringList{"/dev/ttyUSB0 (COM3) is in use by test_ui_ports (PID ",
                       "Close it there, then press Connect again."};
    // Named as it was opened, whatever the name leads to now; the window is disconnected by
    // then, so Connect is the way back.
    const QStringList gone{"/dev/ttyUSB0 (COM3) went away while in use: it was unplugged or "
                           "powered off. Plug it back in, then press Connect."};
    QTest::newRow("device gone while in use")
        << "COM3" << 2 << "ReadFile function failed (Error: 5)" << gone;
    QTest::newRow("device gone, its link removed")
        << "COM3" << 3 << "ReadFile function failed (Error: 5)" << gone;
  }
  void failuresAreExplained() {
    QFETCH(QString, port);
    QFETCH(int, setup);
    QFETCH(QString, message);
    QFETCH(QStringList, explanation);
    Link("COM3", "/dev/ttyUSB0");
    TComPort holder;
    if (setup == 1) {
      holder.SetPort("COM3");
      holder.SetConnected(true);
    }
    std::unique_ptr<TOpenHolder> other;
    if (setup == 4) {
      other = std::make_unique<TOpenHolder>(QString::fromStdString(Sim->DevicePath()));
      QVERIFY(other->Holding());
      explanation[0] += QString::number(other->Pid()) + u')';
    }
    Connect(port);
    if (setup == 2 || setup == 3) {
      QVERIFY(Window->ComPort1.Connected());
      if (setup == 3) QCOMPARE(RunCtlCaptured({"unlink", "COM3", "--force"}).Status, kExitOk);
      Fake->Unplug("ttyUSB0");
      Sim->Stop();
      QTRY_VERIFY(!Errors.isEmpty());
    }
    QCOMPARE(Errors, QStringList{message});  // the port's own text, unchanged
    for (const QString& part : explanation)
      QVERIFY2(Explanations.value(0).contains(part), qPrintable(Explanations.value(0)));
    if (setup >= 2) QVERIFY(!Window->ComPort1.Connected() && Window->btConnect->isEnabled());
    if (setup == 4) QVERIFY(Sim->ReceivedCommands().empty());
  }

  // Entries stay "COM1" to "COM32"; each one's tooltip and accessible description follow
  // the device its name reaches, as the device appears and goes.
  void selectorDescribesWhatEachNameReaches() {
    QComboBox* box = Window->cbPort;
    QCOMPARE(box->count(), 32);
    QCOMPARE(box->currentText(), QStringLiteral("COM1"));
    QCOMPARE(Tip(2), QStringLiteral("COM3: nothing is there — /dev/ttyS2"));
    QCOMPARE(Tip(1), QStringLiteral("COM2: no UART behind it — /dev/ttyS1"));
    Link("COM3", "/dev/ttyUSB0");
    const QString ftdi = QStringLiteral("COM3: FT232R USB UART (FTDI, A50285BI) — /dev/ttyUSB0");
    QTRY_COMPARE(Tip(2), ftdi);
    QCOMPARE(box->itemData(2, Qt::AccessibleDescriptionRole).toString(), ftdi);
    Fake->Unplug("ttyUSB0");
    QTRY_COMPARE(Tip(2), QStringLiteral("COM3: nothing is there — ") + kFtdiById);
    Fake->PlugUsb({}, QString::fromStdString(Sim->DevicePath()));
    QTRY_COMPARE(Tip(2), ftdi);
    for (int i = 0; i < 32; ++i) QCOMPARE(box->itemText(i), QStringLiteral("COM%1").arg(i + 1));
  }

  // Assistive technology reads the description of the chosen entry on the selector and of
  // every entry in its list.
  void accessibleDescriptionsReachAssistiveTechnology() {
    Link("COM3", "/dev/ttyUSB0");
    const QString ftdi = QStringLiteral("COM3: FT232R USB UART (FTDI, A50285BI) — /dev/ttyUSB0");
    QTRY_COMPARE(Tip(2), ftdi);
    Window->cbPort->setCurrentIndex(2);
    QAccessibleInterface* selector = QAccessible::queryAccessibleInterface(Window->cbPort);
    QVERIFY(selector);
    QCOMPARE(selector->text(QAccessible::Description), ftdi);
    QCOMPARE(Window->cbPort->toolTip(), ftdi);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(Window->cbPort->view());
    QVERIFY(list && list->tableInterface());
    QAccessibleInterface* cell = list->tableInterface()->cellAt(2, 0);
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Description), ftdi);
  }

  // The error box keeps the error's text as its main text; the explanation goes beneath.
  void errorBoxShowsTheExplanationUnderTheMessage() {
    InstallErrorMessageBox();
    QString text, informative;
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        text = box->text();
        informative = box->informativeText();
        box->accept();
      }
    });
    ReportError("Unable to open com port (Error: 2)", "Nothing is at /dev/ttyS4, where COM5 leads.");
    QCOMPARE(text, QStringLiteral("Unable to open com port (Error: 2)"));
    QCOMPARE(informative, QStringLiteral("Nothing is at /dev/ttyS4, where COM5 leads."));
    QCOMPARE(ReportedExplanation(), QString());  // only valid while the report runs
  }
};

QTEST_MAIN(TPortsUiTest)
#include "ports_test.moc"
