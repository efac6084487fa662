#include "boardsession/boardlink.h"

#include <utility>

TBoardLink::TBoardLink(TLineChannel::TLogLine log)
    : FChannel(FPort, log ? std::move(log) : [](const QString&, TColor) {}) {
  FChannel.CreateLineBuf();
  FPort.OnRxChar = [this](TComPort*, int) { FChannel.ComPort1RxChar(); };
  FPreviousReporter =
      SetErrorReporter([this](const QString& message) { FReceiveErrors.append(message); });
}

TBoardLink::~TBoardLink() {
  FPort.SetConnected(false);
  SetErrorReporter(std::move(FPreviousReporter));
}

void TBoardLink::Open(const QString& portName) {
  FPortName = portName;
  FPort.SetBaudRate(br57600);
  FPort.SetPort(portName);
  FPort.SetConnected(true);
  FChannel.FWaitRS232 = false;
}

QStringList TBoardLink::TakeReceiveErrors() { return std::exchange(FReceiveErrors, {}); }
