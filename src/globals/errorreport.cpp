#include "globals/errorreport.h"

#include <cstdio>

namespace {
TErrorReporter& Reporter() {
  static TErrorReporter reporter;
  return reporter;
}
}  // namespace

TErrorReporter SetErrorReporter(TErrorReporter reporter) {
  return std::exchange(Reporter(), std::move(reporter));
}

void ReportError(const QString& message) {
  if (Reporter()) {
    Reporter()(message);
    return;
  }
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}
