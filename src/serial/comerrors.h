#pragma once

// The serial port's error: its codes, their fixed texts and the message built from them.

#include <QString>

#include "globals/errors.h"

enum class TAudience;  // devices/explain.h

// Error codes of EComPort; the numbering is whole so that codes match their texts.
enum TComErrorCode {
  CE_OpenFailed = 1, CE_WriteFailed, CE_ReadFailed, CE_InvalidAsync, CE_PurgeFailed,
  CE_AsyncCheck, CE_SetStateFailed, CE_TimeoutsFailed, CE_SetupComFailed, CE_ClearComFailed,
  CE_ModemStatFailed, CE_EscapeComFailed, CE_TransmitFailed, CE_ConnChangeProp,
  CE_EnumPortsFailed, CE_StoreFailed, CE_LoadFailed, CE_RegFailed, CE_LedStateFailed,
  CE_ThreadCreated, CE_WaitFailed, CE_HasLink, CE_RegError, CEPortNotOpen
};

// Returns the fixed text of a code, or an empty text for an unknown code.
QString ComErrorText(int code);

// Returns the message of an error: the code's text, followed by " (Error: n)" when the
// platform error number n is above 0.
QString ComErrorMessage(int code, int winCode);

// An error of the serial port: a fixed text per code, followed by " (Error: n)" when the
// platform error number n (errno here) is above 0.
class EComPort : public Exception {
 public:
  // Builds the error of a code with the platform error number; numbers <= 0 are left out.
  EComPort(int code, int winCode);
  // Builds the error of a code without a platform error number (WinCode is -1).
  static EComPort CreateNoWinCode(int code) { return EComPort(code, -1); }
  // Returns the fixed text of a code, or an empty text for an unknown code.
  static QString CodeText(int code) { return ComErrorText(code); }
  // Returns what the failure means for the port's device and its cure, as the window says it.
  QString Explanation() const override;
  // Returns the same for audience (the window, or the command line).
  QString ExplanationFor(TAudience audience) const;

  int Code;
  int WinCode;
  QString PortName;  // the port that failed, "" when not known
  // Where the port led when it was opened ("/dev/ttyUSB0 (COM3)"), "" when it was not open:
  // a failure in use is explained with the device that was open, wherever the name leads now.
  QString OpenedAt;
  // Processes whose descriptors could not be checked for the device at its open: a failure in
  // use says so, since a second reader among them would explain it.
  int UncheckedHolders = 0;
};

// Returns whether an error of an open port means that its device has gone away: the platform
// error numbers of a hung-up or unplugged device (EIO, ENXIO, ENODEV).
bool IsDeviceLoss(const EComPort& error);
