#include "serial/comport.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>

#include "devices/explain.h"
#include "devices/holders.h"
#include "devices/serialdevices.h"
#include "globals/errorreport.h"
#include "serial/comthread.h"
#include "serial/comtimeouts.h"
#include "serial/termiosdevice.h"

namespace {

// The event that carries one hand-off from the event thread to the owning thread.
class THandoffEvent : public QEvent {
 public:
  explicit THandoffEvent(quint64 id) : QEvent(Type()), Id(id) {}
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  const quint64 Id;
};

constexpr int kRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                          14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};


// Linux has no DTR/DSR handshake: with dtrHandshake DTR is simply held active, as it is
// whenever the port could take input.
bool DtrActive(const TComFlowControl& flow) { return flow.ControlDTR() != dtrDisable; }

// With rtsHandshake the driver raises RTS itself; rtsToggle (RTS active only while sending)
// has no general termios equivalent, so RTS then stays inactive between transmissions.
bool RtsActive(const TComFlowControl& flow) {
  return flow.ControlRTS() == rtsEnable || flow.ControlRTS() == rtsHandshake;
}

}  // namespace

int BaudRateValue(TBaudRate rate) {
  const int index = static_cast<int>(rate);
  if (index < 0 || index >= static_cast<int>(std::size(kRates))) return 0;
  return kRates[index];
}

TermiosDevice::TLineSettings LineSettingsOf(const TCustomComPort& port) {
  const TComFlowControl& flow = port.FlowControl();
  TermiosDevice::TLineSettings s;
  s.Rate = port.BaudRate() == brCustom ? port.CustomBaudRate() : BaudRateValue(port.BaudRate());
  s.DataBits = port.DataBits();
  s.StopBits = port.StopBits();
  s.Parity = port.Parity().Bits();
  s.ParityCheck = port.Parity().Check();
  // Linux ties both directions of the RTS/CTS handshake to one flag: either setting switches
  // on the driver's handshake, which then also drives RTS.
  s.HardwareFlow = flow.OutCTSFlow() || flow.ControlRTS() == rtsHandshake;
  s.XonXoffOut = flow.XonXoffOut();
  s.XonXoffIn = flow.XonXoffIn();
  s.XonChar = flow.XonChar();
  s.XoffChar = flow.XoffChar();
  return s;
}

void TCustomComPort::RaiseComError(int code, int winCode) const {
  EComPort error(code, winCode);
  error.PortName = FPort;
  if (FConnected) {
    error.OpenedAt = FOpenedAt;
    error.UncheckedHolders = FUncheckedHolders;
  }
  throw error;
}

// ---- construction ----

TCustomComPort::TCustomComPort(QObject* parent)
    : QObject(parent),
      FParity([this] { ReapplyLineSettings(); }),
      FFlowControl([this] { ReapplyLineSettings(); }),
      FTimeouts([this] {
        if (CanApplySettings()) ApplyTimeoutSettings();
      }),
      FBuffer([this] {
        if (CanApplySettings()) ApplyQueueSizes();
      }),
      FHandoff([this](quint64 id) { QCoreApplication::postEvent(this, new THandoffEvent(id)); }) {}

TCustomComPort::~TCustomComPort() {
  // Derived ports close in their own destructor; this catches a bare TCustomComPort.
  if (FConnected) Close();
}

void TCustomComPort::SetConnected(bool value) {
  if (value == FConnected) return;
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TCustomComPort::SetPort(const QString& name) {
  if (name == FPort) return;
  FPort = name;
  if (!FConnected) return;
  Close();
  Open();
}

// ---- settings ----

void TCustomComPort::ReapplyLineSettings() {
  if (CanApplySettings()) ApplyLineSettings();
}

template <class T>
void TCustomComPort::ChangeLineSetting(T& field, T value) {
  if (field == value) return;
  field = value;
  ReapplyLineSettings();
}

void TCustomComPort::SetBaudRate(TBaudRate rate) { ChangeLineSetting(FBaudRate, rate); }

void TCustomComPort::SetCustomBaudRate(int rate) {
  if (rate == FCustomBaudRate) return;
  FCustomBaudRate = rate;
  if (FBaudRate == brCustom) ReapplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) { ChangeLineSetting(FDataBits, value); }

void TCustomComPort::SetStopBits(TStopBits value) { ChangeLineSetting(FStopBits, value); }

void TCustomComPort::SetDiscardNull(bool value) { ChangeLineSetting(FDiscardNull, value); }

void TCustomComPort::SetEventChar(char value) { ChangeLineSetting(FEventChar, value); }

void TCustomComPort::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) ConfigureDevice();
}

// ---- open and close ----

void TCustomComPort::Open() {
  OpenDevice();
  FConnected = true;
  FDeviceLost = false;
  FPending.clear();
  FFilter.Reset();
  // The kernel raises DTR and RTS when a port opens; set them as configured before anything
  // else (a failure here shows again, as error 7, when the line settings are applied).
  TermiosDevice::SetModemLines(FHandle, DtrActive(FFlowControl), RtsActive(FFlowControl));
  try {
    ConfigureDevice();
    TermiosDevice::RequestLowLatency(FHandle);
    if (!FEvents.IsEmpty()) {
      FEventThread = std::make_unique<TComThread>(FHandoff, FHandle, FEvents.Contains(evRxChar),
                                                  FEventThreadPriority);
    }
  } catch (...) {
    CloseDevice();
    FConnected = false;
    throw;
  }
  ReadModemLines();
}

void TCustomComPort::Close() {
  // Writes complete before WriteStr returns, so no transfer is in flight to abort here.
  FClosing = true;
  StopEventThread();
  CloseDevice();
  FConnected = false;
  FPending.clear();
  FClosing = false;
}

void TCustomComPort::OpenDevice() {
  const TPortTarget target = ResolvePort(FPort);
  int err = TermiosDevice::Open(QFile::encodeName(target.Host).toStdString(), FHandle);
  // A legacy port with no UART behind it opens but never answers: refused like a missing one.
  if (err == 0 && OpenedWithoutUart(target, FHandle)) {
    CloseDevice();
    err = ENXIO;
  }
  // The lock and the exclusive mode keep later openers out, but not a program that opened the
  // device before without a lock (socat, screen, a script): it would take part of every answer.
  // Such a port is in use, as a second open of a port is refused on Windows.
  if (err == 0) {
    const THolderScan others = OtherHolders(target.Host, TtyNameOf(target), FHandle, {});
    FUncheckedHolders = others.Unchecked;
    if (!others.Holders.isEmpty()) {
      CloseDevice();
      err = EBUSY;
    }
  }
  if (err != 0) RaiseComError(CE_OpenFailed, err);
  FOpenedAt = PortWhere(FPort);
}

void TCustomComPort::CloseDevice() {
  TermiosDevice::Close(FHandle);
  FHandle = -1;
}

// Inside a batch its steps do nothing (the device, raw since it was opened, waits for the
// batch's end, where EndUpdate runs this again).
void TCustomComPort::ConfigureDevice() {
  if (!FConnected) return;
  ApplyQueueSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

// DSR flow control and sensitivity, TxContinueOnXoff, the XON/XOFF thresholds and
// EventChar have no termios equivalent; they are kept as values only.
void TCustomComPort::ApplyLineSettings() {
  if (!CanApplySettings()) return;
  // The decoding follows the settings also when the device refuses some of them: a refusal
  // of the framing still leaves the new input flags (error marking among them) in place.
  const bool check = FParity.Check();
  FFilter.Configure(check, check && FParity.Replace(), FParity.ReplaceChar(), FDiscardNull);
  int err = TermiosDevice::ApplyLineSettings(FHandle, LineSettingsOf(*this));
  if (err == 0) {
    err = TermiosDevice::SetModemLines(FHandle, DtrActive(FFlowControl), RtsActive(FFlowControl));
  }
  if (err != 0) RaiseComError(CE_SetStateFailed, err);
}

void TCustomComPort::ReadModemLines() {
  // The line states would go to line-change notifications, of which the tool has none;
  // the read still shows whether the device answers.
  int lines = 0;
  const int err = TermiosDevice::ReadModemLines(FHandle, lines);
  if (err != 0) RaiseComError(CE_ModemStatFailed, err);
}

// ---- transfers ----

// Through the filter, everything waiting is decoded into FPending and counted there, so the
// count never includes a marking byte or a discarded NUL.
int TCustomComPort::InputCount() {
  int count = 0;
  int err = TermiosDevice::InputCount(FHandle, count);
  if (err == 0 && count > 0 && FFilter.Active()) {
    err = DrainDevice();
    count = 0;
  }
  if (err != 0) RaiseComError(CE_ClearComFailed, err);
  return int(FPending.size()) + count;
}

int TCustomComPort::ReadStr(QString& Str, int Count) {
  Str.clear();
  if (Count <= 0) return 0;
  if (!FConnected) throw EComPort::CreateNoWinCode(CEPortNotOpen);
  QByteArray bytes;
  const int err = ReadWithin(bytes, Count);
  if (err != 0) RaiseComError(CE_ReadFailed, err);
  Str = QString::fromLatin1(bytes);
  return int(bytes.size());
}

// Reads into out until count bytes have come or the read time-outs end the read.
int TCustomComPort::ReadWithin(QByteArray& out, int count) {
  const TReadLimits limits = ReadLimitsOf(FTimeouts.ReadInterval(),
                                         FTimeouts.ReadTotalMultiplier(),
                                         FTimeouts.ReadTotalConstant(), count);
  const int64_t start = FClock->NowMs();
  int64_t last = start;
  for (;;) {
    const qsizetype before = out.size();
    if (const int err = TakeAvailable(out, count)) return err;
    const int64_t now = FClock->NowMs();
    if (out.size() > before) last = now;
    const int64_t wait = ReadWaitMs(limits, out.size(), count, now - start, now - last);
    if (wait == 0) return 0;
    if (const int err = TermiosDevice::WaitReadable(FHandle, wait, *FClock)) return err;
  }
}

// Adds to out, up to want bytes in all, what has arrived, without waiting.
int TCustomComPort::TakeAvailable(QByteArray& out, int want) {
  TakePending(out, want);
  if (out.size() >= want) return 0;
  if (!FFilter.Active()) return ReadDevice(out, want);
  const int err = DrainDevice();
  TakePending(out, want);
  return err;
}

void TCustomComPort::TakePending(QByteArray& out, int want) {
  const qsizetype n = std::min(want - out.size(), FPending.size());
  if (n <= 0) return;
  out.append(FPending.constData(), n);
  FPending.remove(0, n);
}

int TCustomComPort::ReadDevice(QByteArray& out, int want) {
  const TRxHandoff::TTakeScope take(FHandoff);
  const qsizetype have = out.size();
  out.resize(want);
  int read = 0;
  const int err = TermiosDevice::ReadNow(FHandle, out.data() + have, int(want - have), read);
  out.resize(have + read);
  return err;
}

// Decodes everything waiting in the device into FPending.
int TCustomComPort::DrainDevice() {
  const TRxHandoff::TTakeScope take(FHandoff);
  char chunk[4096];
  for (;;) {
    int read = 0;
    const int err = TermiosDevice::ReadNow(FHandle, chunk, int(sizeof chunk), read);
    if (err != 0) return err;
    FFilter.Feed(chunk, read, FPending);
    if (read < int(sizeof chunk)) return 0;
  }
}

int TCustomComPort::WriteStr(const QString& Str) {
  if (Str.isEmpty()) return 0;
  if (!FConnected) throw EComPort::CreateNoWinCode(CEPortNotOpen);
  const QByteArray bytes = Str.toLatin1();
  int sent = 0;
  const int64_t limit = WriteLimitMs(FTimeouts.WriteTotalMultiplier(),
                                     FTimeouts.WriteTotalConstant(), bytes.size());
  const int err =
      TermiosDevice::Write(FHandle, bytes.constData(), int(bytes.size()), limit, sent, *FClock);
  if (err != 0) RaiseComError(CE_WriteFailed, err);
  return sent;
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
  const TRxHandoff::TTakeScope take(FHandoff, Input);  // only discarding input takes bytes away
  const int err = TermiosDevice::Flush(FHandle, Input, Output);
  if (err != 0) RaiseComError(CE_PurgeFailed, err);
  if (!Input) return;
  FPending.clear();
  FFilter.Reset();
}

// ---- receive notifications ----

void TCustomComPort::HandleRxEvent() {
  if (!FTriggersOnRxChar) return;
  const int count = InputCount();
  if (count > 0) DoRxChar(count);
}

// The device is gone: deliver what can still be read, then raise the loss. Errors of the
// gone device itself are part of that one report.
void TCustomComPort::HandleLoss() {
  try {
    HandleRxEvent();
  } catch (const EComPort&) {
  }
  RaiseComError(CE_ReadFailed, EIO);
}

// Handles one wake-up on the owning thread. The loss of the device, whether the event thread
// saw it or a read met it, is told once: to OnDeviceLost, then by its error. It is not told
// while the port is being closed: the port goes away anyway, and whoever closes it may be
// dealing with the loss already.
void TCustomComPort::HandleWakeUp(bool lost) {
  try {
    lost ? HandleLoss() : HandleRxEvent();
  } catch (const EComPort& e) {
    if (!IsDeviceLoss(e)) throw;
    if (FClosing || std::exchange(FDeviceLost, true)) return;
    DoDeviceLost();
    throw;
  }
}

bool TCustomComPort::event(QEvent* e) {
  if (e->type() != THandoffEvent::Type()) return QObject::event(e);
  RunHandoff(static_cast<THandoffEvent*>(e)->Id);
  return true;
}

// Runs one hand-off on the owning thread unless it already ran (Close runs queued
// hand-offs itself). An error of the handling goes to the standard error report and
// reception goes on.
void TCustomComPort::RunHandoff(quint64 id) {
  FHandoff.Run(id, [this](bool lost) { ReportedWakeUp(lost); });
}

void TCustomComPort::ReportedWakeUp(bool lost) {
  Guarded([&] { HandleWakeUp(lost); });
}

// Stops the event thread and waits for it, running every hand-off it queues meanwhile so
// that a thread blocked in a hand-off can finish. Called from inside a running hand-off
// (a handler that closes the port), it first releases the thread from that hand-off.
void TCustomComPort::StopEventThread() {
  if (!FEventThread) return;
  FEventThread->Stop();
  FHandoff.RunUntilThreadFinished([this](bool lost) { ReportedWakeUp(lost); });
  FEventThread->Join();
  FEventThread.reset();
}

// ---- TComPort ----

TComPort::TComPort(QObject* parent) : TCustomComPort(parent) {}

TComPort::~TComPort() {
  // Closing here, while OnRxChar still exists, lets a queued notification run safely.
  SetConnected(false);
}

void TComPort::DoRxChar(int Count) {
  if (OnRxChar) OnRxChar(this, Count);
}

void TComPort::DoDeviceLost() {
  if (OnDeviceLost) OnDeviceLost(this);
}

// ---- port names ----

QString ResolvePortDevice(const QString& portName) { return ResolvePort(portName).Host; }

#include "moc_comport.cpp"
