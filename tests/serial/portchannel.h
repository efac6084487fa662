#pragma once

// The serial port and the line channel over it, wired as the main window wires them: each
// received-character notification of the port runs the channel's ComPort1RxChar.

#include <QString>
#include <functional>
#include <utility>

#include "serial/comport.h"
#include "serial/linechannel.h"

struct TPortChannel {
  TComPort Port;
  TLineChannel Channel;  // reads Port, so it is built after it

  // Binds the channel to the closed port and to the log, creates its line list and hooks it to
  // the port's notifications; afterRx, when given, runs after each ComPort1RxChar.
  explicit TPortChannel(TLineChannel::TLogLine log, std::function<void()> afterRx = {})
      : Channel(Port, std::move(log)) {
    Channel.CreateLineBuf();
    Port.OnRxChar = [this, afterRx = std::move(afterRx)](TComPort*, int) {
      Channel.ComPort1RxChar();
      if (afterRx) afterRx();
    };
  }
  // Closes the port while the channel still exists: a notification delivered during the close
  // still reaches it.
  ~TPortChannel() { Port.SetConnected(false); }
  TPortChannel(const TPortChannel&) = delete;
  TPortChannel& operator=(const TPortChannel&) = delete;

  // Opens the port on the given device; settings made on Port before apply from the start.
  void Open(const QString& device) {
    Port.SetPort(device);
    Port.SetConnected(true);
  }
};
