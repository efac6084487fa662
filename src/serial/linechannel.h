#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "globals/colors.h"
#include "serial/comport.h"

// The line channel: cuts the port's byte stream into the board's CR-ended lines, sends
// command lines, and keeps the flags through which every exchange waits for its answer.
// Runs on the user-interface thread only; the main window owns it and forwards to it.
class TLineChannel {
 public:
  using TLogLine = std::function<void(const QString& text, TColor colour)>;

  // Binds the channel to the port it reads and writes and to the communication log.
  TLineChannel(TComPort& port, TLogLine logLine);

  // Characters received and not yet cut into a line: everything after the last CR.
  QString RS232Buf;
  // The lines cut since the list was last emptied, oldest first, each ending with its CR.
  std::unique_ptr<QStringList> LineBuf;
  // Answer pending: set by SendLine, cleared when any complete line arrives.
  bool Timeout = false;
  // Transaction in progress: set and cleared by the transactions, forced clear by
  // WaitUntilIdle.
  bool FWaitRS232 = false;

  // Creates LineBuf if absent.
  void CreateLineBuf();
  // Reads everything the port holds and cuts, logs (blue) and stores each complete line.
  void ComPort1RxChar();
  // Sends text followed by CR LF, then logs text in green.
  void SendLine(const QString& text);
  // Polls until a complete line has arrived after SendLine (true), or 501 polls have
  // passed: then logs "Timeout" in red, drops the partial line and returns false.
  bool WaitForReply();
  // As WaitForReply, for the first complete line holding tag: returns it, or, when 501 polls
  // passed without one, logs "Timeout", drops the partial line and returns nothing. Lines
  // without tag are passed over and stay in LineBuf.
  std::optional<QString> WaitForLineWith(const QString& tag);
  // Discards what the port holds (when connected) and empties LineBuf.
  void FlushReceive();
  // Returns how often FlushReceive has run, so that an exchange can tell whether another one
  // emptied the received lines while it waited.
  quint64 FlushCount() const { return FFlushCount; }
  // Polls until FWaitRS232 is clear, at most 1001 polls, then clears it.
  void WaitUntilIdle();

  // One poll: processes all pending events of this thread, then sleeps 1 ms.
  static void Poll();
  // Returns the polls made so far in this process.
  static quint64 PollCount();
  // What each poll calls after its sleep, before it counts (none by default): a test lets the
  // simulated boards in its process catch up with the line, so that waits counted in polls do
  // not race a busy machine. Returns the gate set before.
  using TPollGate = void (*)();
  static TPollGate SetPollGate(TPollGate gate);

 private:
  // Logs "Timeout" in red and drops the partial line: a wait for an answer ran out.
  void TimedOut();

  TComPort& FPort;
  TLogLine FLogLine;
  quint64 FFlushCount = 0;
};
