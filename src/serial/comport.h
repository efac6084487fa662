#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "serial/comerrors.h"
#include "serial/comsettings.h"
#include "serial/receivefilter.h"
#include "serial/rxhandoff.h"
#include "serial/termiosdevice.h"

// Line speeds the port offers; each named member is the rate in its name in bit/s.
enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
  br38400, br56000, br57600, br115200, br128000, br256000
};

// Returns the rate of a named member in bit/s, or 0 for brCustom.
int BaudRateValue(TBaudRate rate);

class TComThread;

// The serial port: opens a terminal device exclusively as a raw line with its settings
// (after construction 9600 8N1, no flow control, DTR and RTS held inactive), and delivers
// received-character notifications on the thread that owns the object through OnRxChar.
// Every failure is raised as an EComPort.
//
// A setting changed while the port is open is applied at once (its group: line settings,
// time-outs or queue sizes), unless a batch is open (BeginUpdate); while closed it is only
// stored and applies at the next open. A failed re-apply raises and keeps the new value. The
// three steps of ConfigureDevice do nothing while the port is closed or a batch is open,
// whoever calls them; an override keeps that by calling CanApplySettings first.
class TCustomComPort : public QObject {
  Q_OBJECT

 public:
  // Creates a closed port named "COM1" with every setting at its value after construction.
  explicit TCustomComPort(QObject* parent = nullptr);
  // Closes the port when it is open.
  ~TCustomComPort() override;

  // Returns whether the device is open.
  bool Connected() const { return FConnected; }
  // Opens (true) or closes (false) the port; setting the current value does nothing.
  void SetConnected(bool value);
  // Returns the port name ("COM1", or a device path).
  const QString& Port() const { return FPort; }
  // Stores a new port name; an open port is closed and opened again under it.
  void SetPort(const QString& name);
  // Returns the line speed.
  TBaudRate BaudRate() const { return FBaudRate; }
  // Stores a new line speed; an open port applies it at once and stays open.
  void SetBaudRate(TBaudRate rate);
  // Returns the rate used for brCustom, in bit/s.
  int CustomBaudRate() const { return FCustomBaudRate; }
  // Stores the rate used for brCustom; applied at once when open with brCustom.
  void SetCustomBaudRate(int rate);
  // Returns the number of data bits.
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits value);
  // Returns the number of stop bits.
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits value);
  // Returns whether received NUL bytes are dropped. Linux has no such flag: the port drops
  // them itself, so InputCount and ReadStr never count nor hand out a NUL.
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool value);
  // Returns the character that would raise evRxFlag. That event has no Linux equivalent and
  // is never watched, so the value is kept only.
  char EventChar() const { return FEventChar; }
  void SetEventChar(char value);
  // The settings groups; each re-applies its own group when one of its values changes.
  TComParity& Parity() { return FParity; }
  const TComParity& Parity() const { return FParity; }
  TComFlowControl& FlowControl() { return FFlowControl; }
  const TComFlowControl& FlowControl() const { return FFlowControl; }
  TComTimeouts& Timeouts() { return FTimeouts; }
  const TComTimeouts& Timeouts() const { return FTimeouts; }
  TComBuffer& Buffer() { return FBuffer; }
  const TComBuffer& Buffer() const { return FBuffer; }
  // Returns the events the event thread watches; empty means no event thread. On Linux only
  // evRxChar can be watched (the others are kept only). Applies from the next open on.
  TComEvents Events() const { return FEvents; }
  void SetEvents(TComEvents value) { FEvents = value; }
  // Returns how notifications reach the owning thread. This port always hands them over as
  // smThreadSync does (the event thread waits until they have run), since only that keeps
  // them from running beside other logic; the other methods are kept as values only.
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void SetSyncMethod(TSyncMethod value) { FSyncMethod = value; }
  // Returns whether an arrival raises OnRxChar; when false the bytes wait unannounced.
  bool TriggersOnRxChar() const { return FTriggersOnRxChar; }
  void SetTriggersOnRxChar(bool value) { FTriggersOnRxChar = value; }
  // Returns the event thread's priority relative to the thread that opens the port, applied
  // when the event thread starts (at open). Raising it needs the privilege to do so; without,
  // the thread runs at normal.
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority value) { FEventThreadPriority = value; }

  // Opens a batch of setting changes: nothing is re-applied until the outermost batch ends.
  void BeginUpdate() { ++FUpdateCount; }
  // Ends a batch; ending the outermost one configures the device (when open) once.
  void EndUpdate();
  // Returns whether the port has told of the loss of its device (hang-up, unplug) since the
  // last open.
  bool DeviceLost() const { return FDeviceLost; }
  // Returns where the port led when it was last opened ("/dev/ttyUSB0 (COM3)"), "" before the
  // first open: a failure in use is explained with that device, wherever the name leads now.
  const QString& OpenedAt() const { return FOpenedAt; }
  // Returns how many processes (other users') could not be checked at the last open for a
  // descriptor of the device: a second reader among them would go unnoticed.
  int UncheckedHolders() const { return FUncheckedHolders; }
  // Measures the read and write time-outs on clock from now on (nullptr: the system's); the
  // caller keeps it alive while the port uses it.
  void SetClock(TPortClock* clock) { FClock = clock ? clock : &SystemPortClock(); }

  // Returns the number of received bytes not yet read.
  int InputCount();
  // Reads up to Count received bytes, one character per byte. With the read time-outs after
  // construction it takes only what has arrived and never waits; others may make it wait.
  int ReadStr(QString& Str, int Count);
  // Writes Str, one Latin-1 byte per character ('?' above 255); returns the bytes sent,
  // fewer when the write time-out passes first.
  int WriteStr(const QString& Str);
  // Discards unread input and/or unsent output.
  void ClearBuffer(bool Input, bool Output);

 protected:
  // Runs the hand-offs the event thread posts; other events go to QObject.
  bool event(QEvent* e) override;
  // Opens the device under the resolved name of Port.
  virtual void OpenDevice();
  // Releases the device.
  virtual void CloseDevice();
  // Applies queue sizes, line settings and time-outs, in that order; nothing while closed.
  virtual void ConfigureDevice();
  // Returns whether the steps of ConfigureDevice may reach the device now: the port is open
  // and no batch is.
  bool CanApplySettings() const { return FConnected && FUpdateCount == 0; }
  // Driver queue sizes: Linux drivers take no recommendation, so this does nothing.
  virtual void ApplyQueueSizes() {}
  // Applies rate, framing, parity, flow control and the DTR and RTS lines in one step;
  // nothing while closed or in a batch. Failure: error 7.
  virtual void ApplyLineSettings();
  // Linux has no device time-outs: ReadStr and WriteStr keep them themselves, reading the
  // values at each call, so nothing is handed to the device and nothing can fail.
  virtual void ApplyTimeoutSettings() {}
  // Handles one received-character wake-up: raises OnRxChar when bytes are waiting.
  virtual void HandleRxEvent();
  // Raises the receive notification; the base port has no handler.
  virtual void DoRxChar(int Count) { (void)Count; }
  // Raises the notification of a lost device; the base port has no handler.
  virtual void DoDeviceLost() {}

 private:
  // Re-applies the line settings unless the port is closed or a batch is open.
  void ReapplyLineSettings();
  // Stores a line setting and re-applies the line settings when it changed.
  template <class T>
  void ChangeLineSetting(T& field, T value);
  int TakeAvailable(QByteArray& out, int want);
  int ReadDevice(QByteArray& out, int want);
  int DrainDevice();
  void TakePending(QByteArray& out, int want);
  int ReadWithin(QByteArray& out, int count);
  void Open();
  void Close();
  void ReadModemLines();
  void StopEventThread();
  void RunHandoff(quint64 id);
  void HandleWakeUp(bool lost);
  // Handles one wake-up; an error goes to the standard error report.
  void ReportedWakeUp(bool lost);
  void HandleLoss();
  [[noreturn]] void RaiseComError(int code, int winCode) const;

  QString FPort = QStringLiteral("COM1");
  QString FOpenedAt;  // where FPort led at the open
  int FUncheckedHolders = 0;
  TBaudRate FBaudRate = br9600;
  int FCustomBaudRate = 9600;
  TDataBits FDataBits = dbEight;
  TStopBits FStopBits = sbOneStopBit;
  bool FDiscardNull = false;
  char FEventChar = 0;
  TComParity FParity;
  TComFlowControl FFlowControl;
  TComTimeouts FTimeouts;
  TPortClock* FClock = &SystemPortClock();
  TComBuffer FBuffer;
  TComEvents FEvents = TComEvents::All();
  TSyncMethod FSyncMethod = smThreadSync;
  bool FTriggersOnRxChar = true;
  TThreadPriority FEventThreadPriority = tpNormal;
  int FUpdateCount = 0;
  int FHandle = -1;
  bool FConnected = false;
  bool FDeviceLost = false;
  bool FClosing = false;  // Close is stopping the event thread and releasing the device
  // Received bytes decoded (marked errors, discarded NULs) but not yet handed out.
  TReceiveFilter FFilter;
  QByteArray FPending;
  // Meets the event thread: its wake-ups, and the count of reads and input purges that lets
  // it tell bytes left unread from new ones. Declared before the thread, which holds it.
  TRxHandoff FHandoff;
  std::unique_ptr<TComThread> FEventThread;
};

// The port object of the main window.
class TComPort : public TCustomComPort {
  Q_OBJECT

 public:
  // Creates a closed port named "COM1" at 9600 bit/s.
  explicit TComPort(QObject* parent = nullptr);
  // Closes the port; a notification still queued runs first, with OnRxChar intact.
  ~TComPort() override;

  // Raised on the owning thread when bytes have arrived; Count is the number waiting.
  std::function<void(TComPort* Sender, int Count)> OnRxChar;
  // Raised on the owning thread, once, when the device has gone away (hang-up, unplug), just
  // before the error that reports the loss. The handler may close the port.
  std::function<void(TComPort* Sender)> OnDeviceLost;

 protected:
  void DoRxChar(int Count) override;
  void DoDeviceLost() override;
};

// Returns the line settings a port hands to its device: what its settings mean in termios.
TermiosDevice::TLineSettings LineSettingsOf(const TCustomComPort& port);

// Returns the device path of a port name: "COMn" through the user's alias link
// ${XDG_CONFIG_HOME:-~/.config}/zirv7tune/ports/COMn when it exists, else /dev/ttyS<n-1>,
// both under ZIRV7TUNE_DEVICE_ROOT when it is set; a name starting with "/" is used as it
// is; anything else gives an empty path, which fails to open.
QString ResolvePortDevice(const QString& portName);
