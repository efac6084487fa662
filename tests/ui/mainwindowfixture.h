#pragma once

// A main window talking to a simulated board on COM1, for runs that drive the whole tool.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QObject>
#include <QTest>
#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "globals/errorreport.h"
#include "sim/portalias.h"
#include "sim/simulator.h"
#include "tests/simgate.h"
#include "ui/logpane.h"
#include "ui/logview.h"
#include "ui/mainwindow.h"
#include "ui/spinedit.h"

using TWire = std::vector<std::string>;

// Shows the commands a board received when a comparison fails.
namespace QTest {
template <>
inline char* toString(const TWire& wire) {
  QByteArray text = "{";
  for (const std::string& command : wire) text += " \"" + QByteArray::fromStdString(command) + "\"";
  return qstrdup(text + " }");
}
}  // namespace QTest

inline zirvsim::TSimOptions FastBoard() {
  zirvsim::TSimOptions options;
  options.Pacing = false;
  return options;
}

inline void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

// Enters a field as Tab would (all selected), types text key by key and leaves it with Tab.
inline void TypeInto(QWidget* field, const QString& text) {
  field->window()->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(field->window()));
  field->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(field, text);
  QTest::keyClick(field, Qt::Key_Tab);
}

// Runs window test suites on a screen large enough for the design size: the offscreen
// platform's default is 800 x 600. A first argument naming one suite's class runs that suite
// alone, so that CTest can run the suites of one program side by side; without it all run.
inline int ExecOnDesignScreen(std::initializer_list<QObject*> suites, int argc, char* argv[]) {
  std::vector<QObject*> run(suites);
  for (QObject* suite : suites) {
    if (argc < 2 || qstrcmp(argv[1], suite->metaObject()->className()) != 0) continue;
    run = {suite};
    argv[1] = argv[0];  // Qt Test reads the arguments after the program's name
    --argc, ++argv;
    break;
  }
  QTemporaryDir dir;
  QFile config(dir.filePath(QStringLiteral("screens.json")));
  if (config.open(QIODevice::WriteOnly))
    config.write(R"({"screens": [{"name": "design", "x": 0, "y": 0, "width": 1280,
                    "height": 1024, "logicalDpiX": 96, "logicalDpiY": 96}]})");
  config.close();
  if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
  QApplication app(argc, argv);
  NameApplication();
  int failed = 0;
  for (QObject* suite : run) failed = std::min(failed + QTest::qExec(suite, argc, argv), 127);
  return failed;
}

// The port alias lives in a private configuration folder, so that runs never touch the user's;
// error reports are collected, not shown.
struct TMainFixture {
  QTemporaryDir ConfigDir;
  zirvsim::TBoardSimulator Sim;
  QStringList Errors;
  TErrorReporter PreviousReporter = SetErrorReporter([this](const QString& m) { Errors << m; });
  std::unique_ptr<TfMain> Window;

  explicit TMainFixture(zirvsim::TSimOptions options = FastBoard()) : Sim(options) {
    Sim.Start();
    qputenv("XDG_CONFIG_HOME", ConfigDir.path().toLocal8Bit());
    zirvsim::CreatePortAlias(zirvsim::PortAliasPath("COM1"), Sim.DevicePath(), false);
    Window = std::make_unique<TfMain>();
    Window->show();
  }
  ~TMainFixture() { SetErrorReporter(PreviousReporter); }
  void Connect(const QString& port = QStringLiteral("COM1")) {
    Window->cbPort->setCurrentText(port);
    Click(Window->btConnect);
  }
  void ConnectAndRead(const zirvsim::TBoardParams& params = {}) {
    Sim.SetParams(params);
    Connect();
    Click(Window->btReadBoardParams);
    TakeWire();
  }
  void ConnectToMonitor() {
    Connect();
    Window->PageControl1->setCurrentWidget(Window->tsRTMonitor);
    TakeWire();
  }
  TWire TakeWire() {
    const TWire wire = Sim.ReceivedCommands();
    Sim.ClearReceived();
    return wire;
  }
  int Samples() const { return int(Sim.ReceivedCommands().size()); }  // only "s" is sent
  QStringList LogTexts() const {
    QStringList texts;
    for (const QString& line : Window->Panel2->PlainText().split(u'\n'))
      texts << line.mid(line.indexOf(QStringLiteral("  ")) + 2);
    return texts;
  }
  QColor LogColour(const QString& text) const {
    const QString plain = Window->Panel2->PlainText() + u'\n';
    const qsizetype at = plain.lastIndexOf(QStringLiteral("  ") + text + u'\n');
    return at < 0 ? QColor() : Window->Panel2->reLog->ColourAt(at + 2);
  }
  // Returns the change marks of the fourteen parameter fields: R red, G green, - never marked.
  QString Marks() const {
    QString marks;
    for (const TAdvSpinEdit* f : Window->ParameterFields)
      marks += f->FontColor() == clRed ? u'R' : f->FontColor() == clGreen ? u'G' : u'-';
    return marks;
  }
  QStringList Texts() const {
    QStringList texts;
    for (const TAdvSpinEdit* field : Window->ParameterFields) texts << field->Text();
    return texts;
  }
};

// A test suite of its own window against its own board for each test function. No test may
// leave an error report it did not take.
class TMainWindowSuite : public QObject {
  Q_OBJECT

 protected:
  std::unique_ptr<TMainFixture> F;
  TfMain* w = nullptr;

  // Gives the test a new window against a board with these options.
  void UseBoard(const zirvsim::TSimOptions& options) {
    QCOMPARE(std::exchange(F->Errors, {}), QStringList());
    F.reset();  // first: the new fixture takes the error reports over from the one before
    F = std::make_unique<TMainFixture>(options);
    w = F->Window.get();
  }

 private slots:
  void init() {
    F = std::make_unique<TMainFixture>();
    w = F->Window.get();
  }
  void cleanup() {
    const QStringList errors = std::exchange(F->Errors, {});
    F.reset();
    QCOMPARE(errors, QStringList());
  }
};
