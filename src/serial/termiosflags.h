#pragma once

// The termios form of the line settings; apart from termiosdevice.h, which must stay free of
// <termios.h> (customrate.cpp uses the kernel's clashing definitions).

#include <termios.h>

#include "serial/termiosdevice.h"

namespace TermiosDevice {

// Makes tio a raw line (bytes pass unchanged, no echo, no end-of-file character, reads
// never wait) with the rate, framing, parity and flow control of the settings. A rate
// without a termios constant gets a placeholder here and its value through termios2.
// Returns 0, or EINVAL for a rate that is not above 0.
int SetLineFlags(termios& tio, const TLineSettings& settings);

// Returns whether the device took what it was asked: the same rates, framing, hardware flow
// control and input flags (XON/XOFF, parity checking and marking). Other bits may differ.
bool TakenAsAsked(const termios& asked, const termios& taken);

}  // namespace TermiosDevice
