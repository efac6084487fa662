#pragma once

// A main window talking to a simulated board on COM1, for tests that drive the whole tool.
// The port alias lives in a private configuration folder, so tests never touch the user's.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "globals/errorreport.h"
#include "sim/simulator.h"
#include "ui/logpane.h"
#include "ui/main.h"

// Returns simulator options for fast tests: no pacing, the default reply delay.
inline zirvsim::TSimOptions FastBoard() {
  zirvsim::TSimOptions options;
  options.Pacing = false;
  return options;
}

// Enters a field as Tab would (all selected), types text key by key and leaves it with Tab.
inline void TypeInto(QWidget* field, const QString& text) {
  QWidget* window = field->window();
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window));
  field->setFocus(Qt::TabFocusReason);
  QVERIFY(field->hasFocus());
  QTest::keyClicks(field, text);
  QTest::keyClick(field, Qt::Key_Tab);
  QVERIFY(!field->hasFocus());
}

class TMainFixture {
 public:
  explicit TMainFixture(zirvsim::TSimOptions options = FastBoard()) : Sim(options) {
    Sim.Start();
    qputenv("XDG_CONFIG_HOME", ConfigDir.path().toLocal8Bit());
    QDir().mkpath(ConfigDir.path() + QStringLiteral("/zirv7tune/ports"));
    QFile::link(QString::fromStdString(Sim.DevicePath()), AliasPath(QStringLiteral("COM1")));
    FPreviousReporter = SetErrorReporter([this](const QString& m) { Errors.append(m); });
    Window = std::make_unique<TfMain>();
    Window->show();
  }

  ~TMainFixture() {
    Window.reset();
    SetErrorReporter(FPreviousReporter);
    Sim.Stop();
  }

  // Returns the alias file of a port name in the private configuration folder.
  QString AliasPath(const QString& port) const {
    return ConfigDir.path() + QStringLiteral("/zirv7tune/ports/") + port;
  }

  // Selects the port and clicks "Connect" as a user would.
  void Connect(const QString& port = QStringLiteral("COM1")) {
    Window->cbPort->setCurrentText(port);
    QTest::mouseClick(Window->btConnect, Qt::LeftButton);
  }

  // Returns the log's lines without their time stamps ("" for the pane's empty first line).
  QStringList LogTexts() const {
    QStringList texts;
    for (const QString& line : Window->Panel2->PlainText().split(QLatin1Char('\n'))) {
      const qsizetype gap = line.indexOf(QStringLiteral("  "));
      texts.append(gap < 0 ? line : line.mid(gap + 2));
    }
    return texts;
  }

  // Returns the command lines the board received and forgets them.
  std::vector<std::string> TakeWire() {
    std::vector<std::string> wire = Sim.ReceivedCommands();
    Sim.ClearReceived();
    return wire;
  }

  // Processes events until the condition holds or the time is up; returns the condition.
  static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QTest::qSleep(1);
    }
    return condition();
  }

  QTemporaryDir ConfigDir;
  zirvsim::TBoardSimulator Sim;
  std::unique_ptr<TfMain> Window;
  QStringList Errors;  // texts shown by the application's standard error report

 private:
  TErrorReporter FPreviousReporter;
};
