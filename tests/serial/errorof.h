#pragma once

#include <QString>
#include <functional>

#include "serial/comport.h"

// Returns the text of the EComPort that call raised, or "" when it raised none.
inline QString ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EComPort& e) {
    return e.Message();
  }
  return QString();
}
