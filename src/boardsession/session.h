#pragma once

#include <QString>
#include <bitset>
#include <functional>

#include "boardsession/boardlink.h"
#include "boardsession/paramswap.h"
#include "globals/records.h"
#include "globals/result.h"
#include "parameters/paramtable.h"

struct TParamRow;

// One command's time with a board: the port opened, the board's values as last read or
// answered, and which rows were sent without their answer coming back. Every failure carries
// what it means and what cures it, worded for the command line.
class TBoardSession {
 public:
  // Creates a closed session; log, when given, sees every line sent and received.
  explicit TBoardSession(TLineChannel::TLogLine log = {});

  // Opens the named port ("COM3" through its alias, or a device path) and reads the board's
  // values. Fails with the port's own message and what it means when the port cannot be
  // opened, or with the read's failure.
  TResult<void> Open(const QString& port);

  // Opens the named port as Open does, without reading the board's values: for a command that
  // must send something at once (stop the oscillator).
  TResult<void> OpenPort(const QString& port);

  // Reads the board's values ("l"); they become the values last known.
  TResult<void> Read();

  // Sends one row's value with the row's set command and returns the board's answer, which
  // becomes the row's value last known. Fails when no answer came back (the row is then
  // unanswered: its value on the board is not known) or the port failed.
  TResult<double> Send(const TParamRow& row, double value, TValueText text);

  TBoardLink& Link() { return FLink; }
  const QString& PortName() const { return FLink.PortName(); }
  // Returns the board's values as last read or answered.
  const TPIDParams& Board() const { return FBoard; }
  // Returns whether the row was sent and its answer never came.
  bool Unanswered(const TParamRow& row) const;
  // Returns whether the port's device went away while open (unplugged, powered off).
  bool DeviceLost() const;

  // Returns the failure of an exchange that failed with message: explained as a device that
  // went away when it did, else, when sent names the command, as a board that did not answer it;
  // and whether other programs that might take the answers could not be checked at the open.
  TFailure Failure(const QString& message, const QString& sent = {}) const;

  // Runs an exchange of the command sent with the board: an error it raises, or one the port
  // raised while receiving, fails it, explained as Failure explains it.
  TResult<void> Exchange(const QString& sent, const std::function<void()>& exchange);

 private:
  TBoardLink FLink;
  TPIDParams FBoard;
  std::bitset<kParamCount> FUnanswered;  // rows sent whose answer never came
  bool FGoneInExchange = false;           // an exchange met the device's loss itself
};

// Returns the text of the set command that sends value to row ("p 0.3").
QString SetCommandOf(const TParamRow& row, double value, TValueText text);
