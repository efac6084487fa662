#include "globals/errorreport.h"

#include <cstdio>

namespace {
TErrorReporter& Reporter() {
  static TErrorReporter reporter;
  return reporter;
}
QString& Explanation() {
  static QString explanation;
  return explanation;
}
}  // namespace

TErrorReporter SetErrorReporter(TErrorReporter reporter) {
  return std::exchange(Reporter(), std::move(reporter));
}

void ReportError(const QString& message, const QString& explanation) {
  // A report from inside a reporter (a nested event loop) keeps the outer one's explanation.
  const QString outer = std::exchange(Explanation(), explanation);
  if (Reporter()) {
    Reporter()(message);
  } else {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (!explanation.isEmpty()) std::fprintf(stderr, "%s\n", explanation.toLocal8Bit().constData());
  }
  Explanation() = outer;
}

const QString& ReportedExplanation() { return Explanation(); }
