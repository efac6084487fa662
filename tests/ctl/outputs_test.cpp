// Output paths are checked before the board is touched; CSV can go to standard output.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <sys/stat.h>

#include "tests/ctl/ctlrun.h"
#include "tests/ctl/simboard.h"

namespace {

class OutputPathsTest : public testing::Test, public TSimBoardFixture {};

TEST_F(OutputPathsTest, BadOutputPathFailsBeforeTheBoardIsTouched) {
  const QString fifo = File("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString a = File("a.pset");
  QFile(a).open(QIODevice::WriteOnly);
  struct TCase {
    QStringList Args;
    const char* Said;
  } cases[] = {
      {{"step", "--port", Port(), "--step", "100", "--csv", File("missing/runs.csv")}, "does not exist"},
      {{"step", "--port", Port(), "--step", "100", "--csv", "/dev/null"}, "is a character device"},
      {{"step", "--port", Port(), "--step", "100", "--png", fifo}, "is a FIFO"},
      {{"step", "--port", Port(), "--step", "100", "--svg", File("")}, "is a folder"},
      {{"step", "--port", Port(), "--step", "100", "--png", "-"}, "taken by --csv only"},
      {{"compare", "--port", Port(), "--step", "100", a, "--yes", "--png", File("missing/c.png")},
       "does not exist"},
  };
  for (const TCase& c : cases) {
    const TCtlResult r = RunCtlCaptured(c.Args);
    EXPECT_EQ(r.Status, kExitFailed) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(r.Err.contains(QLatin1String(c.Said))) << r.Err.toStdString();
  }
  EXPECT_TRUE(Sim().ReceivedCommands().empty());
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(OutputPathsTest, CsvDashGoesToStandardOutput) {
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100", "--json", "--csv", "-"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  // The JSON first, then the CSV: a header and one line per sample.
  const qsizetype csv = r.Out.indexOf("run,");
  ASSERT_GT(csv, 0) << r.Out.left(400).toStdString();
  EXPECT_EQ(r.Out.mid(csv).count('\n'), 1 + 199);
  EXPECT_FALSE(QFile::exists("-"));
}

}  // namespace
