#pragma once

// The settings of a serial port: their enumerations and the four groups a port owns.

#include <QtGlobal>
#include <functional>
#include <initializer_list>
#include <utility>

// Number of data bits per character: 5 to 8.
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
// Number of stop bits: 1, 1.5 or 2.
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
// Parity bit of each character.
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
// The DTR line while the port is open: held inactive, held active, or used for handshake.
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
// The RTS line while the port is open: held inactive, held active, handshake, or active
// only while transmitting.
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
// Device events a port can watch; evRxChar is the arrival of a character.
enum TComEvent {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
// How notifications reach the owning thread.
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
// Scheduling priority of a port's event thread.
enum TThreadPriority {
  tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};

// A set of TComEvent.
class TComEvents {
 public:
  constexpr TComEvents() = default;
  constexpr TComEvents(std::initializer_list<TComEvent> events) {
    for (TComEvent e : events) FBits |= Bit(e);
  }
  // Returns the set of all ten events.
  static constexpr TComEvents All() {
    return {evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
            evCTS,    evDSR,     evError,  evRLSD, evRx80Full};
  }
  // Returns whether the set holds e.
  constexpr bool Contains(TComEvent e) const { return (FBits & Bit(e)) != 0; }
  // Returns whether the set holds no event.
  constexpr bool IsEmpty() const { return FBits == 0; }
  constexpr bool operator==(const TComEvents&) const = default;

 private:
  static constexpr quint16 Bit(TComEvent e) { return quint16(1u << int(e)); }
  quint16 FBits = 0;
};

// A group of settings that belongs to one port and asks it to re-apply the group whenever
// one of its values changes (the port does nothing while closed or inside a batch).
class TComSettingsGroup {
 public:
  // What re-applies the group; the port gives each group its own step.
  using TReapply = std::function<void()>;
  explicit TComSettingsGroup(TReapply reapply) : FReapply(std::move(reapply)) {}
  TComSettingsGroup(const TComSettingsGroup&) = delete;
  TComSettingsGroup& operator=(const TComSettingsGroup&) = delete;

 protected:
  ~TComSettingsGroup() = default;

  // Stores value in field and, when it differs, asks the port to re-apply the group.
  template <class T>
  void Change(T& field, T value) {
    if (field == value) return;
    field = value;
    if (FReapply) FReapply();
  }

 private:
  TReapply FReapply;
};

// Parity: the bit sent with each character, whether received characters are checked, and
// whether a character received with a parity or framing error is replaced by ReplaceChar.
class TComParity : public TComSettingsGroup {
 public:
  using TComSettingsGroup::TComSettingsGroup;

  TParityBits Bits() const { return FBits; }
  void SetBits(TParityBits value) { Change(FBits, value); }
  bool Check() const { return FCheck; }
  void SetCheck(bool value) { Change(FCheck, value); }
  // Takes effect only together with Check.
  bool Replace() const { return FReplace; }
  void SetReplace(bool value) { Change(FReplace, value); }
  char ReplaceChar() const { return FReplaceChar; }
  void SetReplaceChar(char value) { Change(FReplaceChar, value); }

 private:
  TParityBits FBits = prNone;
  bool FCheck = false;
  bool FReplace = false;
  char FReplaceChar = 0;
};

// Hardware and software flow control and the state of the DTR and RTS lines.
class TComFlowControl : public TComSettingsGroup {
 public:
  using TComSettingsGroup::TComSettingsGroup;

  // Output waits while CTS is inactive.
  bool OutCTSFlow() const { return FOutCTSFlow; }
  void SetOutCTSFlow(bool value) { Change(FOutCTSFlow, value); }
  // Output waits while DSR is inactive. Linux has no DSR flow control: kept only.
  bool OutDSRFlow() const { return FOutDSRFlow; }
  void SetOutDSRFlow(bool value) { Change(FOutDSRFlow, value); }
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  void SetControlDTR(TDTRFlowControl value) { Change(FControlDTR, value); }
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  void SetControlRTS(TRTSFlowControl value) { Change(FControlRTS, value); }
  // Output stops on XoffChar and resumes on XonChar.
  bool XonXoffOut() const { return FXonXoffOut; }
  void SetXonXoffOut(bool value) { Change(FXonXoffOut, value); }
  // XoffChar is sent when the input queue fills, XonChar when it drains.
  bool XonXoffIn() const { return FXonXoffIn; }
  void SetXonXoffIn(bool value) { Change(FXonXoffIn, value); }
  // Received bytes are ignored while DSR is inactive. No Linux equivalent: kept only.
  bool DSRSensitivity() const { return FDSRSensitivity; }
  void SetDSRSensitivity(bool value) { Change(FDSRSensitivity, value); }
  // Output goes on after an XOFF was sent. No Linux equivalent: kept only.
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  void SetTxContinueOnXoff(bool value) { Change(FTxContinueOnXoff, value); }
  char XonChar() const { return FXonChar; }
  void SetXonChar(char value) { Change(FXonChar, value); }
  char XoffChar() const { return FXoffChar; }
  void SetXoffChar(char value) { Change(FXoffChar, value); }

 private:
  bool FOutCTSFlow = false;
  bool FOutDSRFlow = false;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
  bool FDSRSensitivity = false;
  bool FTxContinueOnXoff = false;
  char FXonChar = 17;
  char FXoffChar = 19;
};

// Read and write time-outs in milliseconds; -1 stands for the 32-bit value with all bits
// set. A read of n bytes ends when n have come, when ReadTotalMultiplier * n +
// ReadTotalConstant has passed, or when ReadInterval has passed since the last byte (the
// totals both 0, or the interval 0, switch that limit off). ReadInterval -1 with both totals
// 0 returns at once with what has arrived; ReadInterval and ReadTotalMultiplier -1 with a
// constant above 0 return as soon as one byte is there, or after the constant. A write of n
// bytes ends after WriteTotalMultiplier * n + WriteTotalConstant with what was sent; both 0
// mean no limit.
class TComTimeouts : public TComSettingsGroup {
 public:
  using TComSettingsGroup::TComSettingsGroup;

  int ReadInterval() const { return FReadInterval; }
  void SetReadInterval(int value) { Change(FReadInterval, value); }
  int ReadTotalMultiplier() const { return FReadTotalMultiplier; }
  void SetReadTotalMultiplier(int value) { Change(FReadTotalMultiplier, value); }
  int ReadTotalConstant() const { return FReadTotalConstant; }
  void SetReadTotalConstant(int value) { Change(FReadTotalConstant, value); }
  int WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
  void SetWriteTotalMultiplier(int value) { Change(FWriteTotalMultiplier, value); }
  int WriteTotalConstant() const { return FWriteTotalConstant; }
  void SetWriteTotalConstant(int value) { Change(FWriteTotalConstant, value); }

 private:
  int FReadInterval = -1;
  int FReadTotalMultiplier = 0;
  int FReadTotalConstant = 0;
  int FWriteTotalMultiplier = 100;
  int FWriteTotalConstant = 1000;
};

// Recommended driver queue sizes in bytes. Linux drivers take no recommendation, so on this
// platform the values are kept only.
class TComBuffer : public TComSettingsGroup {
 public:
  using TComSettingsGroup::TComSettingsGroup;

  int InputSize() const { return FInputSize; }
  void SetInputSize(int value) { Change(FInputSize, value); }
  int OutputSize() const { return FOutputSize; }
  void SetOutputSize(int value) { Change(FOutputSize, value); }

 private:
  int FInputSize = 1024;
  int FOutputSize = 1024;
};
