#include "serial/portlink.h"

#include <utility>

TPortLink::TPortLink(TLineChannel::TLogLine log, std::function<void()> afterRx)
    : Channel(Port, std::move(log)) {
  Channel.CreateLineBuf();
  Port.SetEvents({evRxChar});
  Port.OnRxChar = [this, afterRx = std::move(afterRx)](TComPort*, int) {
    Channel.ComPort1RxChar();
    if (afterRx) afterRx();
  };
}

TPortLink::~TPortLink() { Port.SetConnected(false); }

void TPortLink::Connect(const QString& portName) {
  Port.SetConnected(false);
  Port.SetBaudRate(br57600);
  Port.SetPort(portName);
  Port.SetConnected(true);
  Channel.FWaitRS232 = false;
}
