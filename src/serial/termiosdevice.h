#pragma once

#include <QByteArray>
#include <cstdint>
#include <string>

// A thin layer over POSIX termios for one serial device. Every function returns 0 on
// success or the errno of the failure, so the port decides which error to raise.
namespace TermiosDevice {

// Opens path read-write, non-blocking, without becoming the controlling terminal, and
// takes it exclusively (TIOCEXCL and a non-blocking flock). Non-terminals are refused
// with ENOTTY. On success fd holds the descriptor.
int Open(const std::string& path, int& fd);

// Releases exclusivity and closes the descriptor.
void Close(int fd);

// Clears DTR and RTS; a device without modem lines is not a failure.
int ClearDtrRts(int fd);

// Applies raw 8N1 at the given rate in bit/s with no flow control; reads never wait.
int ApplyRaw8N1(int fd, int rate);

// Asks the driver for low latency; devices that refuse are left as they are.
void RequestLowLatency(int fd);

// Reads the modem input lines; a device without them reads as all inactive.
int ReadModemLines(int fd, int& lines);

// Returns in count the number of received bytes not yet read.
int InputCount(int fd, int& count);

// Reads up to size bytes that have already arrived; read holds how many.
int ReadNow(int fd, char* data, int size, int& read);

// Writes data, waiting for room until timeoutMs (monotonic clock) has passed; sent holds
// the bytes accepted by the driver, also when the time-out ends the write.
int Write(int fd, const char* data, int size, int64_t timeoutMs, int& sent);

// Discards unread input and/or unsent output.
int Flush(int fd, bool input, bool output);

// Sets a rate that has no termios constant (via termios2); in customrate.cpp, which cannot
// share a translation unit with <termios.h>.
int SetCustomRate(int fd, int rate);

}  // namespace TermiosDevice
