// zirv7ctl ports, link and unlink against a fake device root.
#include <gtest/gtest.h>

#include <filesystem>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ctl/command.h"
#include "tests/ctl/ctlrun.h"
#include "tests/devices/fakeroot.h"

namespace {

const char kFtdiById[] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

class CtlPortsTest : public testing::Test {
 protected:
  void SetUp() override {
    Fake.PlugUsb({}, Fake.NodeFile("ttyUSB0"));
    Fake.PlugUsb(TFakeUsbAdapter::BareCh340(), Fake.NodeFile("ttyUSB1"));
    Fake.AddLegacyPort("ttyS3", 0, Fake.NodeFile("ttyS3"));
  }
  // The alias's target as written.
  QString RawAlias(const char* com) const {
    std::error_code error;
    return QString::fromStdString(std::filesystem::read_symlink(Fake.AliasFile(com).toStdString(), error).string());
  }
  TFakeDeviceRoot Fake;
};

TEST_F(CtlPortsTest, TableShowsEachDeviceWithItsDescriptionAndStableName) {
  const TCtlResult r = RunCtlCaptured({"ports"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  const QStringList lines = r.Out.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3) << r.Out.toStdString();  // the phantom ttyS3 is left out
  EXPECT_TRUE(lines[0].startsWith("DEVICE")) << r.Out.toStdString();
  EXPECT_EQ(lines[1].simplified(), QStringLiteral("/dev/ttyUSB0 - 0403:6001 FT232R USB UART (FTDI, A50285BI) - ") + kFtdiById);
  EXPECT_EQ(lines[2].simplified(), "/dev/ttyUSB1 - 1a86:7523 USB serial adapter 1a86:7523 - -");
}

TEST_F(CtlPortsTest, JsonHasEveryKeyWithNullWhereAbsent) {
  RunCtlCaptured({"link", "COM3", "/dev/ttyUSB0"});
  const TCtlResult r = RunCtlCaptured({"ports", "--json"});
  ASSERT_EQ(r.Status, kExitOk);
  const QJsonArray array = QJsonDocument::fromJson(r.Out.toUtf8()).array();
  ASSERT_EQ(array.size(), 2);
  const QJsonObject ftdi = array[0].toObject(), ch340 = array[1].toObject();
  EXPECT_EQ(ftdi.keys(), (QStringList{"by_id", "com", "description", "device", "problem", "product_id", "serial", "vendor_id"}));
  EXPECT_EQ(ftdi["device"], "/dev/ttyUSB0");
  EXPECT_EQ(ftdi["by_id"], kFtdiById);
  EXPECT_EQ(ftdi["description"], "FT232R USB UART (FTDI, A50285BI)");
  EXPECT_EQ(ftdi["vendor_id"], "0403");
  EXPECT_EQ(ftdi["product_id"], "6001");
  EXPECT_EQ(ftdi["serial"], "A50285BI");
  EXPECT_EQ(ftdi["com"], "COM3");
  EXPECT_TRUE(ftdi["problem"].isNull());
  for (const char* key : {"by_id", "serial", "com", "problem"}) EXPECT_TRUE(ch340[key].isNull()) << key;
}

TEST_F(CtlPortsTest, LinkGoesThroughTheStableNameAndUnlinkRemovesIt) {
  TCtlResult r = RunCtlCaptured({"link", "COM3", "/dev/ttyUSB0"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_EQ(r.Out, QStringLiteral("COM3 -> ") + kFtdiById + "\n");
  EXPECT_EQ(RawAlias("COM3"), kFtdiById);
  r = RunCtlCaptured({"link", "COM3", "ttyUSB1"});  // no stable name: the kernel's
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_EQ(RawAlias("COM3"), "/dev/ttyUSB1");
  EXPECT_EQ(r.Err, QStringLiteral("zirv7ctl: COM3: was linked to ") + kFtdiById + "\n");
  r = RunCtlCaptured({"unlink", "COM3"});
  EXPECT_EQ(r.Status, kExitOk);
  EXPECT_FALSE(QFile::exists(Fake.AliasFile("COM3")) || QFileInfo(Fake.AliasFile("COM3")).isSymLink());
}

struct TRefusalCase {
  const char* Name;
  QStringList Args;
  int Status;
  const char* Err;
};

class CtlRefusalTest : public CtlPortsTest, public testing::WithParamInterface<TRefusalCase> {};

TEST_P(CtlRefusalTest, OneLineAndTheRightStatus) {
  const TRefusalCase& c = GetParam();
  const TCtlResult r = RunCtlCaptured(c.Args);
  EXPECT_EQ(r.Status, c.Status);
  EXPECT_EQ(r.Err, QString::fromUtf8(c.Err) + "\n");
  EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
  EXPECT_FALSE(QFileInfo(Fake.AliasFile("COM3")).isSymLink());
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, CtlRefusalTest,
    testing::Values(
        TRefusalCase{"missing_device", {"link", "COM3", "/dev/ttyUSB9"}, kExitFailed,
                     "zirv7ctl: /dev/ttyUSB9: no such device (see 'zirv7ctl ports')"},
        TRefusalCase{"port_without_uart", {"link", "COM3", "/dev/ttyS3"}, kExitFailed,
                     "zirv7ctl: /dev/ttyS3: no UART behind it; nothing can answer there"},
        TRefusalCase{"com_beyond_the_selector", {"link", "COM33", "/dev/ttyUSB0"}, kExitUsage,
                     "zirv7ctl: COM33: not a port name of the tool (COM1 to COM32)"},
        TRefusalCase{"com_name_not_as_the_tool_writes_it", {"link", "com3", "/dev/ttyUSB0"}, kExitUsage,
                     "zirv7ctl: com3: not a port name of the tool (COM1 to COM32)"},
        TRefusalCase{"empty_device", {"link", "COM3", ""}, kExitFailed, "zirv7ctl: '': an empty name is no device"},
        TRefusalCase{"file_outside_dev", {"link", "COM3", "/etc/passwd"}, kExitFailed,
                     "zirv7ctl: /etc/passwd: not a device: a COM name leads only to a terminal device under /dev"},
        TRefusalCase{"path_climbing_out_of_dev", {"link", "COM3", "../etc/passwd"}, kExitFailed,
                     "zirv7ctl: ../etc/passwd: not a device: a COM name leads only to a terminal device under /dev"},
        TRefusalCase{"the_root_folder", {"link", "COM3", "/"}, kExitFailed,
                     "zirv7ctl: /: not a device: a COM name leads only to a terminal device under /dev"},
        TRefusalCase{"process_file", {"link", "COM3", "/proc/self/fd/0"}, kExitFailed,
                     "zirv7ctl: /proc/self/fd/0: not a device: a COM name leads only to a terminal device under /dev"},
        TRefusalCase{"not_a_com_name", {"unlink", "ttyUSB0"}, kExitUsage,
                     "zirv7ctl: ttyUSB0: not a port name of the tool (COM1 to COM32)"},
        TRefusalCase{"link_needs_two_arguments", {"link", "COM3"}, kExitUsage,
                     "zirv7ctl: link: expects COMn DEVICE; see 'zirv7ctl link --help'"},
        TRefusalCase{"unlink_of_nothing", {"unlink", "COM3"}, kExitFailed, "zirv7ctl: COM3: not linked"},
        TRefusalCase{"ports_takes_no_argument", {"ports", "extra"}, kExitUsage, "zirv7ctl: ports: takes no arguments"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CtlPortsAlone, NoDeviceIsNoFailure) {
  TFakeDeviceRoot empty;
  TCtlResult r = RunCtlCaptured({"ports"});
  EXPECT_EQ(r.Status, kExitOk);
  EXPECT_TRUE(r.Out.isEmpty());
  EXPECT_TRUE(r.Err.contains("No serial device found"));
  r = RunCtlCaptured({"ports", "--json"});
  EXPECT_EQ(r.Out.simplified(), "[]");
}

}  // namespace
