// Output files: regular files or nothing, never through a link another user planted anywhere
// in the path, and whole or not at all; streams that keep what they wrote.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "outputfile/outputfile.h"
#include "outputfile/streamwriter.h"
#include "tests/filelimits.h"

namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The names in a folder but a full disk's filler, as one text.
std::string Entries(const QString& folder) {
  QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  names.removeAll(QStringLiteral("filler"));
  return names.join(u' ').toStdString();
}

class OutputFileTest : public testing::Test {
 protected:
  QString Path(const QString& name) const { return FDir.filePath(name); }
  QString Make(const QString& name, const QByteArray& contents = "old") const {
    QFile file(Path(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
    return file.fileName();
  }
  QTemporaryDir FDir;
};

TEST_F(OutputFileTest, PathsAreJudgedByWhatTheyAre) {
  Make("file");
  QDir(FDir.path()).mkdir("folder");
  ASSERT_EQ(::mkfifo(Native(Path("fifo")).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link(Path("file"), Path("link-to-file")));
  ASSERT_TRUE(QFile::link("/dev/null", Path("link-to-null")));
  ASSERT_TRUE(QFile::link(Path("fifo"), Path("link-to-fifo")));
  ASSERT_TRUE(QFile::link("folder", Path("link-to-folder")));
  struct TCase {
    const char* Name;
    QString Path;
    const char* Problem;  // "" when the path may be written
  } cases[] = {
      {"an existing regular file", Path("file"), ""},
      {"a new file in an existing folder", Path("new.csv"), ""},
      {"a new file through the user's own link to a folder", Path("link-to-folder/new.csv"), ""},
      {"a new file in a missing folder", Path("missing/new.csv"), "the folder"},
      {"a file below a file", Path("file/new.csv"), "is not a folder"},
      {"a folder", Path("folder"), "is a folder"},
      {"a link to a folder", Path("link-to-folder"), "is a folder"},
      {"the root", "/", "is a folder"},
      {"a FIFO", Path("fifo"), "is a FIFO; output goes only to regular files or '-'"},
      {"a character device", "/dev/null", "is a character device"},
      {"the user's own link to a file", Path("link-to-file"), ""},
      {"a link to a character device", Path("link-to-null"), "is a character device"},
      {"a link to a FIFO", Path("link-to-fifo"), "is a FIFO"},
      {"an empty name", "", "empty name"},
  };
  for (const TCase& c : cases) {
    const QString problem = OutputPathProblem(c.Path);
    if (*c.Problem == '\0')
      EXPECT_TRUE(problem.isEmpty()) << c.Name << ": " << problem.toStdString();
    else
      EXPECT_TRUE(problem.contains(QLatin1String(c.Problem))) << c.Name << ": " << problem.toStdString();
  }
}

TEST_F(OutputFileTest, SocketIsRefused) {
  const QString path = Path("sock");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray native = Native(path);
  ASSERT_LT(size_t(native.size()), sizeof address.sun_path);
  std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_TRUE(OutputPathProblem(path).contains("is a socket"));
  ::close(fd);
}

// A refused path is left exactly as it was: the FIFO stays a FIFO (a save would have renamed a
// regular file over it), and nothing waits for a reader.
TEST_F(OutputFileTest, WriteLeavesRefusedPathsAlone) {
  const QString fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(Native(fifo).constData(), 0600), 0);
  TResult<void> written = WriteOutputFile(fifo, "data");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.Failure().Message, fifo + ": is a FIFO; output goes only to regular files or '-'");
  EXPECT_FALSE(TStreamWriter::Open(fifo));
  struct stat st {};
  ASSERT_EQ(::lstat(Native(fifo).constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_FALSE(WriteOutputFile(Path("missing/x.csv"), "data"));
  EXPECT_FALSE(QDir(Path("missing")).exists());

  written = WriteOutputFile(Path("new.csv"), "data");
  EXPECT_TRUE(written) << written.Failure().Message.toStdString();
  EXPECT_EQ(Contents(Path("new.csv")), "data");
  EXPECT_EQ(Entries(FDir.path()), "fifo new.csv");
}

// The kernel's protected-symlink rule, as the walk applies it to every link of a path.
TEST(LinkRuleTest, FollowsOnlyWhatTheKernelWouldFollow) {
  constexpr unsigned kRoot = 0, kAnna = 1000, kBert = 2000;
  struct TCase {
    const char* Name;
    TLinkPlace Place;
    unsigned User;
    bool Follows;
  } cases[] = {
      {"another user's link in /tmp", {S_IFDIR | 01777, kRoot, kAnna}, kBert, false},
      {"another user's link in /tmp, followed by root", {S_IFDIR | 01777, kRoot, kAnna}, kRoot, false},
      {"the user's own link in /tmp", {S_IFDIR | 01777, kRoot, kAnna}, kAnna, true},
      {"the folder owner's link in a shared folder", {S_IFDIR | 01777, kAnna, kAnna}, kBert, true},
      {"a third user's link in the user's own shared folder", {S_IFDIR | 01777, kAnna, kBert}, kAnna, false},
      {"a link in a world-writable folder that is not sticky", {S_IFDIR | 0777, kRoot, kAnna}, kBert, true},
      {"a link in a sticky folder only its group may write", {S_IFDIR | 01775, kRoot, kAnna}, kBert, true},
      {"a link in a private folder", {S_IFDIR | 0700, kAnna, kAnna}, kBert, true},
  };
  for (const TCase& c : cases) EXPECT_EQ(MayFollowLink(c.Place, c.User), c.Follows) << c.Name;
}

// Links planted at either end of a path in a shared folder, made by root with chown as another
// user would make them: the output goes to the victim's file only where the rule allows it.
TEST_F(OutputFileTest, WalkAppliesTheLinkRuleToEveryComponent) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make links of another owner";
  constexpr uid_t kOther = 4321;
  struct TCase {
    const char* Name;
    mode_t FolderMode;
    uid_t FolderOwner, LinkOwner;
    const char* Link;     // the link in the shared folder
    const char* Target;   // what it points to, from the row's folder
    const char* Written;  // the path written, in the shared folder
    bool Followed;
  } cases[] = {
      {"another user's folder link in the middle", 01777, 0, kOther, "dir", "victim", "dir/target.txt", false},
      {"another user's relative folder link", 01777, 0, kOther, "dir", "../victim", "dir/target.txt", false},
      {"another user's file link at the end", 01777, 0, kOther, "target.txt", "victim/target.txt", "target.txt", false},
      {"the user's own folder link", 01777, 0, 0, "dir", "victim", "dir/target.txt", true},
      {"the folder owner's folder link", 01777, kOther, kOther, "dir", "victim", "dir/target.txt", true},
      {"a folder link in a folder that is not sticky", 0777, 0, kOther, "dir", "victim", "dir/target.txt", true},
  };
  int row = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString base = Path(QString::number(++row));
    ASSERT_TRUE(QDir().mkpath(base + "/shared") && QDir().mkpath(base + "/victim"));
    const QString shared = base + "/shared", victim = base + "/victim/target.txt";
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("precious") == 8);
    file.close();
    ASSERT_EQ(::chmod(Native(shared).constData(), c.FolderMode), 0);
    ASSERT_EQ(::chown(Native(shared).constData(), c.FolderOwner, c.FolderOwner), 0);
    const QString target = QString(c.Target).startsWith("..") ? c.Target : base + "/" + c.Target;
    const QString link = shared + "/" + c.Link;
    ASSERT_EQ(::symlink(Native(target).constData(), Native(link).constData()), 0);
    ASSERT_EQ(::lchown(Native(link).constData(), c.LinkOwner, c.LinkOwner), 0);

    const QString written = shared + "/" + c.Written;
    EXPECT_EQ(OutputPathProblem(written).isEmpty(), c.Followed) << OutputPathProblem(written).toStdString();
    const TResult<void> result = WriteOutputFile(written, "overwritten");
    EXPECT_EQ(result.Ok(), c.Followed);
    EXPECT_EQ(Contents(victim), c.Followed ? "overwritten" : "precious");
    if (!c.Followed) {
      EXPECT_TRUE(result.Failure().Message.contains(QStringLiteral("a link that another user (uid %1) made").arg(kOther)))
          << result.Failure().Message.toStdString();
    }
    EXPECT_EQ(Entries(base + "/victim"), "target.txt");  // no temporary file left
  }
}

// What stops a write: a disk that fills up (where this process may mount one) or a limit on
// the size of files.
enum class TStop { FullDisk, SizeLimit };

class OutputStopTest : public OutputFileTest, public testing::WithParamInterface<TStop> {
 protected:
  // Sets up a folder for the row's stop and returns it, or "" when it cannot be had here.
  QString StopFolder() {
    const QString folder = Path("disk");
    QDir().mkpath(folder);
    if (GetParam() == TStop::FullDisk) {
      FDisk = std::make_unique<TSmallDisk>(folder, 64);
      if (!FDisk->Active()) return {};
    }
    return folder;
  }
  // Starts the stop: a few kilobytes still fit, the 20 kB of Large() do not.
  void Stop() {
    if (GetParam() == TStop::FullDisk)
      FDisk->Fill(4096);
    else
      FLimit = std::make_unique<TFileSizeLimit>(4096);
  }
  const char* Reason() const { return GetParam() == TStop::FullDisk ? "No space left on device" : "File too large"; }
  static QByteArray Large() { return QByteArray(20000, 'n'); }

  std::unique_ptr<TSmallDisk> FDisk;
  std::unique_ptr<TFileSizeLimit> FLimit;
};

// A full disk or a size limit: the write fails with the system's reason and leaves the old file
// byte for byte, or no file where there was none, and no temporary file either.
TEST_P(OutputStopTest, WholeFileIsWrittenWholeOrNotAtAll) {
  const QString folder = StopFolder();
  if (folder.isEmpty()) GTEST_SKIP() << "no small disk can be mounted here";
  const QByteArray old = "old content\n";
  QFile file(folder + "/old.csv");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
  file.close();
  const std::string before = Entries(folder);
  Stop();
  for (const QString& name : {QStringLiteral("old.csv"), QStringLiteral("new.csv")}) {
    const TResult<void> written = WriteOutputFile(folder + "/" + name, Large());
    ASSERT_FALSE(written) << name.toStdString();
    EXPECT_EQ(written.Failure().Message, folder + "/" + name + ": could not be written: " + Reason());
    EXPECT_TRUE(written.Failure().Explanation.startsWith(name == "old.csv" ? "The file is left as it was."
                                                                           : "No file was made."))
        << written.Failure().Explanation.toStdString();
  }
  EXPECT_EQ(Contents(folder + "/old.csv"), old);
  EXPECT_EQ(Entries(folder), before);
}

// A stream keeps what it held and every record written whole before the failure; the failure
// is reported once more by every later write and by the close.
TEST_P(OutputStopTest, StreamKeepsWhatItWrote) {
  const QString folder = StopFolder();
  if (folder.isEmpty()) GTEST_SKIP() << "no small disk can be mounted here";
  const QString log = folder + "/status.log";
  QFile file(log);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("earlier\n") == 8);
  file.close();
  TResult<TStreamWriter> stream = TStreamWriter::Open(log);
  ASSERT_TRUE(stream) << stream.Failure().Message.toStdString();
  Stop();
  const QByteArray record = QByteArray(299, 'r') + '\n';
  QByteArray kept = "earlier\n";
  TResult<void> written;
  for (int k = 0; k < 100 && (written = stream->Write(record)); ++k) kept += record;
  ASSERT_FALSE(written) << "the stop never came";
  EXPECT_EQ(written.Failure().Message, log + ": could not be written: " + Reason());
  EXPECT_EQ(Contents(log), kept);
  EXPECT_GT(kept.size(), 8);
  const TResult<void> later = stream->Write("x");
  ASSERT_FALSE(later);
  EXPECT_EQ(later.Failure().Message, written.Failure().Message);
  EXPECT_FALSE(stream->Close());
  EXPECT_EQ(Contents(log), kept);
}

INSTANTIATE_TEST_SUITE_P(Stops, OutputStopTest, testing::Values(TStop::FullDisk, TStop::SizeLimit),
                         [](const testing::TestParamInfo<TStop>& info) {
                           return info.param == TStop::FullDisk ? "FullDisk" : "SizeLimit";
                         });

TEST_F(OutputFileTest, StreamAppendsToWhatTheFileHeld) {
  const QString log = Make("status.log", "earlier\n");
  TResult<TStreamWriter> stream = TStreamWriter::Open(log);
  ASSERT_TRUE(stream) << stream.Failure().Message.toStdString();
  EXPECT_TRUE(stream->Write("one\n"));
  EXPECT_EQ(Contents(log), "earlier\none\n");  // there at once, for `tail -f`
  EXPECT_TRUE(stream->Write("two\n"));
  EXPECT_TRUE(stream->Close());
  EXPECT_EQ(Contents(log), "earlier\none\ntwo\n");
}

}  // namespace
