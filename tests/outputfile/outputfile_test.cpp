// Output paths: regular files or nothing, never through a link another user planted.
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

namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
  struct TCase {
    const char* Name;
    QString Path;
    const char* Problem;  // "" when the path may be written
  } cases[] = {
      {"an existing regular file", Path("file"), ""},
      {"a new file in an existing folder", Path("new.csv"), ""},
      {"a new file in a missing folder", Path("missing/new.csv"), "the folder"},
      {"a folder", Path("folder"), "is a folder"},
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
  QString error;
  EXPECT_FALSE(WriteOutputFile(fifo, "data", error));
  EXPECT_TRUE(error.contains("FIFO")) << error.toStdString();
  struct stat st {};
  ASSERT_EQ(::lstat(Native(fifo).constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_FALSE(WriteOutputFile(Path("missing/x.csv"), "data", error));
  EXPECT_TRUE(QDir(Path("missing")).exists() == false);

  EXPECT_TRUE(WriteOutputFile(Path("new.csv"), "data", error)) << error.toStdString();
  EXPECT_EQ(Contents(Path("new.csv")), "data");
}

// The kernel's protected-link rule: in a sticky world-writable folder a link is followed only
// when it is the user's own or the folder owner's. Another user is played by root's chown.
TEST_F(OutputFileTest, LinkPlantedByAnotherUserInAStickyFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a link of another owner";
  const QString shared = Path("shared");
  ASSERT_TRUE(QDir(FDir.path()).mkdir("shared"));
  ASSERT_EQ(::chmod(Native(shared).constData(), 01777), 0);
  const QString victim = Make("victim", "precious");
  const QString planted = shared + "/plot.png";
  ASSERT_TRUE(QFile::link(victim, planted));
  constexpr uid_t kOther = 4321;
  ASSERT_EQ(::lchown(Native(planted).constData(), kOther, kOther), 0);

  const QString problem = OutputPathProblem(planted);
  EXPECT_TRUE(problem.contains("another user (uid 4321)")) << problem.toStdString();
  QString error;
  EXPECT_FALSE(WriteOutputFile(planted, "overwritten", error));
  EXPECT_EQ(Contents(victim), "precious");

  // The same link in a folder that is not world-writable, or that belongs to the link's
  // owner, is followed as the kernel follows it.
  EXPECT_EQ(ProtectedLinkProblem(planted, kOther), QString());
  ASSERT_EQ(::chown(Native(shared).constData(), kOther, kOther), 0);
  EXPECT_EQ(OutputPathProblem(planted), QString());
  ASSERT_EQ(::chown(Native(shared).constData(), 0, 0), 0);
  ASSERT_EQ(::chmod(Native(shared).constData(), 0755), 0);
  EXPECT_EQ(OutputPathProblem(planted), QString());
}

}  // namespace
