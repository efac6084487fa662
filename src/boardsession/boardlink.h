#pragma once

#include <QString>
#include <QStringList>

#include "globals/errorreport.h"
#include "serial/portlink.h"

// The board on a serial port for a program without a window: the port at 57600 bit/s and the
// line channel over it, the same link the main window uses. Needs a QCoreApplication (the
// transactions turn its event loop while they wait). Errors the port raises while receiving
// are collected instead of reaching the standard error report.
class TBoardLink {
 public:
  // Creates a closed link; log, when given, sees every line sent and received.
  explicit TBoardLink(TLineChannel::TLogLine log = {});
  // Closes the port while the channel still exists.
  ~TBoardLink();
  TBoardLink(const TBoardLink&) = delete;
  TBoardLink& operator=(const TBoardLink&) = delete;

  // Opens the named port ("COM1" through the alias, or a device path); raises EComPort with
  // the port's own message when it cannot.
  void Open(const QString& portName);

  TLineChannel& Channel() { return FLink.Channel; }
  TComPort& Port() { return FLink.Port; }
  const TComPort& Port() const { return FLink.Port; }
  // Returns the name the port was opened under.
  const QString& PortName() const { return FPortName; }

  // Returns and forgets the errors raised while receiving (a device that went away).
  QStringList TakeReceiveErrors();

 private:
  TPortLink FLink;
  QString FPortName;
  QStringList FReceiveErrors;
  TErrorReporter FPreviousReporter;
};
