#pragma once

#include <QColor>

#include "globals/colors.h"

// Returns the Qt colour of a 0x00BBGGRR value.
inline QColor ToQColor(TColor c) {
  return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// Returns the 0x00BBGGRR value of a Qt colour.
inline TColor FromQColor(const QColor& c) {
  return TColor(c.red()) | (TColor(c.green()) << 8) | (TColor(c.blue()) << 16);
}
