#include "ctl/runjson.h"

#include <QJsonArray>

#include "globals/jsontext.h"

namespace {

void PrintRunsObject(TCtlIo& io, const QJsonArray& runs) {
  io.Out << JsonText(QJsonObject{{QStringLiteral("runs"), runs}});
}

}  // namespace

void PrintRunsJson(TCtlIo& io, const std::vector<TStepRun>& runs) {
  QJsonArray array;
  for (const TStepRun& run : runs) array.append(RunJson(run));
  PrintRunsObject(io, array);
}

void PrintRunsJson(TCtlIo& io, const std::vector<TRunListing>& listings) {
  QJsonArray array;
  for (const TRunListing& l : listings) array.append(RunJson(l.Run, l.SampleCount));
  PrintRunsObject(io, array);
}

