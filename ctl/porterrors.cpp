#include "ctl/porterrors.h"

void PrintFailure(TCtlIo& io, const QString& what, const TFailure& failure) {
  PrintError(io, what, failure.Message);
  // The explanation stands as it is: it already ends its own lines but the last.
  if (!failure.Explanation.isEmpty()) io.Err << failure.Explanation << "\n" << Qt::flush;
}
