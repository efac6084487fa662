// The port's rules that need no device: its error texts and messages, and the arithmetic of
// its read and write time-outs.
#include <gtest/gtest.h>

#include <cerrno>

#include "serial/comerrors.h"
#include "serial/comtimeouts.h"

namespace {

// Every code's text, in order, so that a shifted or misspelt entry names its code.
TEST(ComErrors, EveryCodeHasItsOwnText) {
  const char* const texts[] = {
      "Unable to open com port", "WriteFile function failed", "ReadFile function failed",
      "Invalid Async parameter", "PurgeComm function failed", "Unable to get async status",
      "SetCommState function failed", "SetCommTimeouts failed", "SetupComm function failed",
      "ClearCommError function failed", "GetCommModemStatus function failed",
      "EscapeCommFunction function failed", "TransmitCommChar function failed",
      "Cannot set property while connected", "EnumPorts function failed",
      "Failed to store settings", "Failed to load settings", "Link (un)registration failed",
      "Cannot change led state if ComPort is selected",
      "Cannot wait for event if event thread is created", "WaitForEvent method failed",
      "A component is linked to OnRxBuf event", "Registry error", "Port Not Open"};
  for (int code = CE_OpenFailed; code <= CEPortNotOpen; ++code) {
    EXPECT_EQ(ComErrorText(code).toStdString(), texts[code - 1]) << "code " << code;
  }
  EXPECT_TRUE(ComErrorText(0).isEmpty());
  EXPECT_TRUE(ComErrorText(CEPortNotOpen + 1).isEmpty());
}

struct TMessageCase {
  const char* Name;
  int Code;
  int WinCode;
  const char* Message;
  int KeptWinCode;
  bool DeviceLoss;
};

TEST(ComErrors, MessageShowsOnlyAPlatformNumberAboveZero) {
  const TMessageCase cases[] = {
      {"number shown", CE_SetStateFailed, 22, "SetCommState function failed (Error: 22)", 22,
       false},
      {"zero left out", CE_WriteFailed, 0, "WriteFile function failed", -1, false},
      {"minus one left out", CEPortNotOpen, -1, "Port Not Open", -1, false},
      {"negative left out", CE_ReadFailed, -7, "ReadFile function failed", -1, false},
      {"hang-up is a loss", CE_ReadFailed, EIO, "ReadFile function failed (Error: 5)", EIO, true},
      {"unplug is a loss", CE_OpenFailed, ENXIO, "Unable to open com port (Error: 6)", ENXIO,
       true},
      {"no device is a loss", CE_ClearComFailed, ENODEV,
       "ClearCommError function failed (Error: 19)", ENODEV, true},
      {"busy is no loss", CE_OpenFailed, EBUSY, "Unable to open com port (Error: 16)", EBUSY,
       false},
  };
  for (const TMessageCase& c : cases) {
    const EComPort error(c.Code, c.WinCode);
    EXPECT_EQ(error.Message().toStdString(), c.Message) << c.Name;
    EXPECT_EQ(ComErrorMessage(c.Code, c.WinCode), error.Message()) << c.Name;
    EXPECT_EQ(error.Code, c.Code) << c.Name;
    EXPECT_EQ(error.WinCode, c.KeptWinCode) << c.Name;
    EXPECT_EQ(IsDeviceLoss(error), c.DeviceLoss) << c.Name;
  }
  EXPECT_EQ(EComPort::CreateNoWinCode(CEPortNotOpen).WinCode, -1);
}

// One read: the time-outs (interval, multiplier, constant), the count asked for, the bytes
// got and the ms since the start and since the last byte, and how long it may still wait.
struct TReadCase {
  const char* Name;
  int Interval, Multiplier, Constant;
  int Count;
  int Got;
  int64_t SinceStart, SinceLast;
  int64_t Wait;
};

TEST(ComTimeouts, ReadWaits) {
  constexpr int64_t kNone = kNoTimeLimit;
  const TReadCase cases[] = {
      {"immediate: none arrived", -1, 0, 0, 5, 0, 0, 0, 0},
      {"count reached ends any read", 0, 0, 0, 3, 3, 10, 10, 0},
      {"no limits: waits forever", 0, 0, 0, 5, 0, 100, 0, kNone},
      {"no limits after bytes: waits forever", 0, 0, 0, 5, 2, 100, 5, kNone},
      {"first byte: waits up to the constant", -1, -1, 200, 5, 0, 50, 50, 150},
      {"first byte: returns with it", -1, -1, 200, 5, 1, 50, 0, 0},
      {"first byte: constant all bits is no first-byte read", -1, -1, -1, 5, 0, 0, 0,
       int64_t(0xffffffffLL) * 5 + 0xffffffffLL},
      {"total: multiplier times count plus constant", 0, 30, 100, 4, 0, 20, 20, 200},
      {"total: passed", 0, 30, 100, 4, 1, 500, 10, 0},
      {"interval: pause after a byte", 20, 0, 0, 5, 2, 300, 5, 15},
      {"interval: not before the first byte", 20, 0, 0, 5, 0, 300, 300, kNone},
      {"interval and total: the sooner", 50, 10, 0, 10, 1, 90, 0, 10},
      {"interval all bits with a multiplier: both limits", -1, 10, 0, 10, 1, 40, 0, 60},
  };
  for (const TReadCase& c : cases) {
    const TReadLimits limits = ReadLimitsOf(c.Interval, c.Multiplier, c.Constant, c.Count);
    EXPECT_EQ(ReadWaitMs(limits, c.Got, c.Count, c.SinceStart, c.SinceLast), c.Wait) << c.Name;
  }
}

TEST(ComTimeouts, WriteLimits) {
  const struct {
    const char* Name;
    int Multiplier, Constant;
    qsizetype Size;
    int64_t Limit;
  } cases[] = {
      {"the port's values: 10 bytes", 100, 1000, 10, 2000},
      {"both zero: no limit", 0, 0, 10, kNoTimeLimit},
      {"constant alone", 0, 200, 65536, 200},
      {"all bits: unsigned, capped", -1, -1, qsizetype(1) << 40, int64_t(1) << 50},
      {"empty write: the constant", 100, 1000, 0, 1000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WriteLimitMs(c.Multiplier, c.Constant, c.Size), c.Limit) << c.Name;
  }
}

}  // namespace
