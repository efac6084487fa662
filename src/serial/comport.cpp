#include "serial/comport.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cerrno>

#include "devices/explain.h"
#include "devices/serialdevices.h"
#include "globals/errorreport.h"
#include "serial/comthread.h"
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

const char* const kCodeTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

QString ComposeMessage(int code, int winCode) {
  QString text = EComPort::CodeText(code);
  if (winCode > 0) text += QStringLiteral(" (Error: %1)").arg(winCode);
  return text;
}

}  // namespace

int BaudRateValue(TBaudRate rate) {
  const int index = static_cast<int>(rate);
  if (index < 0 || index >= static_cast<int>(std::size(kRates))) return 0;
  return kRates[index];
}

// ---- EComPort ----

EComPort::EComPort(int code, int winCode)
    : Exception(ComposeMessage(code, winCode)), Code(code), WinCode(winCode > 0 ? winCode : -1) {}

QString EComPort::CodeText(int code) {
  if (code < 1 || code > static_cast<int>(std::size(kCodeTexts))) return QString();
  return QString::fromLatin1(kCodeTexts[code - 1]);
}

QString EComPort::Explanation() const {
  if (PortName.isEmpty()) return QString();
  return ExplainPortFailure(PortName, Code == CE_OpenFailed, WinCode);
}

void TCustomComPort::RaiseComError(int code, int winCode) const {
  EComPort error(code, winCode);
  error.PortName = FPort;
  throw error;
}

// ---- settings ----

TCustomComPort::TCustomComPort(QObject* parent) : QObject(parent) {}

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

void TCustomComPort::SetBaudRate(TBaudRate rate) {
  if (rate == FBaudRate) return;
  FBaudRate = rate;
  ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int rate) {
  if (rate == FCustomBaudRate) return;
  FCustomBaudRate = rate;
  if (FBaudRate == brCustom) ApplyLineSettings();
}

// ---- open and close ----

void TCustomComPort::Open() {
  OpenDevice();
  FConnected = true;
  FDeviceLost = false;
  // The kernel raises DTR and RTS when a port opens; drop them before anything else.
  TermiosDevice::ClearDtrRts(FHandle);
  try {
    ConfigureDevice();
    TermiosDevice::RequestLowLatency(FHandle);
    FEventThread = std::make_unique<TComThread>(*this, FHandle);
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
  if (err != 0) RaiseComError(CE_OpenFailed, err);
}

void TCustomComPort::CloseDevice() {
  TermiosDevice::Close(FHandle);
  FHandle = -1;
}

void TCustomComPort::ConfigureDevice() {
  ApplyQueueSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings() {
  if (!FConnected) return;
  const int rate = FBaudRate == brCustom ? FCustomBaudRate : BaudRateValue(FBaudRate);
  int err = TermiosDevice::ApplyRaw8N1(FHandle, rate);
  if (err == 0) err = TermiosDevice::ClearDtrRts(FHandle);
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

int TCustomComPort::InputCount() {
  int count = 0;
  const int err = TermiosDevice::InputCount(FHandle, count);
  if (err != 0) RaiseComError(CE_ClearComFailed, err);
  return count;
}

int TCustomComPort::ReadStr(QString& Str, int Count) {
  Str.clear();
  if (Count <= 0) return 0;
  if (!FConnected) throw EComPort::CreateNoWinCode(CEPortNotOpen);
  QByteArray buffer(Count, Qt::Uninitialized);
  int read = 0;
  const int err = TermiosDevice::ReadNow(FHandle, buffer.data(), Count, read);
  if (err != 0) RaiseComError(CE_ReadFailed, err);
  if (read > 0) ++FTakeCount;
  Str = QString::fromLatin1(buffer.constData(), read);
  return read;
}

int TCustomComPort::WriteStr(const QString& Str) {
  if (Str.isEmpty()) return 0;
  if (!FConnected) throw EComPort::CreateNoWinCode(CEPortNotOpen);
  const QByteArray bytes = Str.toLatin1();
  const int64_t timeout = int64_t(FTimeouts.WriteTotalMultiplier) * bytes.size() +
                          FTimeouts.WriteTotalConstant;
  int sent = 0;
  const int err = TermiosDevice::Write(FHandle, bytes.constData(), int(bytes.size()),
                                       timeout, sent);
  if (err != 0) RaiseComError(CE_WriteFailed, err);
  return sent;
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
  const int err = TermiosDevice::Flush(FHandle, Input, Output);
  if (err != 0) RaiseComError(CE_PurgeFailed, err);
  if (Input) ++FTakeCount;
}

// ---- receive notifications ----

void TCustomComPort::HandleRxEvent() {
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
  bool lost = false;
  {
    std::lock_guard lock(FHandoffMutex);
    if (id <= FDone) return;
    lost = FLostPending;
  }
  const quint64 outer = std::exchange(FRunningHandoff, id);
  Guarded([&] { HandleWakeUp(lost); });
  FRunningHandoff = outer;
  std::lock_guard lock(FHandoffMutex);
  FDone = std::max(FDone, id);
  FHandoffCond.notify_all();
}

quint64 TCustomComPort::RequestHandoff(bool lost) {
  quint64 id = 0;
  {
    std::lock_guard lock(FHandoffMutex);
    id = ++FRequested;
    FLostPending = lost;
  }
  // A Close in progress waits for this too: it runs the hand-off itself.
  FHandoffCond.notify_all();
  QCoreApplication::postEvent(this, new THandoffEvent(id));
  return id;
}

void TCustomComPort::WaitHandoffDone(quint64 id) {
  std::unique_lock lock(FHandoffMutex);
  FHandoffCond.wait(lock, [&] { return FDone >= id; });
}

void TCustomComPort::MarkThreadFinished() {
  std::lock_guard lock(FHandoffMutex);
  FThreadFinished = true;
  FHandoffCond.notify_all();
}

// Stops the event thread and waits for it, running every hand-off it queues meanwhile so
// that a thread blocked in a hand-off can finish. Called from inside a running hand-off
// (a handler that closes the port), it first releases the thread from that hand-off.
void TCustomComPort::StopEventThread() {
  if (!FEventThread) return;
  FEventThread->Stop();
  std::unique_lock lock(FHandoffMutex);
  if (FRunningHandoff != 0) {
    FDone = std::max(FDone, FRunningHandoff);
    FHandoffCond.notify_all();
  }
  for (;;) {
    FHandoffCond.wait(lock, [&] { return FThreadFinished || FRequested > FDone; });
    if (FThreadFinished) break;
    const quint64 id = FRequested;
    lock.unlock();
    RunHandoff(id);
    lock.lock();
  }
  FThreadFinished = false;
  lock.unlock();
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

bool IsDeviceLoss(const EComPort& error) {
  return error.WinCode == EIO || error.WinCode == ENXIO || error.WinCode == ENODEV;
}

// ---- port names ----

QString ResolvePortDevice(const QString& portName) { return ResolvePort(portName).Host; }
