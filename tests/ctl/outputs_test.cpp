// Output paths are checked before the board is touched; CSV can have standard output to itself.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <sys/stat.h>

#include "tests/ctl/ctlrun.h"
#include "tests/ctl/simboard.h"
#include "tests/filelimits.h"

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

// `--csv - > runs.csv` must hold a CSV and nothing else; the table goes to standard error.
TEST_F(OutputPathsTest, CsvDashTakesStandardOutputAlone) {
  const TCtlResult step = RunCtlCaptured({"step", "--port", Port(), "--step", "100", "--csv", "-"});
  ASSERT_EQ(step.Status, kExitOk) << step.Err.toStdString();
  const TCtlResult show = RunCtlCaptured({"show", "1", "--csv", "-"});
  ASSERT_EQ(show.Status, kExitOk) << show.Err.toStdString();
  for (const TCtlResult* r : {&step, &show}) {
    // A header and one line per sample, from the first byte on.
    EXPECT_TRUE(r->Out.startsWith("run,")) << r->Out.left(400).toStdString();
    EXPECT_EQ(r->Out.count('\n'), 1 + 199);
    EXPECT_TRUE(r->Err.contains("settling")) << r->Err.toStdString();
  }
  EXPECT_FALSE(QFile::exists("-"));
}

// Standard output asked where it cannot go (--json and --csv - both, a picture on it): bad
// usage, refused before the board is touched.
TEST_F(OutputPathsTest, StandardOutputWhereItCannotGoIsBadUsage) {
  const std::pair<QStringList, const char*> cases[] = {
      {{"step", "--port", Port(), "--step", "100", "--json", "--csv", "-"}, "both want standard output"},
      {{"step", "--port", Port(), "--step", "100", "--csv", "-", "--json"}, "both want standard output"},
      {{"show", "1", "--json", "--csv", "-"}, "both want standard output"},
      {{"step", "--port", Port(), "--step", "100", "--png", "-"}, "taken by --csv only"},
      {{"suggest", "--port", Port(), "--step", "100", "--svg", "-"}, "taken by --csv only"},
  };
  for (const auto& [args, said] : cases) {
    const TCtlResult r = RunCtlCaptured(args);
    EXPECT_EQ(r.Status, kExitUsage) << args.join(' ').toStdString();
    EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
    EXPECT_TRUE(r.Err.contains(QLatin1String(said))) << r.Err.toStdString();
  }
  EXPECT_TRUE(Sim().ReceivedCommands().empty());
}

// A full disk with a few kilobytes left: the CSV of show and step and the file of save fail
// with the reason, and each old file stays as it was (save's file in another hand with every
// line), with no file cut short beside it.
TEST_F(OutputPathsTest, FullDiskLeavesTheOldFileAsItWas) {
  ASSERT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "100"}).Status, kExitOk);
  const QString disk = File("disk");
  ASSERT_TRUE(QDir().mkpath(disk));
  TSmallDisk small(disk, 64);
  if (!small.Active()) GTEST_SKIP() << "no small disk can be mounted here";
  const QByteArray oldCsv = "run,label\n", oldSet = "[Notes]\r\nby=anna\r\n" + QByteArray(6000, ';') + "\r\n";
  Write(disk + "/old.csv", oldCsv);
  Write(disk + "/shared.pset", oldSet);
  small.Fill(4096);
  struct TCase {
    QStringList Args;
    QString File;
    QByteArray Old;
  } cases[] = {
      {{"show", "1", "--csv", disk + "/old.csv"}, disk + "/old.csv", oldCsv},
      {{"step", "--port", Port(), "--step", "100", "--csv", disk + "/old.csv"}, disk + "/old.csv", oldCsv},
      {{"save", "--port", Port(), disk + "/shared.pset"}, disk + "/shared.pset", oldSet},
  };
  for (const TCase& c : cases) {
    const TCtlResult r = RunCtlCaptured(c.Args);
    EXPECT_EQ(r.Status, kExitFailed) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(r.Err.contains("zirv7ctl: " + c.File + ": could not be written: No space left on device\n"
                               "The file is left as it was."))
        << r.Err.toStdString();
    EXPECT_EQ(Contents(c.File), c.Old);
  }
  EXPECT_EQ(QDir(disk).entryList(QDir::Files | QDir::Hidden).join(u' ').toStdString(), "filler old.csv shared.pset");
}

// Over a file-size limit (`ulimit -f`) the program is not ended by SIGXFSZ part-way: it fails
// with the reason and leaves the old file as it was.
TEST_F(OutputPathsTest, FileSizeLimitFailsTheCommandInsteadOfEndingIt) {
  ASSERT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "100"}).Status, kExitOk);
  const QString csv = File("old.csv");
  Write(csv, "run,label\n");
  // Twenty times the run, some 100 kB: more than the limit, which the history stays within.
  QStringList args = {"-c", "ulimit -f 80 && exec \"$0\" \"$@\"", ZIRV_CTL_PROGRAM, "show"};
  for (int k = 0; k < 20; ++k) args << "1";
  args << "--csv" << csv;
  QProcess show;
  show.start("bash", args);
  ASSERT_TRUE(show.waitForFinished(30000));
  const QString err = QString::fromUtf8(show.readAllStandardError());
  EXPECT_EQ(show.exitStatus(), QProcess::NormalExit) << err.toStdString();
  EXPECT_EQ(show.exitCode(), kExitFailed) << err.toStdString();
  EXPECT_TRUE(err.contains("zirv7ctl: " + csv + ": could not be written: File too large")) << err.toStdString();
  EXPECT_EQ(Contents(csv), "run,label\n");
}

}  // namespace
