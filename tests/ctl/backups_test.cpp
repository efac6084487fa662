// zirv7ctl backups and restore: the board's values are kept before every write of the
// companion, and only then, and are written back through the same checked write.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>

#include "tests/ctl/ctlrun.h"
#include "tests/ctl/simboard.h"

namespace {

class BackupsTest : public testing::Test, public TSimBoardFixture {
 protected:
  explicit BackupsTest(int replyDelayMs = 0) : TSimBoardFixture(replyDelayMs) {}

  // A parameter file of the board's values with P, I and D changed.
  QString ChangedFile() {
    const QString file = File("new.pset");
    EXPECT_EQ(RunCtlCaptured({"save", "--port", Port(), file}).Status, kExitOk);
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    f.close();
    bytes.replace("\nP=0.2", "\nP=0.3").replace("\nI=0.0005", "\nI=0.001").replace("\nD=0.0015", "\nD=0.002");
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return file;
  }

  QJsonArray Backups() {
    const TCtlResult r = RunCtlCaptured({"backups", "--json"});
    EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
    return QJsonDocument::fromJson(r.Out.toUtf8()).array();
  }
};

TEST_F(BackupsTest, OneBackupForEveryCommandThatWritesAndNoneOtherwise) {
  const zirvsim::TBoardParams original = Sim().Params();
  const QString file = ChangedFile();
  struct TCase {
    const char* Name;
    QStringList Args;
    QString Input;
    int Backups;  // after the command
  } cases[] = {
      {"a dry run", {"write", "--port", Port(), file, "--dry-run"}, "", 0},
      {"a declined write", {"write", "--port", Port(), file}, "n\n", 0},
      {"a write", {"write", "--port", Port(), file, "--yes"}, "", 1},
      {"a write with nothing to write", {"write", "--port", Port(), file, "--yes"}, "", 1},
      {"a restore's dry run", {"restore", "--port", Port(), "1", "--dry-run"}, "", 1},
      {"a restore", {"restore", "--port", Port(), "#1"}, "y\n", 2},
      {"a restore with nothing to write", {"restore", "--port", Port(), "1", "--yes"}, "", 2},
  };
  for (const TCase& c : cases) {
    const TCtlResult r = RunCtlCaptured(c.Args, c.Input);
    EXPECT_EQ(Backups().size(), c.Backups) << c.Name << "\n" << r.Err.toStdString();
  }
  EXPECT_EQ(Sim().Params(), original);
  const QJsonArray backups = Backups();
  const QJsonObject write = backups[0].toObject(), restore = backups[1].toObject();
  EXPECT_EQ(write["command"].toString(), "write --port " + Port() + " " + file + " --yes");
  EXPECT_EQ(write["planned"].toString(), "P 0.2 -> 0.3, I 0.0005 -> 0.001, D 0.0015 -> 0.002");
  EXPECT_EQ(write["params"].toObject()["P"].toDouble(), 0.2);
  EXPECT_EQ(write["outcome"].toString(), "kept");
  EXPECT_EQ(restore["params"].toObject()["P"].toDouble(), 0.3);
  EXPECT_EQ(restore["outcome"].toString(), "kept");

  const TCtlResult table = RunCtlCaptured({"backups"});
  EXPECT_TRUE(table.Out.split(u'\n')[2].contains(" kept   restore --port ")) << table.Out.toStdString();
}

// A write whose board goes away leaves its backup unfinished; restoring it on the board (here
// come back under another device) settles it.
TEST_F(BackupsTest, UnfinishedBackupIsMarkedAndRestoreSettlesIt) {
  const QString file = ChangedFile();
  const QString firstPort = Port();
  Sim().SetFault(zirvsim::TFault::HangUpAfter, 2);
  TCtlResult r = RunCtlCaptured({"write", "--port", firstPort, file, "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("`zirv7ctl restore --port " + firstPort + " 1` puts them back")) << r.Err.toStdString();
  EXPECT_TRUE(RunCtlCaptured({"backups"}).Out.contains("UNFINISHED"));

  // The board comes back holding what the write left on it.
  zirvsim::TBoardParams left = Sim().Params();
  Sim().SetFault(zirvsim::TFault::None);
  Sim().Stop();
  Sim().Start();
  left.P = 0.3;
  Sim().SetParams(left);
  r = RunCtlCaptured({"restore", "--port", Port(), "1", "--yes"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  // The new pseudo-terminal may have the old one's name: then the earlier write is told of.
  const QString told = Port() == firstPort
                           ? "an earlier write on " + Port() + " did not finish"
                           : "backup 1 was kept on " + firstPort + "; it goes to the board on " + Port();
  EXPECT_TRUE(r.Err.contains(told)) << r.Err.toStdString();
  EXPECT_EQ(Sim().Params().P, 0.2);
  const QJsonArray backups = Backups();
  ASSERT_EQ(backups.size(), 2);
  EXPECT_EQ(backups[0].toObject()["outcome"].toString(), "restored");
  EXPECT_TRUE(backups[0].toObject()["finished"].toBool());
}

// A history that cannot keep the board's values (a trigger stands in for a full disk): nothing
// is written.
TEST_F(BackupsTest, NoBackupNoWrite) {
  const QString file = ChangedFile();
  ASSERT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "100"}).Status, kExitOk);  // makes the history
  ASSERT_TRUE(OnHistory("CREATE TRIGGER refuse BEFORE INSERT ON journal BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  Sim().ClearReceived();
  const TCtlResult r = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("could not be kept in the journal before writing")) << r.Err.toStdString();
  EXPECT_FALSE(r.Err.contains("putting the board's values back")) << r.Err.toStdString();
  EXPECT_EQ(Sets(), std::vector<std::string>{});
}

TEST_F(BackupsTest, RestoreOfABackupThatIsNotThereWritesNothing) {
  for (const QStringList& args : {QStringList{"restore", "--port", Port(), "7", "--yes"},
                                  QStringList{"restore", "--port", Port(), "x"},
                                  QStringList{"restore", "7"}}) {
    const TCtlResult r = RunCtlCaptured(args);
    EXPECT_NE(r.Status, kExitOk) << args.join(' ').toStdString();
  }
  EXPECT_EQ(Sets(), std::vector<std::string>{});
}

// Ctrl+C (TERM, HUP) in the middle of a write or a restore: the board gets its values back and
// the backup says it keeps them.
class BackupsSlowBoardTest : public BackupsTest {
 protected:
  BackupsSlowBoardTest() : BackupsTest(5) {}

  TCtlResult Interrupted(const QStringList& args, int signal) {
    Sim().ClearReceived();
    bool raised = false;
    const TCtlResult r = RunCtlInterruptedAtFirstSet(args, signal, raised);
    EXPECT_TRUE(raised);
    return r;
  }
};

TEST_F(BackupsSlowBoardTest, InterruptedWriteAndRestorePutTheBoardBackAndSaySo) {
  const QString file = ChangedFile();
  const TCtlResult first = RunCtlCaptured({"write", "--port", Port(), file, "--yes"});
  ASSERT_EQ(first.Status, kExitOk) << first.Err.toStdString();
  const zirvsim::TBoardParams written = Sim().Params();
  ASSERT_EQ(written.P, 0.3);
  int backups = 1;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const zirvsim::TBoardParams before = Sim().Params();
    const QStringList args = before.P == 0.3 ? QStringList{"restore", "--port", Port(), "1", "--yes"}
                                             : QStringList{"write", "--port", Port(), file, "--yes"};
    const TCtlResult r = Interrupted(args, signal);
    ++backups;
    EXPECT_EQ(r.Status, kExitFailed) << args.join(' ').toStdString();
    EXPECT_TRUE(r.Err.contains("interrupted; the board's values go back")) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains(QStringLiteral("backup %1 keeps them (zirv7ctl restore --port %2 %1)").arg(backups).arg(Port())))
        << r.Err.toStdString();
    EXPECT_EQ(Sim().Params(), before) << args.join(' ').toStdString();
    EXPECT_EQ(Backups().size(), backups);
    EXPECT_EQ(Backups()[backups - 1].toObject()["outcome"].toString(), "put back");
  }
}

}  // namespace
