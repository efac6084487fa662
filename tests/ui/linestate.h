#pragma once

// The settings of a terminal line, for window tests, which cannot include <termios.h> (its
// macros clash with names such as FF0).
#include <QString>

// Puts the terminal open at fd into a state no port sets: cooked, echoing, 2 stop bits, all
// flow control, 1200 bit/s. Returns whether the device took it.
bool ScrambleLine(int fd);

// Describes the line of the terminal open at fd, for example
// "57600 bit/s, 8 bits, parity off, 1 stop bit, raw, flow control: none".
QString DescribeLine(int fd);
