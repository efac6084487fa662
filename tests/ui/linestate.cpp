#include "linestate.h"

#include <termios.h>

#include <QStringList>

bool ScrambleLine(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  t.c_lflag |= ICANON | ECHO | ISIG;
  t.c_iflag |= IXON | IXOFF | ICRNL | INPCK;
  t.c_cflag |= CRTSCTS | CSTOPB;
  cfsetspeed(&t, B1200);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

QString DescribeLine(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return QStringLiteral("no terminal");
  const std::pair<speed_t, int> rates[] = {{B1200, 1200}, {B9600, 9600}, {B57600, 57600}};
  int rate = -1;
  for (const auto& [constant, value] : rates) rate = cfgetospeed(&t) == constant ? value : rate;
  const int bits[] = {5, 6, 7, 8};
  const bool raw = (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (t.c_oflag & OPOST) == 0 &&
                   (t.c_iflag & (ICRNL | INPCK | PARMRK | ISTRIP)) == 0;
  QStringList flow;
  if (t.c_cflag & CRTSCTS) flow << QStringLiteral("RTS/CTS");
  if (t.c_iflag & IXON) flow << QStringLiteral("XON/XOFF out");
  if (t.c_iflag & IXOFF) flow << QStringLiteral("XON/XOFF in");
  return QStringLiteral("%1 bit/s, %2 bits, parity %3, %4 stop bit, %5, flow control: %6")
      .arg(rate)
      .arg(bits[(t.c_cflag & CSIZE) >> 4])
      .arg(t.c_cflag & PARENB ? QStringLiteral("on") : QStringLiteral("off"))
      .arg(t.c_cflag & CSTOPB ? 2 : 1)
      .arg(raw ? QStringLiteral("raw") : QStringLiteral("cooked"))
      .arg(flow.isEmpty() ? QStringLiteral("none") : flow.join(QStringLiteral(", ")));
}
