#include "ctl/runjson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

void PrintRunsObject(TCtlIo& io, const QJsonArray& runs) {
  io.Out << QJsonDocument(QJsonObject{{QStringLiteral("runs"), runs}}).toJson(QJsonDocument::Indented);
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

