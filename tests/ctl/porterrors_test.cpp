// Every port failure the window's error box explains is explained the same way on the command
// line, beneath the port's own text; a board that does not answer says what to check.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/simulator.h"
#include "tests/simgate.h"
#include "boardsession/boardlink.h"
#include "tests/ctl/ctlrun.h"
#include "tests/devices/fakeroot.h"
#include "tests/devices/openholder.h"

namespace {

class PortErrorsTest : public testing::Test {
 protected:
  void SetUp() override {
    qputenv("XDG_DATA_HOME", (Fake.Config() + "/data").toLocal8Bit());
    FSim = std::make_unique<zirvsim::TBoardSimulator>(
        zirvsim::TSimOptions{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0});
    FSim->Start();
    FLegacy.Start();
    Fake.PlugUsb(TFakeUsbAdapter::BareCh340(), Pty());
    Fake.AddLegacyPort("ttyS3", 0, QString::fromStdString(FLegacy.DevicePath()));
  }
  QString Pty() const { return QString::fromStdString(FSim->DevicePath()); }
  // Makes com an alias of a path inside the root, as 'zirv7ctl link' would.
  void Alias(const QString& com, const QString& inside) {
    QDir().mkpath(QFileInfo(Fake.AliasFile(com)).path());
    ASSERT_TRUE(QFile::link(inside, Fake.AliasFile(com)));
  }
  static TCtlResult Params(const QString& port) {
    return RunCtlCaptured({"step", "--port", port, "--step", "100"});
  }

  TFakeDeviceRoot Fake;
  std::unique_ptr<zirvsim::TBoardSimulator> FSim;
  zirvsim::TBoardSimulator FLegacy;  // the pty behind the legacy port
};

TEST_F(PortErrorsTest, EachFailureIsExplainedBeneathThePortsOwnText) {
  Alias("COM3", "/dev/ttyUSB0");  // unplugged: no node
  Alias("COM5", "/dev/ttyUSB1");
  TBoardLink holder;
  holder.Open("COM5");
  const QString self = QStringLiteral("(PID %1)").arg(::getpid());
  struct TCase {
    const char* Name;
    QString Port;
    QStringList Said;
    const char* NotSaid = nullptr;  // advice that would not work
  } cases[] = {
      {"missing, with the adapter present and the link command", "COM3",
       {"zirv7ctl: COM3: Unable to open com port (Error: 2)\n",
        "COM3 is linked to /dev/ttyUSB0, and nothing is there now",
        "zirv7ctl link COM3 /dev/ttyUSB1"}},
      {"in use, with program and PID", "COM5",
       {"zirv7ctl: COM5: Unable to open com port", "/dev/ttyUSB1 (COM5) is in use by", self,
        "run the command again"}},
      {"no UART", "COM4",
       {"zirv7ctl: COM4: Unable to open com port", "/dev/ttyS3 (COM4) is a legacy serial port with no UART"}},
      {"outside COM1 to COM32", "COM40", {"COM40 is not one of the tool's port names (COM1 to COM32)"}, "zirv7ctl link COM40"},
      {"not in the tool's one form", "com4", {"com4 names no port: the tool's ports are COM1 to COM32"}},
  };
  for (const TCase& c : cases) {
    const TCtlResult r = Params(c.Port);
    EXPECT_EQ(r.Status, kExitFailed) << c.Name;
    EXPECT_TRUE(r.Out.isEmpty()) << c.Name;
    for (const QString& said : c.Said)
      EXPECT_TRUE(r.Err.contains(said)) << c.Name << ": expected '" << said.toStdString() << "' in\n"
                                        << r.Err.toStdString();
    if (c.NotSaid) {
      EXPECT_FALSE(r.Err.contains(QLatin1String(c.NotSaid))) << c.Name << ":\n" << r.Err.toStdString();
    }
  }
  EXPECT_TRUE(FSim->ReceivedCommands().empty());
}

// The kernel's own refusal, met by an unprivileged process: the group and its cure.
TEST_F(PortErrorsTest, NoPermissionNamesTheGroup) {
  const group* dialout = ::getgrnam("dialout");
  if (!dialout || ::geteuid() != 0) GTEST_SKIP() << "needs root (to become nobody) and a dialout group";
  const QString node = Fake.NodeFile("ttyUSB0");
  ASSERT_EQ(::chown(QFile::encodeName(node).constData(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0660), 0);
  Fake.PlugUsb({}, node);
  Alias("COM3", "/dev/ttyUSB0");
  for (QString dir = QFileInfo(node).path(); dir.startsWith(QStringLiteral("/tmp/")); dir = QFileInfo(dir).path())
    ::chmod(QFile::encodeName(dir).constData(), 0755);
  ::chmod(QFile::encodeName(Fake.Config()).constData(), 0755);
  // nobody keeps its run history in a folder of its own.
  const QString data = Fake.Config() + "/nobody";
  QDir().mkpath(data);
  ::chmod(QFile::encodeName(data).constData(), 0777);
  qputenv("XDG_DATA_HOME", data.toLocal8Bit());
  const QByteArray text = TextAsNobody([&] { return Params("COM3").Err.toUtf8(); });
  EXPECT_TRUE(text.contains("zirv7ctl: COM3: Unable to open com port (Error: 13)\n")) << text.constData();
  EXPECT_TRUE(text.contains("You may not open /dev/ttyUSB0 (COM3): it belongs to group dialout")) << text.constData();
  EXPECT_TRUE(text.contains("sudo usermod -aG dialout $USER")) << text.constData();
}

// A program that opened the device before, without a lock (socat, a script), would take part
// of the answers: the port is refused as in use, before anything is sent.
TEST_F(PortErrorsTest, HolderWithoutLockIsRefusedAndNamed) {
  Alias("COM5", "/dev/ttyUSB1");
  TOpenHolder other(Pty());
  ASSERT_TRUE(other.Holding());
  const TCtlResult r = RunCtlCaptured({"params", "--port", "COM5"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("zirv7ctl: COM5: Unable to open com port (Error: 16)\n")) << r.Err.toStdString();
  // The program's name as the kernel keeps it (cut to 15 characters), then its PID.
  EXPECT_TRUE(r.Err.contains(QStringLiteral("/dev/ttyUSB1 (COM5) is in use by test_ctl_porter (PID %1). "
                                            "Close it there, then run the command again.")
                                 .arg(other.Pid())))
      << r.Err.toStdString();
  EXPECT_TRUE(FSim->ReceivedCommands().empty());
}

// Another user's descriptors cannot be read: the port is not refused for what cannot be seen,
// and a later failure says that a second reader could not be ruled out.
TEST_F(PortErrorsTest, HoldersThatCannotBeCheckedAreNamedInLaterFailures) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (to become nobody)";
  ASSERT_EQ(::chmod(QFile::encodeName(Pty()).constData(), 0666), 0);
  for (QString dir = Fake.Root(); dir.startsWith(QStringLiteral("/tmp/")); dir = QFileInfo(dir).path())
    ::chmod(QFile::encodeName(dir).constData(), 0755);
  ::chmod(QFile::encodeName(Fake.Config()).constData(), 0755);
  Alias("COM5", "/dev/ttyUSB1");
  const QString data = Fake.Config() + "/nobody";
  QDir().mkpath(data);
  ::chmod(QFile::encodeName(data).constData(), 0777);
  qputenv("XDG_DATA_HOME", data.toLocal8Bit());
  FSim->SetFault(zirvsim::TFault::NoAnswer);
  const QByteArray text = TextAsNobody([&] { return RunCtlCaptured({"params", "--port", "COM5"}).Err.toUtf8(); });
  EXPECT_TRUE(text.contains("zirv7ctl: COM5: Error reading params\n")) << text.constData();
  EXPECT_TRUE(text.contains("Whether another program also has /dev/ttyUSB1 (COM5) open could not be checked")) << text.constData();
  EXPECT_EQ(FSim->ReceivedCommands(), std::vector<std::string>{"l"});
}

TEST_F(PortErrorsTest, SilentBoardSaysWhatWasSentAndWhatToCheck) {
  FSim->SetFault(zirvsim::TFault::NoAnswer);
  Alias("COM5", "/dev/ttyUSB1");
  const TCtlResult r = Params("COM5");
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("zirv7ctl: COM5: Error reading params\n")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("\"l\" was sent to /dev/ttyUSB1 (COM5) and no whole answer came back"))
      << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("Check that the board is powered")) << r.Err.toStdString();
}

// The simulated board as a program of its own, started with a fault mode: the explanation
// names the mode.
TEST_F(PortErrorsTest, SilentSimulatorNamesItsFaultMode) {
  QProcess sim;
  sim.start(QStringLiteral(ZIRV_SIM_PROGRAM), {"--no-pacing", "--fault", "no-answer"});
  ASSERT_TRUE(sim.waitForStarted());
  ASSERT_TRUE(sim.waitForReadyRead(10000));
  const QString device = QString::fromUtf8(sim.readLine()).trimmed();
  ASSERT_TRUE(device.startsWith("/dev/")) << device.toStdString();
  const TCtlResult r = Params(device);
  sim.terminate();
  sim.waitForFinished();
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains(device + " is the simulated board zirv7-sim (PID")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("started with --fault no-answer")) << r.Err.toStdString();
}

// A device that goes away in the middle of any command that has the port open is explained
// as the window explains it, with the device the port led to when it was opened.
TEST_F(PortErrorsTest, DeviceLostInUseIsExplainedByEveryCommand) {
  Alias("COM5", "/dev/ttyUSB1");
  const QString file = Fake.Config() + "/other.pset";
  // The board's values but P, as the simulated board starts with them.
  Write(file, "[ZIRVParam]\r\nP=0.3\r\nI=0.0005\r\nD=0.0015\r\nDeadband=0\r\nMaxOutput=95\r\nFF0=0\r\nFF1=0\r\n"
              "FaultError=1000\r\nStepMultiplier=1\r\nTPSC=4\r\nHallTimeout=50\r\nChargeElcos=0\r\n"
              "PhaseAdvance=0\r\nSVMCycle=3\r\n");
  struct TCase {
    const char* Name;
    QStringList Args;
    int AnswersBeforeHangUp;
  } cases[] = {
      {"step, during the test", {"step", "--port", "COM5", "--step", "100"}, 1},
      {"compare, during the test", {"compare", "--port", "COM5", "--step", "100", file, "--yes"}, 2},
      {"compare, during a write", {"compare", "--port", "COM5", "--step", "100", file, "--yes"}, 1},
      {"write, during a write", {"write", "--port", "COM5", file, "--yes"}, 1},
  };
  for (const TCase& c : cases) {
    FSim->SetFault(zirvsim::TFault::HangUpAfter, c.AnswersBeforeHangUp);
    const TCtlResult r = RunCtlCaptured(c.Args);
    EXPECT_EQ(r.Status, kExitFailed) << c.Name;
    EXPECT_TRUE(r.Err.contains("/dev/ttyUSB1 (COM5) went away while in use: it was unplugged or powered "
                               "off. Plug it back in, then run the command again."))
        << c.Name << ":\n" << r.Err.toStdString();
    // The next case needs a board that is there again.
    FSim = std::make_unique<zirvsim::TBoardSimulator>(
        zirvsim::TSimOptions{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0});
    FSim->Start();
    Fake.Unplug("ttyUSB1");
    Fake.PlugUsb(TFakeUsbAdapter::BareCh340(), Pty());
  }
}

}  // namespace
