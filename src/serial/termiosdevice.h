#pragma once

#include <QByteArray>
#include <cstdint>
#include <string>

#include "serial/comsettings.h"
#include "serial/comtimeouts.h"

// A thin layer over POSIX termios for one serial device. Every function returns 0 on
// success or the errno of the failure, so the port decides which error to raise.
namespace TermiosDevice {

// The line settings handed to the device in one step.
struct TLineSettings {
  int Rate = 9600;  // bit/s
  TDataBits DataBits = dbEight;
  TStopBits StopBits = sbOneStopBit;
  TParityBits Parity = prNone;
  bool ParityCheck = false;   // check received parity and mark bytes with errors
  bool HardwareFlow = false;  // RTS/CTS handshake
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  char XonChar = 17;
  char XoffChar = 19;
};

// Opens path read-write, non-blocking, without becoming the controlling terminal, and
// takes it exclusively (TIOCEXCL and a non-blocking flock), and leaves the line raw at its
// present rate and framing. Non-terminals are refused with ENOTTY. On success fd holds the
// descriptor.
int Open(const std::string& path, int& fd);

// Releases exclusivity and closes the descriptor.
void Close(int fd);

// Sets DTR and RTS active or inactive; a device without modem lines is not a failure.
int SetModemLines(int fd, bool dtr, bool rts);

// Applies the settings to a raw line (bytes pass unchanged, no echo, no end-of-file
// character); reads never wait.
int ApplyLineSettings(int fd, const TLineSettings& settings);

// Asks the driver for low latency; devices that refuse are left as they are.
void RequestLowLatency(int fd);

// Reads the modem input lines; a device without them reads as all inactive.
int ReadModemLines(int fd, int& lines);

// Returns in count the number of received bytes not yet read.
int InputCount(int fd, int& count);

// Reads up to size bytes that have already arrived; read holds how many.
int ReadNow(int fd, char* data, int size, int& read);

// Waits on clock until bytes can be read or timeoutMs has passed (forever when negative); a
// device that went away is reported as EIO.
int WaitReadable(int fd, int64_t timeoutMs, TPortClock& clock);

// Writes data, waiting for room until timeoutMs (on clock, forever when negative) has passed;
// sent holds the bytes accepted by the driver, also when the time-out ends the write.
int Write(int fd, const char* data, int size, int64_t timeoutMs, int& sent, TPortClock& clock);

// Discards unread input and/or unsent output.
int Flush(int fd, bool input, bool output);

// Sets a rate that has no termios constant (via termios2); in customrate.cpp, which cannot
// share a translation unit with <termios.h>.
int SetCustomRate(int fd, int rate);

}  // namespace TermiosDevice
