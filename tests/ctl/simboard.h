#pragma once

// A simulated board for the companion's tests, with private history and alias folders.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/simgate.h"
#include "tests/ctl/ctlrun.h"

class TSimBoardFixture {
 public:
  // replyDelayMs: the board's time before each answer (0: at once).
  explicit TSimBoardFixture(int replyDelayMs = 0) {
    qputenv("XDG_DATA_HOME", (FHome.path() + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (FHome.path() + QStringLiteral("/config")).toLocal8Bit());
    FSim = std::make_unique<zirvsim::TBoardSimulator>(
        zirvsim::TSimOptions{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = replyDelayMs});
    FSim->Start();
  }

  zirvsim::TBoardSimulator& Sim() { return *FSim; }
  QString Port() const { return QString::fromStdString(FSim->DevicePath()); }
  QString File(const QString& name) const { return FHome.filePath(name); }

  // Runs one SQL statement on the run history (which must exist), as another program would:
  // a trigger stands in for a full or locked disk. Returns whether it ran.
  bool OnHistory(const QString& sql) const {
    const QString name = QStringLiteral("tests");
    bool ran = false;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
      db.setDatabaseName(File(QStringLiteral("data/zirv7tune/runs.sqlite")));
      ran = db.open() && QSqlQuery(db).exec(sql);
    }
    QSqlDatabase::removeDatabase(name);
    return ran;
  }

  // Returns the set commands the board received ("p 0.3"), without reads and tests.
  std::vector<std::string> Sets() const {
    std::vector<std::string> sets;
    for (const std::string& c : FSim->ReceivedCommands())
      if (c.size() > 2 && c[1] == ' ') sets.push_back(c);
    return sets;
  }

  // Runs "zirv7ctl <args...>" and, on the board's thread, raises signal once a command has come
  // after which ready(every command received so far) holds, before that command is answered:
  // a user's Ctrl+C arrives at that point of the command however busy the machine is. ready is
  // asked until it holds and may change the board. raised tells whether the signal came.
  TCtlResult RunCtlInterruptedWhen(const QStringList& args, int signal,
                                   std::function<bool(const std::vector<std::string>&)> ready, bool& raised) {
    auto came = std::make_shared<std::atomic<bool>>(false);
    FSim->OnCommand([came, signal, ready](const std::vector<std::string>& received) {
      if (!*came && ready(received) && !came->exchange(true)) std::raise(signal);
    });
    const TCtlResult result = RunCtlCaptured(args);
    FSim->OnCommand(nullptr);
    raised = *came;
    return result;
  }

  // As RunCtlInterruptedWhen, once the board has the command's first set: in the middle of a
  // write.
  TCtlResult RunCtlInterruptedAtFirstSet(const QStringList& args, int signal, bool& raised) {
    return RunCtlInterruptedWhen(args, signal, [](const std::vector<std::string>& received) {
      return std::any_of(received.begin(), received.end(),
                         [](const std::string& c) { return c.size() > 2 && c[1] == ' '; });
    }, raised);
  }

  // Returns the commands the board received other than reads ("l").
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const std::string& c : FSim->ReceivedCommands())
      if (c != "l") writes.push_back(c);
    return writes;
  }

 private:
  QTemporaryDir FHome;
  std::unique_ptr<zirvsim::TBoardSimulator> FSim;
};
