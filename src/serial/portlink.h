#pragma once

#include <QString>
#include <functional>

#include "serial/comport.h"
#include "serial/linechannel.h"

// The serial port and the line channel over it, wired together: the port watches arrivals
// only, and each of its receive notifications runs the channel's ComPort1RxChar. The window,
// the companion's board link and the tests all talk to the board through one of these.
class TPortLink {
 public:
  // Creates a closed port and the channel bound to it and to log, with its line list made;
  // afterRx, when given, runs after each ComPort1RxChar.
  explicit TPortLink(TLineChannel::TLogLine log, std::function<void()> afterRx = {});
  // Closes the port while the channel still exists, so that a notification delivered during
  // the close still reaches it.
  ~TPortLink();
  TPortLink(const TPortLink&) = delete;
  TPortLink& operator=(const TPortLink&) = delete;

  // The connect sequence: closes the port, sets 57600 bit/s and the name ("COM1" through its
  // alias, or a device path), opens it, and forgets any transaction left unfinished. Raises
  // the port's EComPort when it cannot open.
  void Connect(const QString& portName);

  TComPort Port;
  TLineChannel Channel;  // reads Port, so it is built after it
};
