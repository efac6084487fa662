#pragma once

#include <QByteArray>

// Turns the bytes read from the device into the bytes the port hands out, when received
// errors are marked or NUL bytes are discarded.
//
// Linux can only drop a byte received with a parity or framing error (IGNPAR), pass it as
// NUL, or mark it (PARMRK): the line discipline then delivers it as 0xFF 0x00 c and a real
// 0xFF as 0xFF 0xFF. Marking keeps everything, so the port checks parity with marking on and
// decodes here: c itself, or the replacement character when errors are to be replaced.
class TReceiveFilter {
 public:
  // Sets the decoding: marked when the device marks errors; each byte received with an error
  // becomes replaceChar when replace holds, else stays as received; discardNull drops every
  // NUL byte that results. Ends no escape begun under the previous settings.
  void Configure(bool marked, bool replace, char replaceChar, bool discardNull);
  // Returns whether bytes must pass through Feed at all.
  bool Active() const { return FMarked || FDiscardNull || FState != TState::Plain; }
  // Appends the decoded form of size bytes of data to out. An escape cut between two calls
  // is completed by the next.
  void Feed(const char* data, qsizetype size, QByteArray& out);
  // Forgets an unfinished escape (after the input queue was discarded).
  void Reset() { FState = TState::Plain; }

 private:
  enum class TState { Plain, Escape, Error };  // after nothing, 0xFF, 0xFF 0x00

  void Emit(char c, QByteArray& out) const;

  bool FMarked = false;
  bool FReplace = false;
  char FReplaceChar = 0;
  bool FDiscardNull = false;
  TState FState = TState::Plain;
};
