#include "boardsession/boardlink.h"

#include <utility>

TBoardLink::TBoardLink(TLineChannel::TLogLine log)
    : FLink(log ? std::move(log) : [](const QString&, TColor) {}) {
  FPreviousReporter =
      SetErrorReporter([this](const QString& message) { FReceiveErrors.append(message); });
}

TBoardLink::~TBoardLink() {
  FLink.Port.SetConnected(false);
  SetErrorReporter(std::move(FPreviousReporter));
}

void TBoardLink::Open(const QString& portName) {
  FPortName = portName;
  FLink.Connect(portName);
}

QStringList TBoardLink::TakeReceiveErrors() { return std::exchange(FReceiveErrors, {}); }
