#include "serial/termiosdevice.h"

#include "serial/termiosflags.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace TermiosDevice {
namespace {

struct TRateConstant {
  int Rate;
  speed_t Constant;
};

constexpr TRateConstant kRates[] = {
    {110, B110},     {300, B300},     {600, B600},       {1200, B1200},
    {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

// Returns the termios constant of a rate, or B0 when it has none.
speed_t RateConstant(int rate) {
  for (const TRateConstant& r : kRates) {
    if (r.Rate == rate) return r.Constant;
  }
  return B0;
}

// Devices without modem lines (pseudo-terminals) refuse modem requests with these.
bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

tcflag_t SizeFlag(TDataBits bits) {
  switch (bits) {
    case dbFive: return CS5;
    case dbSix: return CS6;
    case dbSeven: return CS7;
    case dbEight: break;
  }
  return CS8;
}

// Mark and space parity are the "stick" parity of CMSPAR: PARODD selects mark.
tcflag_t ParityFlags(TParityBits parity) {
  switch (parity) {
    case prNone: break;
    case prOdd: return PARENB | PARODD;
    case prEven: return PARENB;
    case prMark: return PARENB | PARODD | CMSPAR;
    case prSpace: return PARENB | CMSPAR;
  }
  return 0;
}

// Makes the line raw at its present rate and framing, so that a device just opened never
// echoes nor edits what arrives before the port's own settings reach it.
void MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

// Linux offers no 1.5 stop bits: sbOne5StopBits sets CSTOPB like two stop bits (a 16550-type
// UART sends 1.5 stop bits with CSTOPB at 5 data bits, 2 otherwise).
int SetLineFlags(termios& tio, const TLineSettings& s) {
  if (s.Rate <= 0) return EINVAL;
  ::cfmakeraw(&tio);
  // CIBAUD clear makes the input run at the output rate: a split input rate left by another
  // program, or by the termios2 form of a custom rate, would otherwise stay.
  tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CIBAUD);
  tio.c_cflag |= CLOCAL | CREAD | SizeFlag(s.DataBits) | ParityFlags(s.Parity);
  if (s.StopBits != sbOneStopBit) tio.c_cflag |= CSTOPB;
  if (s.HardwareFlow) tio.c_cflag |= CRTSCTS;
  // Without INPCK the driver passes bytes with parity or framing errors unchanged. With it,
  // PARMRK marks them instead of turning them into NUL, so the port can decode them.
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  if (s.ParityCheck) tio.c_iflag |= INPCK | PARMRK;
  if (s.XonXoffOut) tio.c_iflag |= IXON;
  if (s.XonXoffIn) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  // A rate without a constant is set through termios2 once these flags are in place.
  const speed_t constant = RateConstant(s.Rate);
  const speed_t placeholder = constant != B0 ? constant : B38400;
  if (::cfsetispeed(&tio, placeholder) != 0 || ::cfsetospeed(&tio, placeholder) != 0) {
    return errno;
  }
  return 0;
}

bool TakenAsAsked(const termios& asked, const termios& taken) {
  constexpr tcflag_t kControl =
      CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  constexpr tcflag_t kInput = IXON | IXOFF | INPCK | PARMRK;
  return (taken.c_cflag & kControl) == (asked.c_cflag & kControl) &&
         (taken.c_iflag & kInput) == (asked.c_iflag & kInput);
}

int Open(const std::string& path, int& fd) {
  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  int err = 0;
  if (!::isatty(fd)) {
    err = ENOTTY;
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // The lock comes before TIOCEXCL: the exclusive flag is shared by every opener, and a
    // loser must not change it under the port's owner.
    err = errno;
  } else if (::ioctl(fd, TIOCEXCL) != 0) {
    err = errno;
  } else {
    MakeRaw(fd);
  }
  if (err == 0) return 0;
  ::close(fd);
  fd = -1;
  return err;
}

void Close(int fd) {
  if (fd < 0) return;
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

int SetModemLines(int fd, bool dtr, bool rts) {
  const int active = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
  const int inactive = (TIOCM_DTR | TIOCM_RTS) & ~active;
  if (active != 0 && ::ioctl(fd, TIOCMBIS, &active) != 0 && !NoModemLines(errno)) return errno;
  if (inactive != 0 && ::ioctl(fd, TIOCMBIC, &inactive) != 0 && !NoModemLines(errno)) {
    return errno;
  }
  return 0;
}

// Drivers adjust what they cannot do without an error (a pseudo-terminal keeps 8 data bits
// and no parity, some USB adapters drop mark and space parity, a UART limits its rate); the C
// library notices only some of it. Reading the rate, the framing and the input flags back
// makes every such refusal an error.
int ApplyLineSettings(int fd, const TLineSettings& settings) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return errno;
  if (const int err = SetLineFlags(tio, settings)) return err;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return errno;
  termios taken{};
  if (::tcgetattr(fd, &taken) != 0) return errno;
  if (!TakenAsAsked(tio, taken)) return EINVAL;
  return RateConstant(settings.Rate) != B0 ? 0 : SetCustomRate(fd, settings.Rate);
}

void RequestLowLatency(int fd) {
  serial_struct info{};
  if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return;
  info.flags |= ASYNC_LOW_LATENCY;
  ::ioctl(fd, TIOCSSERIAL, &info);
}

int ReadModemLines(int fd, int& lines) {
  lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) == 0) return 0;
  lines = 0;
  return NoModemLines(errno) ? 0 : errno;
}

int InputCount(int fd, int& count) {
  count = 0;
  return ::ioctl(fd, FIONREAD, &count) == 0 ? 0 : errno;
}

int ReadNow(int fd, char* data, int size, int& read) {
  read = 0;
  for (;;) {
    const ssize_t n = ::read(fd, data, static_cast<size_t>(size));
    if (n >= 0) {
      read = static_cast<int>(n);
      return 0;
    }
    if (errno == EAGAIN) return 0;
    if (errno != EINTR) return errno;
  }
}

int WaitReadable(int fd, int64_t timeoutMs, TPortClock& clock) {
  pollfd p{fd, POLLIN, 0};
  const int n = clock.Poll(p, timeoutMs);
  if (n < 0) return errno == EINTR ? 0 : errno;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? EIO : 0;
}

int Write(int fd, const char* data, int size, int64_t timeoutMs, int& sent, TPortClock& clock) {
  sent = 0;
  const int64_t deadline = timeoutMs < 0 ? INT64_MAX : clock.NowMs() + timeoutMs;
  while (sent < size) {
    const ssize_t n = ::write(fd, data + sent, static_cast<size_t>(size - sent));
    if (n > 0) {
      sent += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return errno;
    const int64_t left = deadline - clock.NowMs();
    if (left <= 0) return 0;  // the time-out ends the write with what was sent
    pollfd p{fd, POLLOUT, 0};
    // A hang-up wakes this poll; the next write then reports the failure.
    if (clock.Poll(p, left) < 0 && errno != EINTR) return errno;
  }
  return 0;
}

int Flush(int fd, bool input, bool output) {
  if (!input && !output) return 0;
  const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  return ::tcflush(fd, which) == 0 ? 0 : errno;
}

}  // namespace TermiosDevice
