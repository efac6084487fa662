#pragma once

// A simulated board for the companion's tests, with private history and alias folders.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"

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

  // Holds the answer to the next set of P and returns a readiness test for an interruption:
  // true, and the answer let go, once the board has that set. The interruption then comes
  // while the write waits for its first answer, however busy the machine is.
  std::function<bool()> HeldFirstSet() {
    FSim->HoldAnswerTo("p");
    return [this] {
      if (Sets().empty()) return false;
      FSim->ReleaseAnswers();
      return true;
    };
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
