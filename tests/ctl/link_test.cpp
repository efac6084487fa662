// zirv7ctl link leads COM names only to terminal devices and does not take a port from under
// a program; ports lists what aliases lead to besides the serial adapters.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <filesystem>
#include <unistd.h>

#include "sim/simulator.h"
#include "tests/simgate.h"
#include "tests/ctl/ctlrun.h"
#include "tests/devices/fakeroot.h"

namespace {

QString RawAlias(const QString& aliasFile) {
  std::error_code error;
  return QString::fromStdString(std::filesystem::read_symlink(aliasFile.toStdString(), error).string());
}

class CtlLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    FSim.Start();
    Fake.PlugUsb({}, Fake.NodeFile("ttyUSB0"));
    Fake.PlugUsb(TFakeUsbAdapter::BareCh340(), QString::fromStdString(FSim.DevicePath()));
  }
  QString Self() const { return QStringLiteral("(PID %1)").arg(::getpid()); }

  zirvsim::TBoardSimulator FSim;  // holds its pty open, as the program does
  TFakeDeviceRoot Fake;
};

// An alias that leads to a device a program holds (here the simulated board's pty) is not
// re-pointed without --force; one whose device is free is.
TEST_F(CtlLinkTest, AliasOfADeviceInUseIsReplacedOnlyWithForce) {
  ASSERT_EQ(RunCtlCaptured({"link", "COM1", "ttyUSB1"}).Status, kExitOk);
  TCtlResult r = RunCtlCaptured({"link", "COM1", "/dev/ttyUSB0"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.startsWith("zirv7ctl: COM1: leads to /dev/ttyUSB1, which ")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains(Self() + " holds now")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("use --force")) << r.Err.toStdString();
  EXPECT_EQ(RawAlias(Fake.AliasFile("COM1")), "/dev/ttyUSB1");

  // Linking it to where it already leads takes nothing from anyone.
  EXPECT_EQ(RunCtlCaptured({"link", "COM1", "/dev/ttyUSB1"}).Status, kExitOk);

  r = RunCtlCaptured({"link", "COM1", "/dev/ttyUSB0", "--force"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(RawAlias(Fake.AliasFile("COM1")).endsWith("A50285BI-if00-port0"));
  // ttyUSB0 stands for a device nobody holds: re-pointing it needs no force.
  EXPECT_EQ(RunCtlCaptured({"link", "COM1", "/dev/ttyUSB1"}).Status, kExitOk);
}

// unlink follows the same rule: the alias of a device in use stays unless --force.
TEST_F(CtlLinkTest, AliasOfADeviceInUseIsRemovedOnlyWithForce) {
  ASSERT_EQ(RunCtlCaptured({"link", "COM1", "ttyUSB1"}).Status, kExitOk);
  TCtlResult r = RunCtlCaptured({"unlink", "COM1"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.startsWith("zirv7ctl: COM1: leads to /dev/ttyUSB1, which ")) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains(Self() + " holds now; removing COM1")) << r.Err.toStdString();
  EXPECT_EQ(RawAlias(Fake.AliasFile("COM1")), "/dev/ttyUSB1");

  r = RunCtlCaptured({"unlink", "COM1", "--force"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_FALSE(QFileInfo(Fake.AliasFile("COM1")).isSymLink());

  // An alias whose device nobody holds goes without force.
  ASSERT_EQ(RunCtlCaptured({"link", "COM2", "/dev/ttyUSB0"}).Status, kExitOk);
  r = RunCtlCaptured({"unlink", "COM2"});
  EXPECT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_FALSE(QFileInfo(Fake.AliasFile("COM2")).isSymLink());
}

TEST_F(CtlLinkTest, PortsListsAliasesThatLeadElsewhereWithWhatIsThere) {
  QDir().mkpath(Fake.Host("/dev/pts"));
  Fake.AddNode("/dev/pts/9", QString::fromStdString(FSim.DevicePath()));
  QDir().mkpath(QFileInfo(Fake.AliasFile("COM7")).path());
  ASSERT_TRUE(QFile::link("/dev/pts/9", Fake.AliasFile("COM7")));
  ASSERT_TRUE(QFile::link("/dev/ttyUSB7", Fake.AliasFile("COM8")));  // left over
  ASSERT_TRUE(QFile::link("/dev/ttyUSB0", Fake.AliasFile("COM2")));  // an adapter: its own row

  TCtlResult r = RunCtlCaptured({"ports"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  const QStringList lines = r.Out.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5) << r.Out.toStdString();
  EXPECT_TRUE(lines[1].startsWith("/dev/ttyUSB0  COM2")) << r.Out.toStdString();
  EXPECT_TRUE(lines[3].simplified().startsWith("/dev/pts/9 COM7 - pseudo-terminal of ")) << r.Out.toStdString();
  EXPECT_TRUE(lines[3].contains(Self())) << r.Out.toStdString();
  EXPECT_TRUE(lines[4].simplified().startsWith("/dev/ttyUSB7 COM8 - nothing nothing is there (zirv7ctl unlink COM8)"))
      << r.Out.toStdString();

  r = RunCtlCaptured({"ports", "--json"});
  const QJsonArray array = QJsonDocument::fromJson(r.Out.toUtf8()).array();
  ASSERT_EQ(array.size(), 4);
  EXPECT_EQ(array[2].toObject()["com"], "COM7");
  EXPECT_TRUE(array[2].toObject()["description"].toString().startsWith("pseudo-terminal of "));
  EXPECT_TRUE(array[2].toObject()["vendor_id"].isNull());
}

// On the machine's own /dev: only terminal devices, never memory devices, the console or a
// process's files.
TEST(CtlLinkMachine, OnlyTerminalDevicesAreLinked) {
  QTemporaryDir config;
  const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME"), savedRoot = qgetenv("ZIRV7TUNE_DEVICE_ROOT");
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  qunsetenv("ZIRV7TUNE_DEVICE_ROOT");
  zirvsim::TBoardSimulator sim;
  sim.Start();
  struct TCase {
    QString Device;
    const char* Said;  // "" when it is linked
  } cases[] = {
      {"/dev/zero", "not a serial port or terminal"},
      {"/dev/null", "not a serial port or terminal"},
      {"/dev/tty", "not a serial port or terminal"},
      {"/dev/ptmx", "not a serial port or terminal"},
      {"/dev/", "a folder, not a device"},
      {"/proc/self/fd/0", "not a device"},
      {QString::fromStdString(sim.DevicePath()), ""},
  };
  for (const TCase& c : cases) {
    const TCtlResult r = RunCtlCaptured({"link", "COM9", c.Device});
    if (*c.Said == '\0') {
      EXPECT_EQ(r.Status, kExitOk) << c.Device.toStdString() << ": " << r.Err.toStdString();
      EXPECT_EQ(RawAlias(config.path() + "/zirv7tune/ports/COM9"), c.Device);
    } else {
      EXPECT_EQ(r.Status, kExitFailed) << c.Device.toStdString();
      EXPECT_TRUE(r.Err.contains(QLatin1String(c.Said))) << c.Device.toStdString() << ": " << r.Err.toStdString();
    }
  }
  qputenv("XDG_CONFIG_HOME", savedConfig);
  if (!savedRoot.isNull()) qputenv("ZIRV7TUNE_DEVICE_ROOT", savedRoot);
}

}  // namespace
