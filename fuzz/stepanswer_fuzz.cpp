// Fuzzes the step test's answer as the board sends it, any bytes: cut into lines at each CR as
// the line channel cuts them, parsed into samples, and the run's figures computed from them.
// Beyond "no crash", every sample that parses is finite. The run's JSON and CSV are fuzzed
// with any samples at all, finite or not, by the run history's target.
#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "globals/errors.h"
#include "protocol/transactions.h"
#include "steprun/steprun.h"

namespace {

// The lines the channel would keep of text: each ends with its CR; a tail without one waits
// for more and is no line yet.
QStringList Lines(const QString& text) {
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype cr = text.indexOf(u'\r'); cr >= 0; cr = text.indexOf(u'\r', start)) {
    lines.append(text.mid(start, cr - start + 1));
    start = cr + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The port hands out bytes as Latin-1 characters.
  const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
  TStepRun run;
  run.Step = 100;
  run.Prediv = 1;
  run.Params.MaxOutput = 100;
  run.Params.SVMCycle = 20;
  run.Params.Valid = true;
  try {
    ParseStepAnswer(Lines(text), [&](const TStepSample& s) {
      if (!std::isfinite(s.Error) || !std::isfinite(s.Output)) std::abort();
      run.Errors.push_back(s.Error);
      run.Outputs.push_back(s.Output);
    });
  } catch (const EConvertError&) {
  }
  UpdateFigures(run);
  return 0;
}
