// The port's settings against a pseudo-terminal: what reaches the device's termios, and when;
// the receive filter; the read time-outs.

#include <termios.h>

#include <QTest>
#include <functional>

#include "errorof.h"
#include "ptypeer.h"
#include "serial/comport.h"
#include "serial/receivefilter.h"
#include "serial/termiosflags.h"
#include "virtualclock.h"


namespace {

void OpenOn(TCustomComPort& port, const TPtyPeer& peer) {
  port.SetPort(peer.SlavePath());
  port.SetConnected(true);
}

// A port that counts how often each configuration step runs.
class TCountingPort : public TComPort {
 public:
  int Configures = 0;
  int Steps[3] = {0, 0, 0};  // indexed by TGroup

  void ResetCounts() { Configures = Steps[0] = Steps[1] = Steps[2] = 0; }

 protected:
  void ConfigureDevice() override {
    ++Configures;
    TComPort::ConfigureDevice();
  }
  void ApplyQueueSizes() override {
    ++Steps[2];
    TComPort::ApplyQueueSizes();
  }
  void ApplyLineSettings() override {
    ++Steps[0];
    TComPort::ApplyLineSettings();
  }
  void ApplyTimeoutSettings() override {
    ++Steps[1];
    TComPort::ApplyTimeoutSettings();
  }
};

enum TGroup { Line, Timeouts, Queues };

// A port whose configuration steps anyone may call.
class TOpenStepsPort : public TComPort {
 public:
  using TComPort::ApplyLineSettings;
  using TComPort::ConfigureDevice;
};

// One setting changed from its value after construction: the step that must re-apply it,
// what the device's termios must show afterwards compared with the defaults, and whether a
// pseudo-terminal refuses it (it keeps 8 data bits and no parity whatever it is given).
struct TSettingCase {
  const char* Name;
  std::function<void(TCustomComPort&)> Change;
  std::function<bool(const TCustomComPort&)> ReadBack;
  TGroup Group;
  std::function<void(termios&)> Expect;
  bool PtyRefuses = false;
};

const QString kRefused = QStringLiteral("SetCommState function failed (Error: %1)").arg(EINVAL);

// The error a case's call must raise, after the case's name so that a mismatch names it.
QString ExpectedError(const TSettingCase& c) {
  return c.Name + QStringLiteral(": ") + (c.PtyRefuses ? kRefused : QString());
}
QString NamedErrorOf(const TSettingCase& c, const std::function<void()>& call) {
  return c.Name + QStringLiteral(": ") + ErrorOf(call);
}

void Flags(tcflag_t& flags, tcflag_t clear, tcflag_t set) { flags = (flags & ~clear) | set; }

// clang-format off
const TSettingCase kCases[] = {
  {"rate re-applied in place", [](auto& p) { p.SetBaudRate(br115200); },
   [](auto& p) { return p.BaudRate() == br115200; }, Line,
   [](termios& t) { cfsetspeed(&t, B115200); }},
  {"5 data bits", [](auto& p) { p.SetDataBits(dbFive); },
   [](auto& p) { return p.DataBits() == dbFive; }, Line,
   [](termios& t) { Flags(t.c_cflag, CSIZE, CS5); }, true},
  {"6 data bits", [](auto& p) { p.SetDataBits(dbSix); },
   [](auto& p) { return p.DataBits() == dbSix; }, Line,
   [](termios& t) { Flags(t.c_cflag, CSIZE, CS6); }, true},
  {"7 data bits", [](auto& p) { p.SetDataBits(dbSeven); },
   [](auto& p) { return p.DataBits() == dbSeven; }, Line,
   [](termios& t) { Flags(t.c_cflag, CSIZE, CS7); }, true},
  {"2 stop bits", [](auto& p) { p.SetStopBits(sbTwoStopBits); },
   [](auto& p) { return p.StopBits() == sbTwoStopBits; }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, CSTOPB); }},
  {"1.5 stop bits taken as 2", [](auto& p) { p.SetStopBits(sbOne5StopBits); },
   [](auto& p) { return p.StopBits() == sbOne5StopBits; }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, CSTOPB); }},
  {"odd parity", [](auto& p) { p.Parity().SetBits(prOdd); },
   [](auto& p) { return p.Parity().Bits() == prOdd; }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, PARENB | PARODD); }, true},
  {"even parity", [](auto& p) { p.Parity().SetBits(prEven); },
   [](auto& p) { return p.Parity().Bits() == prEven; }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, PARENB); }, true},
  {"mark parity", [](auto& p) { p.Parity().SetBits(prMark); },
   [](auto& p) { return p.Parity().Bits() == prMark; }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, PARENB | PARODD | CMSPAR); }, true},
  {"space parity", [](auto& p) { p.Parity().SetBits(prSpace); },
   [](auto& p) { return p.Parity().Bits() == prSpace; }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, PARENB | CMSPAR); }, true},
  {"parity check marks errors", [](auto& p) { p.Parity().SetCheck(true); },
   [](auto& p) { return p.Parity().Check(); }, Line,
   [](termios& t) { Flags(t.c_iflag, 0, INPCK | PARMRK); }},
  {"replace without check changes no flag", [](auto& p) { p.Parity().SetReplace(true); },
   [](auto& p) { return p.Parity().Replace(); }, Line, [](termios&) {}},
  {"CTS output flow", [](auto& p) { p.FlowControl().SetOutCTSFlow(true); },
   [](auto& p) { return p.FlowControl().OutCTSFlow(); }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, CRTSCTS); }},
  {"RTS handshake", [](auto& p) { p.FlowControl().SetControlRTS(rtsHandshake); },
   [](auto& p) { return p.FlowControl().ControlRTS() == rtsHandshake; }, Line,
   [](termios& t) { Flags(t.c_cflag, 0, CRTSCTS); }},
  {"XON/XOFF of output", [](auto& p) { p.FlowControl().SetXonXoffOut(true); },
   [](auto& p) { return p.FlowControl().XonXoffOut(); }, Line,
   [](termios& t) { Flags(t.c_iflag, 0, IXON); }},
  {"XON/XOFF of input", [](auto& p) { p.FlowControl().SetXonXoffIn(true); },
   [](auto& p) { return p.FlowControl().XonXoffIn(); }, Line,
   [](termios& t) { Flags(t.c_iflag, 0, IXOFF); }},
  {"XON character", [](auto& p) { p.FlowControl().SetXonChar('A'); },
   [](auto& p) { return p.FlowControl().XonChar() == 'A'; }, Line,
   [](termios& t) { t.c_cc[VSTART] = 'A'; }},
  {"XOFF character", [](auto& p) { p.FlowControl().SetXoffChar('B'); },
   [](auto& p) { return p.FlowControl().XoffChar() == 'B'; }, Line,
   [](termios& t) { t.c_cc[VSTOP] = 'B'; }},
  // Without a termios flag: kept, read back, re-applied as line settings.
  {"DTR held active", [](auto& p) { p.FlowControl().SetControlDTR(dtrEnable); },
   [](auto& p) { return p.FlowControl().ControlDTR() == dtrEnable; }, Line, [](termios&) {}},
  {"DSR output flow", [](auto& p) { p.FlowControl().SetOutDSRFlow(true); },
   [](auto& p) { return p.FlowControl().OutDSRFlow(); }, Line, [](termios&) {}},
  {"DSR sensitivity", [](auto& p) { p.FlowControl().SetDSRSensitivity(true); },
   [](auto& p) { return p.FlowControl().DSRSensitivity(); }, Line, [](termios&) {}},
  {"continue after XOFF", [](auto& p) { p.FlowControl().SetTxContinueOnXoff(true); },
   [](auto& p) { return p.FlowControl().TxContinueOnXoff(); }, Line, [](termios&) {}},
  {"discard NUL", [](auto& p) { p.SetDiscardNull(true); },
   [](auto& p) { return p.DiscardNull(); }, Line, [](termios&) {}},
  {"event character", [](auto& p) { p.SetEventChar('\n'); },
   [](auto& p) { return p.EventChar() == '\n'; }, Line, [](termios&) {}},
  {"read interval", [](auto& p) { p.Timeouts().SetReadInterval(20); },
   [](auto& p) { return p.Timeouts().ReadInterval() == 20; }, Timeouts, [](termios&) {}},
  {"write constant", [](auto& p) { p.Timeouts().SetWriteTotalConstant(5); },
   [](auto& p) { return p.Timeouts().WriteTotalConstant() == 5; }, Timeouts, [](termios&) {}},
  {"input queue size", [](auto& p) { p.Buffer().SetInputSize(4096); },
   [](auto& p) { return p.Buffer().InputSize() == 4096; }, Queues, [](termios&) {}},
};
// clang-format on

// The parts of termios the port sets, as text, so that a mismatch shows which part differs.
// A pseudo-terminal keeps every flag it is given except the character size and the parity
// enable, which it forces to 8 bits without parity; onDevice leaves those two out.
QString Describe(termios t, bool onDevice = false) {
  if (onDevice) t.c_cflag &= ~(CSIZE | PARENB);
  return QStringLiteral("i=%1 o=%2 c=%3 l=%4 start=%5 stop=%6 min=%7 time=%8")
      .arg(t.c_iflag, 0, 16).arg(t.c_oflag, 0, 16).arg(t.c_cflag, 0, 16).arg(t.c_lflag, 0, 16)
      .arg(t.c_cc[VSTART]).arg(t.c_cc[VSTOP]).arg(t.c_cc[VMIN]).arg(t.c_cc[VTIME]);
}

QString DeviceState(const TPtyPeer& peer) {
  termios t{};
  return tcgetattr(peer.Master(), &t) == 0 ? Describe(t, true) : QStringLiteral("no termios");
}

// Returns what the device shows when the port opens with its values after construction.
termios DefaultTermios() {
  TPtyPeer peer;
  TComPort port;
  OpenOn(port, peer);
  termios t{};
  tcgetattr(peer.Master(), &t);
  return t;
}

termios ExpectedTermios(const TSettingCase& c) {
  termios t = DefaultTermios();
  c.Expect(t);
  return t;
}

QString Expected(const TSettingCase& c) { return Describe(ExpectedTermios(c), true); }

// Returns the termios the port's settings become, in full.
QString Mapped(const TCustomComPort& port) {
  termios t = DefaultTermios();
  TermiosDevice::SetLineFlags(t, LineSettingsOf(port));
  return Describe(t);
}

// Puts the device into a state the port never sets (cooked, echoing, 7E2 at 1200 bit/s).
void Scramble(const TPtyPeer& peer) {
  termios t{};
  tcgetattr(peer.Master(), &t);
  t.c_lflag |= ICANON | ECHO;
  t.c_iflag |= ICRNL | IXON;
  Flags(t.c_cflag, CSIZE, CS7 | PARENB | CSTOPB);
  cfsetspeed(&t, B1200);
  tcsetattr(peer.Master(), TCSANOW, &t);
}

// Returns the input rate the kernel keeps apart from the output rate (B0: none, the input
// runs at the output rate).
speed_t SplitInputRate(const TPtyPeer& peer) {
  constexpr int kInputRateShift = 16;
  termios t{};
  tcgetattr(peer.Master(), &t);
  return speed_t((t.c_cflag & CIBAUD) >> kInputRateShift);
}

// Leaves the device with an input rate of its own, as another program may.
void SplitTheInputRate(const TPtyPeer& peer, speed_t input) {
  termios t{};
  tcgetattr(peer.Master(), &t);
  t.c_cflag = (t.c_cflag & ~CIBAUD) | tcflag_t(input) << 16;
  tcsetattr(peer.Master(), TCSANOW, &t);
}

// Compares a device state with the expected one, naming the case and both states on failure.
#define COMPARE_STATE(name, actual, expected)                                              \
  do {                                                                                     \
    const QString a = (actual), e = (expected);                                            \
    QVERIFY2(a == e, qPrintable(QStringLiteral("%1:\n  got  %2\n  want %3").arg(name, a, e))); \
  } while (false)

QString StepCounts(const TCountingPort& p) {
  return QStringLiteral("configure %1, line %2, time-outs %3, queues %4")
      .arg(p.Configures).arg(p.Steps[Line]).arg(p.Steps[Timeouts]).arg(p.Steps[Queues]);
}

QString OneStep(TGroup group) {
  TCountingPort p;
  p.Steps[group] = 1;
  return StepCounts(p);
}

}  // namespace

class TComSettingsTest : public QObject {
  Q_OBJECT

 private slots:
  // The values after construction, which are also the window's except BaudRate and Events.
  void valuesAfterConstruction() {
    const TComPort p;
    const TComFlowControl& f = p.FlowControl();
    const TComTimeouts& t = p.Timeouts();
    const QList<int> actual = {
        p.Port() == "COM1", p.BaudRate(), p.CustomBaudRate(), p.DataBits(), p.StopBits(),
        p.Parity().Bits(), p.Parity().Check(), p.Parity().Replace(), p.Parity().ReplaceChar(),
        f.OutCTSFlow(), f.OutDSRFlow(), f.ControlDTR(), f.ControlRTS(), f.XonXoffOut(),
        f.XonXoffIn(), f.DSRSensitivity(), f.TxContinueOnXoff(), f.XonChar(), f.XoffChar(),
        p.DiscardNull(), p.EventChar(), t.ReadInterval(), t.ReadTotalMultiplier(),
        t.ReadTotalConstant(), t.WriteTotalMultiplier(), t.WriteTotalConstant(),
        p.Buffer().InputSize(), p.Buffer().OutputSize(), p.Events() == TComEvents::All(),
        p.SyncMethod(), p.TriggersOnRxChar(), p.EventThreadPriority(), p.Connected()};
    const QList<int> expected = {
        true, br9600, 9600, dbEight, sbOneStopBit, prNone, false, false, 0,
        false, false, dtrDisable, rtsDisable, false, false, false, false, 17, 19,
        false, 0, -1, 0, 0, 100, 1000, 1024, 1024, true, smThreadSync, true, tpNormal, false};
    QCOMPARE(actual, expected);
  }

  // The device opened with the values after construction is a raw 9600 8N1 line without
  // flow control; every other case is measured against it.
  void defaultsOnTheDevice() {
    const termios t = DefaultTermios();
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CMSPAR), tcflag_t(CS8));
    QCOMPARE(t.c_iflag & (IXON | IXOFF | INPCK | PARMRK | IGNPAR | ICRNL), tcflag_t(0));
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
  }

  // A change while open reaches the device at once through its own group's step only. The
  // termios form of the settings is checked in full, the device as far as it keeps it.
  void changeWhileOpen() {
    for (const TSettingCase& c : kCases) {
      TPtyPeer peer;
      TCountingPort port;
      OpenOn(port, peer);
      port.ResetCounts();
      QCOMPARE(NamedErrorOf(c, [&] { c.Change(port); }), ExpectedError(c));
      QVERIFY2(c.ReadBack(port) && port.Connected(), c.Name);
      QCOMPARE(StepCounts(port), OneStep(c.Group));
      COMPARE_STATE(c.Name, Mapped(port), Describe(ExpectedTermios(c)));
      COMPARE_STATE(c.Name, DeviceState(peer), Expected(c));
    }
  }

  // A change while closed touches no device and takes effect at the next open.
  void changeWhileClosed() {
    for (const TSettingCase& c : kCases) {
      TPtyPeer peer;
      Scramble(peer);
      const QString scrambled = DeviceState(peer);
      TCountingPort port;
      port.SetPort(peer.SlavePath());
      c.Change(port);
      QCOMPARE(StepCounts(port), StepCounts(TCountingPort()));
      COMPARE_STATE(c.Name, DeviceState(peer), scrambled);
      QCOMPARE(NamedErrorOf(c, [&] { port.SetConnected(true); }), ExpectedError(c));
      QVERIFY2(c.ReadBack(port) && port.Connected() != c.PtyRefuses, c.Name);
      if (!c.PtyRefuses) COMPARE_STATE(c.Name, DeviceState(peer), Expected(c));
    }
  }

  // Inside a batch nothing is applied; the end of the outermost batch configures once.
  void changeInsideBatches() {
    for (const TSettingCase& c : kCases) {
      TPtyPeer peer;
      TCountingPort port;
      OpenOn(port, peer);
      const QString before = DeviceState(peer);
      port.ResetCounts();
      port.BeginUpdate();
      port.BeginUpdate();
      c.Change(port);
      port.Timeouts().SetReadTotalConstant(7);
      port.Timeouts().SetReadTotalConstant(0);
      port.EndUpdate();
      QCOMPARE(StepCounts(port), StepCounts(TCountingPort()));
      COMPARE_STATE(c.Name, DeviceState(peer), before);
      QCOMPARE(NamedErrorOf(c, [&] { port.EndUpdate(); }), ExpectedError(c));
      QCOMPARE(StepCounts(port), QStringLiteral("configure 1, line 1, time-outs %1, queues 1")
                                     .arg(c.PtyRefuses ? 0 : 1));  // a refusal ends it
      COMPARE_STATE(c.Name, DeviceState(peer), Expected(c));
      port.EndUpdate();  // an unmatched end changes nothing
      QCOMPARE(port.Configures, 1);
    }
    TCountingPort closed;
    closed.BeginUpdate();
    closed.SetDataBits(dbSix);
    closed.EndUpdate();
    QCOMPARE(StepCounts(closed), QStringLiteral("configure 1, line 0, time-outs 0, queues 0"));
  }

  // A configuration step called directly, not through a setting, also waits for the batch.
  // Opened inside a batch, the device is a raw line at once and gets its settings at the end.
  void stepsCalledDirectlyWaitForTheBatch() {
    TPtyPeer peer;
    TOpenStepsPort port;
    OpenOn(port, peer);
    const QString before = DeviceState(peer);
    port.BeginUpdate();
    port.SetStopBits(sbTwoStopBits);
    port.ApplyLineSettings();
    port.ConfigureDevice();
    COMPARE_STATE("inside a batch", DeviceState(peer), before);
    port.EndUpdate();
    QVERIFY(DeviceState(peer) != before);

    TPtyPeer scrambled;
    Scramble(scrambled);
    TOpenStepsPort late;
    late.BeginUpdate();
    late.SetBaudRate(br57600);
    OpenOn(late, scrambled);
    termios t{};
    tcgetattr(scrambled.Master(), &t);
    QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
    QCOMPARE(cfgetospeed(&t), speed_t(B1200));
    late.EndUpdate();
    tcgetattr(scrambled.Master(), &t);
    QCOMPARE(cfgetospeed(&t), speed_t(B57600));
  }

  // A refused re-apply raises error 7 and leaves the port open with the new value; refused
  // at open, the port stays closed and the device is free again.
  void refusedLineSettings() {
    TPtyPeer peer;
    TComPort port;
    OpenOn(port, peer);
    port.SetCustomBaudRate(-5);
    QCOMPARE(ErrorOf([&] { port.SetBaudRate(brCustom); }), kRefused);
    QVERIFY(port.Connected() && port.BaudRate() == brCustom);
    port.SetConnected(false);
    QCOMPARE(ErrorOf([&] { port.SetConnected(true); }), kRefused);
    QVERIFY(!port.Connected());
    port.SetCustomBaudRate(14400);
    port.SetConnected(true);
    QVERIFY(port.Connected());
  }

  // A rate without a termios constant goes through termios2; a named rate after it leaves
  // no trace of it, in either direction.
  void customRateAndBack() {
    TPtyPeer peer;
    TComPort port;
    port.SetPort(peer.SlavePath());
    port.SetBaudRate(br14400);
    port.SetConnected(true);
    termios t{};
    tcgetattr(peer.Master(), &t);
    QCOMPARE(t.c_cflag & CBAUD, tcflag_t(CBAUDEX));  // termios2 BOTHER, which has its value
    port.SetBaudRate(br57600);
    tcgetattr(peer.Master(), &t);
    QCOMPARE(cfgetospeed(&t), speed_t(B57600));
    QCOMPARE(cfgetispeed(&t), speed_t(B57600));
  }

  // Input and output run at the port's rate, whatever split rate the device had before:
  // one left by another program, or the termios2 form of a custom rate.
  void inputRateFollowsTheRate() {
    TPtyPeer peer;
    SplitTheInputRate(peer, B1200);
    QCOMPARE(SplitInputRate(peer), speed_t(B1200));
    TComPort port;
    port.SetBaudRate(br57600);
    OpenOn(port, peer);
    const auto sameRates = [&] {
      const speed_t input = SplitInputRate(peer);
      return input == B0 || input == B57600;
    };
    QVERIFY2(sameRates(), "left by another program");
    port.SetBaudRate(br14400);
    port.SetBaudRate(br57600);
    QVERIFY2(sameRates(), "after a custom rate");
  }

  // The read-back after applying: what a driver may drop or change without an error, and
  // what it may change freely.
  void readBackFindsWhatTheDriverDropped() {
    termios asked{};
    TermiosDevice::TLineSettings settings;
    settings.Rate = 57600;
    settings.ParityCheck = true;
    settings.XonXoffOut = settings.XonXoffIn = true;
    QCOMPARE(TermiosDevice::SetLineFlags(asked, settings), 0);
    const std::pair<const char*, std::function<void(termios&)>> dropped[] = {
        {"rate", [](termios& t) { cfsetospeed(&t, B38400); }},
        {"split input rate", [](termios& t) { t.c_cflag |= tcflag_t(B1200) << 16; }},
        {"data bits", [](termios& t) { Flags(t.c_cflag, CSIZE, CS7); }},
        {"stop bits", [](termios& t) { t.c_cflag |= CSTOPB; }},
        {"hardware flow", [](termios& t) { t.c_cflag |= CRTSCTS; }},
        {"XON/XOFF of output", [](termios& t) { t.c_iflag &= ~IXON; }},
        {"XON/XOFF of input", [](termios& t) { t.c_iflag &= ~IXOFF; }},
        {"parity check", [](termios& t) { t.c_iflag &= ~INPCK; }},
        {"error marking", [](termios& t) { t.c_iflag &= ~PARMRK; }},
    };
    for (const auto& [name, drop] : dropped) {
      termios taken = asked;
      drop(taken);
      QVERIFY2(!TermiosDevice::TakenAsAsked(asked, taken), name);
    }
    termios free = asked;
    free.c_iflag |= IXANY;
    free.c_lflag |= ECHO;
    free.c_cc[VSTART] = 'Q';
    QVERIFY(TermiosDevice::TakenAsAsked(asked, free));
  }

  // Marked errors and NUL bytes, each input fed whole and cut at every position.
  void receiveFilter_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("discardNull");
    QTest::addColumn<QByteArray>("out");
    const QByteArray marked("a\xff\xff" "b\xff\0c\xff\0\0d", 11);
    QTest::newRow("error byte kept as received") << marked << false << false
                                                 << QByteArray("a\xff" "bc\0d", 6);
    QTest::newRow("error bytes replaced") << marked << true << false << QByteArray("a\xff" "b??d");
    QTest::newRow("NUL of an error dropped") << marked << false << true
                                             << QByteArray("a\xff" "bcd");
    QTest::newRow("NUL dropped, marks stay") << QByteArray("\0x\0\0y\0", 6) << false << true
                                             << QByteArray("xy");
  }
  void receiveFilter() {
    QFETCH(QByteArray, raw);
    QFETCH(bool, replace);
    QFETCH(bool, discardNull);
    QFETCH(QByteArray, out);
    for (qsizetype cut = 0; cut <= raw.size(); ++cut) {
      TReceiveFilter filter;
      filter.Configure(true, replace, '?', discardNull);
      QByteArray got;
      filter.Feed(raw.constData(), cut, got);
      filter.Feed(raw.constData() + cut, raw.size() - cut, got);
      QCOMPARE(got, out);
    }
  }

  // On the device: NULs never counted nor read when discarded; with parity checking the line
  // discipline doubles a real 0xFF, and the port hands out one.
  void filteredReception() {
    TPtyPeer peer;
    TComPort port;
    OpenOn(port, peer);
    port.SetDiscardNull(true);
    port.Parity().SetCheck(true);
    peer.Write(QByteArray("\0a\xff\0b\0", 6));
    QVERIFY(PumpUntil([&] { return port.InputCount() == 3; }));
    QString text;
    QCOMPARE(port.ReadStr(text, 2), 2);
    QCOMPARE(text, QString::fromLatin1("a\xff"));
    QCOMPARE(port.InputCount(), 1);
    port.ClearBuffer(true, false);
    QCOMPARE(port.InputCount(), 0);
    port.Parity().SetCheck(false);
    port.SetDiscardNull(false);
    peer.Write(QByteArray("\0\xff", 2));
    QVERIFY(PumpUntil([&] { return port.InputCount() == 2; }));
    QCOMPARE(port.ReadStr(text, 5), 2);
    QCOMPARE(text.toLatin1(), QByteArray("\0\xff", 2));
  }

  // The read time-outs: what a read of count bytes returns and how long it waits, counted on
  // the port's clock.
  void readTimeouts_data() {
    QTest::addColumn<QList<int>>("timeouts");  // interval, multiplier, constant
    QTest::addColumn<QByteArray>("before");     // waiting when the read starts
    QTest::addColumn<QByteArray>("later");      // sent 250 ms after the start
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("got");
    QTest::addColumn<int>("ms");
    QTest::newRow("immediate: what has arrived") << QList<int>{-1, 0, 0} << QByteArray("ab")
                                                 << QByteArray("c") << 5 << QByteArray("ab") << 0;
    QTest::newRow("first byte: waits for it") << QList<int>{-1, -1, 2000} << QByteArray()
                                              << QByteArray("c") << 5 << QByteArray("c") << 250;
    QTest::newRow("first byte: none within the constant")
        << QList<int>{-1, -1, 20} << QByteArray() << QByteArray("c") << 5 << QByteArray() << 20;
    QTest::newRow("total: multiplier times count plus constant")
        << QList<int>{0, 200, 0} << QByteArray("ab") << QByteArray("c") << 3 << QByteArray("abc")
        << 250;
    QTest::newRow("total: ends at count") << QList<int>{0, 0, 3000} << QByteArray("ab")
                                          << QByteArray() << 2 << QByteArray("ab") << 0;
    QTest::newRow("interval: a pause after bytes ends it")
        << QList<int>{20, 0, 0} << QByteArray("ab") << QByteArray("c") << 5 << QByteArray("ab")
        << 20;
  }
  void readTimeouts() {
    QFETCH(QList<int>, timeouts);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, later);
    QFETCH(int, count);
    QFETCH(QByteArray, got);
    QFETCH(int, ms);
    TPtyPeer peer;
    TComPort port;
    TVirtualPortClock clock;
    port.SetClock(&clock);
    port.SetEvents({});
    OpenOn(port, peer);
    port.Timeouts().SetReadInterval(timeouts[0]);
    port.Timeouts().SetReadTotalMultiplier(timeouts[1]);
    port.Timeouts().SetReadTotalConstant(timeouts[2]);
    peer.Write(before);
    QVERIFY(PumpUntil([&] { return port.InputCount() == before.size(); }));
    clock.At(250, [&] { peer.Write(later); });
    QString text;
    const int n = port.ReadStr(text, count);
    QCOMPARE(text.toLatin1(), got);
    QCOMPARE(n, int(got.size()));
    QCOMPARE(clock.NowMs(), int64_t(ms));
  }
};

QTEST_GUILESS_MAIN(TComSettingsTest)
#include "comsettings_test.moc"
