// Serial devices in a fake device root: what is listed and how, where COM names lead, the
// problems found, and the explanations of port failures.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <cerrno>

#include "devices/explain.h"
#include "devices/holders.h"
#include "devices/serialdevices.h"
#include "tests/devices/fakeroot.h"

// Lets failure messages and EXPECT_EQ show texts.
static std::ostream& operator<<(std::ostream& out, const QString& text) { return out << text.toStdString(); }
static void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

namespace {

const QString kFtdiById = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

// A machine with four adapters and ports of every kind the listing tells apart.
class DevicesTest : public testing::Test {
 protected:
  void SetUp() override {
    Fake.PlugUsb({}, Fake.NodeFile("ttyUSB0"));
    Fake.PlugUsb(TFakeUsbAdapter::BareCh340(), Fake.NodeFile("ttyUSB1"));
    Fake.PlugUsb({.Tty = "ttyACM0", .Port = "1-4", .VendorId = "2341", .ProductId = "0043",
                  .Manufacturer = "Arduino", .Product = "Uno", .Serial = "7583",
                  .ById = "usb-Arduino_Uno_7583-if00"},
                 Fake.NodeFile("ttyACM0"));
    Fake.AddLegacyPort("ttyS0", 4, Fake.NodeFile("ttyS0"));
    Fake.AddLegacyPort("ttyS1", 0, Fake.NodeFile("ttyS1"));  // no UART behind it
    Fake.AddLegacyPort("ttyS2", 4, "");                        // no node (a container)
  }

  // Makes COM3 lead to the FTDI adapter through its stable name.
  void LinkCom3() {
    QString previous;
    ASSERT_EQ(LinkComName("COM3", kFtdiById, previous), QString());
  }

  const TSerialDevice* Find(const QList<TSerialDevice>& list, const QString& name) {
    for (const TSerialDevice& d : list)
      if (d.Name == name) return &d;
    return nullptr;
  }

  // A context whose user is not root, with the given session and account groups.
  static TScanContext UserWith(QList<unsigned> session, QList<unsigned> account) {
    TScanContext context;
    context.Who = {false, 4321, std::move(session), std::move(account)};
    return context;
  }

  TFakeDeviceRoot Fake;
};

TEST_F(DevicesTest, ListsAdaptersAndRealPortsInNameOrder) {
  QStringList names;
  for (const TSerialDevice& d : ListSerialDevices()) names << d.Name;
  // tty0 has no device, ttyS1 no UART, ttyS2 no node; numbers sort by value.
  EXPECT_EQ(names, (QStringList{"ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1"}));
}

struct TListCase {
  const char* Name;
  TSerialDevice Expected;
};

class ListingTest : public DevicesTest, public testing::WithParamInterface<TListCase> {};

TEST_P(ListingTest, DescribesEachDevice) {
  const TSerialDevice& e = GetParam().Expected;
  const QList<TSerialDevice> list = ListSerialDevices();
  const TSerialDevice* d = Find(list, e.Name);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Device, e.Device);
  EXPECT_EQ(d->ById, e.ById);
  EXPECT_EQ(d->Description, e.Description);
  EXPECT_EQ(d->VendorId, e.VendorId);
  EXPECT_EQ(d->ProductId, e.ProductId);
  EXPECT_EQ(d->Serial, e.Serial);
  EXPECT_EQ(d->Com, e.Com);
  EXPECT_EQ(d->Problem, e.Problem);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, ListingTest,
    testing::Values(
        TListCase{"usb_serial_reads_the_usb_device_above_the_interface",
                  {"ttyUSB0", "/dev/ttyUSB0", kFtdiById, "FT232R USB UART (FTDI, A50285BI)", "0403", "6001", "A50285BI", "", ""}},
        TListCase{"usb_without_strings_falls_back_to_its_ids",
                  {"ttyUSB1", "/dev/ttyUSB1", "", "USB serial adapter 1a86:7523", "1a86", "7523", "", "", ""}},
        TListCase{"acm_device_is_the_interface_itself",
                  {"ttyACM0", "/dev/ttyACM0", "/dev/serial/by-id/usb-Arduino_Uno_7583-if00", "Uno (Arduino, 7583)", "2341", "0043", "7583", "", ""}},
        TListCase{"legacy_port_with_a_uart_names_it_and_its_com",
                  {"ttyS0", "/dev/ttyS0", "", "Built-in serial port (16550A)", "", "", "", "COM1", ""}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DevicesTest, AliasesMadeAndRemovedChangeTheComColumn) {
  QString previous;
  ASSERT_EQ(LinkComName("COM3", kFtdiById, previous), QString());
  EXPECT_EQ(previous, QString());
  EXPECT_EQ(Find(ListSerialDevices(), "ttyUSB0")->Com, "COM3");
  ASSERT_EQ(LinkComName("COM3", "/dev/ttyUSB1", previous), QString());  // replaced in one step
  EXPECT_EQ(previous, kFtdiById);
  EXPECT_EQ(Find(ListSerialDevices(), "ttyUSB0")->Com, "");
  EXPECT_EQ(Find(ListSerialDevices(), "ttyUSB1")->Com, "COM3");
  ASSERT_EQ(UnlinkComName("COM3", previous), QString());
  EXPECT_EQ(previous, "/dev/ttyUSB1");
  EXPECT_EQ(Find(ListSerialDevices(), "ttyUSB1")->Com, "");
  EXPECT_EQ(UnlinkComName("COM3", previous), "not linked");
}

// A link the system refuses (its target is longer than a path may be) is reported with the
// system's own reason, and leaves neither the alias nor the half-made link behind.
TEST_F(DevicesTest, RefusedLinkSaysWhyAndLeavesNothing) {
  QString previous;
  const QString refusal = LinkComName("COM3", "/dev/" + QString(5000, u'x'), previous);
  EXPECT_TRUE(refusal.contains("File name too long")) << refusal.toStdString();
  EXPECT_FALSE(QFileInfo(Fake.AliasFile("COM3")).isSymLink());
  EXPECT_FALSE(QFileInfo(Fake.AliasFile("COM3.new")).isSymLink());
}

TEST_F(DevicesTest, PortWithoutUartIsListedOnlyWhenAnAliasLeadsThere) {
  QString previous;
  ASSERT_EQ(LinkComName("COM7", "/dev/ttyS1", previous), QString());
  const QList<TSerialDevice> list = ListSerialDevices();
  const TSerialDevice* phantom = Find(list, "ttyS1");
  ASSERT_NE(phantom, nullptr);
  EXPECT_EQ(phantom->Com, "COM2, COM7");
  EXPECT_EQ(phantom->Problem, "no UART behind it");
}

struct TResolveCase {
  const char* Name;
  const char* Port;
  const char* LinkTo;  // an alias to make first, "" for none
  const char* Device;
  bool HostInRoot;     // Host is the root followed by Device
  bool Alias;
};

class ResolveTest : public DevicesTest, public testing::WithParamInterface<TResolveCase> {};

TEST_P(ResolveTest, NameLeadsWhereItShould) {
  const TResolveCase& c = GetParam();
  QString previous;
  if (*c.LinkTo) {
    ASSERT_EQ(LinkComName(c.Port, c.LinkTo, previous), QString());
  }
  const TPortTarget target = ResolvePort(c.Port);
  EXPECT_EQ(target.Device, QString(c.Device));
  EXPECT_EQ(target.Host, c.HostInRoot ? Fake.Host(c.Device) : QString(c.Device));
  EXPECT_EQ(target.Alias.isEmpty(), !c.Alias);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, ResolveTest,
    testing::Values(
        TResolveCase{"unlinked_com_is_the_legacy_port_inside_the_root", "COM1", "", "/dev/ttyS0", true, false},
        TResolveCase{"com12_is_ttyS11", "COM12", "", "/dev/ttyS11", true, false},
        TResolveCase{"alias_target_is_read_inside_the_root", "COM3", "/dev/serial/by-id/usb-X", "/dev/serial/by-id/usb-X", true, true},
        TResolveCase{"alias_outside_dev_stays_on_the_machine", "COM4", "/tmp/board", "/tmp/board", false, true},
        TResolveCase{"path_is_used_as_it_is", "/dev/pts/3", "", "/dev/pts/3", false, false},
        TResolveCase{"lower_case_name_leads_nowhere", "com1", "", "", false, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DevicesTest, TtyNameFollowsByIdAndAliasLinksInsideTheRoot) {
  EXPECT_EQ(TtyNameOf(kFtdiById), "ttyUSB0");
  EXPECT_EQ(TtyNameOf(QStringLiteral("/dev/ttyS0")), "ttyS0");
  EXPECT_EQ(TtyNameOf(QStringLiteral("/dev/ttyS9")), "");
  LinkCom3();
  EXPECT_EQ(TtyNameOf(ResolvePort("COM3")), "ttyUSB0");
}

// ---- problems ----

struct TPermissionCase {
  const char* Name;
  mode_t Mode;
  QList<unsigned> Session;  // besides the user's own group 4321
  QList<unsigned> Account;
  const char* Problem;
  const char* ExplanationHas;
};

class PermissionTest : public DevicesTest, public testing::WithParamInterface<TPermissionCase> {};

TEST_P(PermissionTest, ProblemAndCureFollowTheUsersGroups) {
  const group* dialout = ::getgrnam("dialout");
  if (!dialout || ::geteuid() != 0) GTEST_SKIP() << "needs root and a dialout group";
  const TPermissionCase& c = GetParam();
  const QByteArray node = QFile::encodeName(Fake.NodeFile("ttyUSB0"));
  ASSERT_EQ(::chown(node.constData(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(node.constData(), c.Mode), 0);
  QList<unsigned> session{4321}, account{4321};
  for (unsigned g : c.Session) session << (g ? g : dialout->gr_gid);
  for (unsigned g : c.Account) account << (g ? g : dialout->gr_gid);
  const TScanContext context = UserWith(session, account);
  EXPECT_EQ(Find(ListSerialDevices(context), "ttyUSB0")->Problem, QString(c.Problem));
  LinkCom3();
  const QString text = ExplainPortFailure("COM3", true, EACCES, context);
  EXPECT_TRUE(text.contains(QString::fromUtf8(c.ExplanationHas))) << text;
}

// Group 0 in the rows stands for dialout.
INSTANTIATE_TEST_SUITE_P(
    Devices, PermissionTest,
    testing::Values(
        TPermissionCase{"not_in_group_is_told_to_join", 0660, {}, {}, "no permission (not in group dialout)",
                        "you are not in that group. Join it, then log out and back in:\n  sudo usermod -aG dialout $USER"},
        TPermissionCase{"added_after_login_is_told_to_log_in_again", 0660, {}, {0},
                        "no permission (log in again for group dialout)", "You were added to dialout after this session began"},
        TPermissionCase{"group_without_rights_names_the_mode", 0600, {0}, {0},
                        "no permission (rw-------, group dialout)", "its permissions (rw-------, group dialout)"},
        TPermissionCase{"member_of_the_group_has_no_problem", 0660, {0}, {0}, "", "access is refused although"}),
    [](const auto& info) { return std::string(info.param.Name); });

// An unprivileged process meets the real refusal: the kernel's EACCES and the identity read
// from the system lead to the cure.
TEST_F(DevicesTest, UnprivilegedUserIsToldToJoinTheDevicesGroup) {
  const group* dialout = ::getgrnam("dialout");
  if (!dialout || ::geteuid() != 0) GTEST_SKIP() << "needs root (to become nobody) and a dialout group";
  const QString nodeFile = Fake.NodeFile("ttyUSB0");
  ASSERT_EQ(::chown(QFile::encodeName(nodeFile).constData(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(nodeFile).constData(), 0660), 0);
  // nobody must be able to walk to the node and the alias folder.
  for (QString dir = QFileInfo(nodeFile).path(); dir.startsWith(QStringLiteral("/tmp/")); dir = QFileInfo(dir).path())
    ::chmod(QFile::encodeName(dir).constData(), 0755);
  LinkCom3();
  const QByteArray text = TextAsNobody([&] {
    const int fd = ::open(QFile::encodeName(Fake.Host("/dev/ttyUSB0")).constData(), O_RDWR);
    const int error = fd < 0 ? errno : 0;
    return ExplainPortFailure("COM3", true, error).toUtf8();
  });
  EXPECT_TRUE(text.contains("You may not open /dev/ttyUSB0 (COM3): it belongs to group dialout")) << text.constData();
  EXPECT_TRUE(text.contains("sudo usermod -aG dialout $USER")) << text.constData();
}

struct THoldCase {
  const char* Name;
  enum { AsciiLockFile, BinaryLockFile, DeadLockFile, Flock } How;
  bool Held;
};

class HoldersTest : public DevicesTest, public testing::WithParamInterface<THoldCase> {};

TEST_P(HoldersTest, InUseNamesTheProgramAndItsPid) {
  const THoldCase& c = GetParam();
  QTemporaryDir locks;
  TScanContext context;
  context.LockDirs = {locks.path()};
  qint64 pid = ::getpid();
  if (c.How == THoldCase::DeadLockFile) {
    pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
  }
  QFile lock(locks.filePath("LCK..ttyUSB0"));
  int fd = -1;
  if (c.How == THoldCase::Flock) {
    fd = ::open(QFile::encodeName(Fake.Host("/dev/ttyUSB0")).constData(), O_RDWR);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  } else {
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    const int binary = int(pid);
    lock.write(c.How == THoldCase::BinaryLockFile ? QByteArray(reinterpret_cast<const char*>(&binary), sizeof binary)
                                                  : QString::asprintf("%10lld\n", pid).toLatin1());
    lock.close();
  }
  const QString expected = c.Held ? QStringLiteral("in use by test_devices (PID %1)").arg(pid) : QString();
  EXPECT_EQ(Find(ListSerialDevices(context), "ttyUSB0")->Problem, expected);
  LinkCom3();
  const QString text = ExplainPortFailure("COM3", true, EBUSY, context);
  if (c.Held) {
    EXPECT_TRUE(text.contains(QStringLiteral("is in use by test_devices (PID %1)").arg(pid))) << text;
  }
  if (fd >= 0) ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, HoldersTest,
    testing::Values(THoldCase{"ascii_lock_file", THoldCase::AsciiLockFile, true},
                    THoldCase{"binary_lock_file", THoldCase::BinaryLockFile, true},
                    THoldCase{"lock_file_of_a_dead_process_is_stale", THoldCase::DeadLockFile, false},
                    THoldCase{"flock_in_the_kernels_lock_table", THoldCase::Flock, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// A binary lock file's PID whose bytes begin with digits (2617 is "9\n\0\0") is read as the
// binary number, not as the digits before its NULs; a text lock file is read as its digits.
TEST_F(DevicesTest, LockFileReadsAsTheFormItWasWrittenIn) {
  QTemporaryDir proc, locks;
  TScanContext context;
  context.ProcDir = proc.path();
  context.LockDirs = {locks.path()};
  for (const char* pid : {"9", "2617"}) {
    QDir(proc.path()).mkpath(pid);
    QFile comm(proc.filePath(QStringLiteral("%1/comm").arg(pid)));
    ASSERT_TRUE(comm.open(QIODevice::WriteOnly));
    comm.write(QByteArray(pid) == "9" ? "kworker\n" : "minicom\n");
  }
  const int binary = 2617;
  for (const QByteArray& content :
       {QByteArray(reinterpret_cast<const char*>(&binary), sizeof binary), QByteArray("      2617\n")}) {
    QFile lock(locks.filePath("LCK..ttyUSB0"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lock.write(content);
    lock.close();
    EXPECT_EQ(Find(ListSerialDevices(context), "ttyUSB0")->Problem,
              QStringLiteral("in use by minicom (PID 2617)")) << content.toHex().constData();
  }
}

TEST_F(DevicesTest, InUseWithoutLockNamesWhoHasItOpen) {
  LinkCom3();
  QFile open(Fake.Host("/dev/ttyUSB0"));
  ASSERT_TRUE(open.open(QIODevice::ReadWrite));
  const QString text = ExplainPortFailure("COM3", true, EBUSY);
  EXPECT_TRUE(text.contains(QStringLiteral("is in use by test_devices (PID %1)").arg(::getpid()))) << text;
  open.close();
  EXPECT_TRUE(ExplainPortFailure("COM3", true, EBUSY).contains("/dev/ttyUSB0 (COM3) is in use by another program"));
}

// ---- explanations ----

struct TExplainCase {
  const char* Name;
  const char* Port;
  bool AtOpen;
  int Error;
  bool UnplugFtdi;
  std::vector<const char*> Has;
};

class ExplainTest : public DevicesTest, public testing::WithParamInterface<TExplainCase> {};

TEST_P(ExplainTest, NamesThePathAndTheCure) {
  const TExplainCase& c = GetParam();
  LinkCom3();
  if (c.UnplugFtdi) Fake.Unplug("ttyUSB0");
  const QString text = ExplainPortFailure(c.Port, c.AtOpen, c.Error);
  for (const char* has : c.Has) EXPECT_TRUE(text.contains(QString::fromUtf8(has))) << has << "\nin:\n" << text;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, ExplainTest,
    testing::Values(
        TExplainCase{"missing_legacy_port_offers_the_adapters_and_the_link", "COM5", true, ENOENT, false,
                     {"Nothing is at /dev/ttyS4, where COM5 leads.", "Present now:",
                      "/dev/ttyUSB0 — FT232R USB UART (FTDI, A50285BI)", "zirv7ctl link COM5 /dev/ttyACM0"}},
        TExplainCase{"alias_to_an_unplugged_adapter", "COM3", true, ENOENT, true,
                     {"COM3 is linked to /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0, and "
                      "nothing is there now: the adapter is unplugged", "zirv7ctl link COM3 /dev/ttyACM0"}},
        TExplainCase{"legacy_port_without_uart", "COM2", true, ENXIO, false,
                     {"/dev/ttyS1 (COM2) is a legacy serial port with no UART behind it", "zirv7ctl link COM2 "}},
        TExplainCase{"node_without_device", "COM3", true, ENXIO, false,
                     {"No device answers at /dev/ttyUSB0 (COM3): it was unplugged or powered off."}},
        TExplainCase{"not_a_terminal", "COM3", true, ENOTTY, false, {"/dev/ttyUSB0 (COM3) is not a serial device."}},
        TExplainCase{"gone_while_in_use", "COM3", false, EIO, false,
                     {"/dev/ttyUSB0 (COM3) went away while in use: it was unplugged or powered off."}},
        TExplainCase{"other_errors_keep_the_systems_words", "COM3", false, EINVAL, false,
                     {"/dev/ttyUSB0 (COM3): Invalid argument."}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ExplainAlone, NoAdapterAtAllSaysToPlugOneIn) {
  TFakeDeviceRoot empty;
  const QString text = ExplainPortFailure("COM1", true, ENOENT);
  EXPECT_TRUE(text.contains("Nothing is at /dev/ttyS0, where COM1 leads.")) << text;
  EXPECT_TRUE(text.contains("No serial adapter is present: plug one in (zirv7ctl ports lists what is found).")) << text;
  EXPECT_EQ(ExplainPortFailure("COM1", true, 0), QString());
}

TEST_F(DevicesTest, ComNamesDescribeWhatTheyReachNow) {
  LinkCom3();
  const QList<TSerialDevice> present = ListSerialDevices();
  const std::pair<const char*, const char*> rows[] = {
      {"COM3", "COM3: FT232R USB UART (FTDI, A50285BI) — /dev/ttyUSB0"},
      {"COM1", "COM1: Built-in serial port (16550A) — /dev/ttyS0"},
      {"COM2", "COM2: no UART behind it — /dev/ttyS1"},
      {"COM5", "COM5: nothing is there — /dev/ttyS4"}};
  for (const auto& [com, text] : rows) EXPECT_EQ(DescribeComName(com, present), QString::fromUtf8(text));
}

}  // namespace
