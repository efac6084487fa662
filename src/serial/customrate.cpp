// Rates without a termios constant (14400, 56000, 128000, 256000, custom) go through the
// kernel's termios2 interface. Its header clashes with glibc's <termios.h>, so this file
// includes only the kernel's definitions and declares ioctl itself.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>

#include "serial/termiosdevice.h"

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace {

// Returns whether a rate the driver reports is the one asked for, within the 2 % by which the
// kernel itself matches rates (a UART's divisor rarely gives a rate exactly).
bool NearRate(speed_t taken, int rate) {
  return std::abs(static_cast<long long>(taken) - rate) * 50 <= rate;
}

}  // namespace

int TermiosDevice::SetCustomRate(int fd, int rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_cflag &= ~CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~(CBAUD << IBSHIFT);
  tio.c_cflag |= BOTHER << IBSHIFT;
  tio.c_ispeed = static_cast<speed_t>(rate);
  tio.c_ospeed = static_cast<speed_t>(rate);
  if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
  // A driver that cannot run the rate sets another one without an error.
  struct termios2 taken {};
  if (ioctl(fd, TCGETS2, &taken) != 0) return errno;
  if (!NearRate(taken.c_ospeed, rate) || !NearRate(taken.c_ispeed, rate)) return EINVAL;
  return 0;
}
