#include "serial/comerrors.h"

#include <cerrno>
#include <iterator>

#include "devices/explain.h"

namespace {

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

}  // namespace

QString ComErrorText(int code) {
  if (code < 1 || code > static_cast<int>(std::size(kCodeTexts))) return QString();
  return QString::fromLatin1(kCodeTexts[code - 1]);
}

QString ComErrorMessage(int code, int winCode) {
  QString text = ComErrorText(code);
  if (winCode > 0) text += QStringLiteral(" (Error: %1)").arg(winCode);
  return text;
}

EComPort::EComPort(int code, int winCode)
    : Exception(ComErrorMessage(code, winCode)), Code(code), WinCode(winCode > 0 ? winCode : -1) {}

QString EComPort::Explanation() const { return ExplanationFor(TAudience::Window); }

QString EComPort::ExplanationFor(TAudience audience) const {
  if (PortName.isEmpty()) return QString();
  if (Code != CE_OpenFailed && !OpenedAt.isEmpty()) {
    const QString failure = ExplainFailureInUse(OpenedAt, WinCode, audience);
    const QString note = UncheckedHoldersNote(OpenedAt, UncheckedHolders);
    return failure.isEmpty() || note.isEmpty() ? failure + note : failure + u'\n' + note;
  }
  return ExplainPortFailure(PortName, Code == CE_OpenFailed, WinCode, {}, audience);
}

bool IsDeviceLoss(const EComPort& error) {
  return error.WinCode == EIO || error.WinCode == ENXIO || error.WinCode == ENODEV;
}
