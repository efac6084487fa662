// Fuzzes the parameter file as the companion reads it before writing a board (write, diff,
// compare): the strict read that refuses a file leaving any value to a default, the values it
// holds, and what they become as fields show them and as the board's record. Beyond "no
// crash", a file the read accepts yields finite values.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTextStream>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include "ctl/paramsets.h"

namespace {

// One scratch file per process, in memory-backed storage where available.
QString ScratchFile() {
  static const QString name =
      (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
      QStringLiteral("/zirv-paramfile-fuzz-%1.pset").arg(getpid());
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString name = ScratchFile();
  {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
  }
  QString text, errors, answers;
  QTextStream out(&text), err(&errors), in(&answers);
  TCtlIo io{out, err, in};
  TParamValues values{};
  if (!ReadParameterFile(io, name, values)) return 0;
  for (double value : values)
    if (!std::isfinite(value)) std::abort();
  FileValuesOf(values);
  ParamsOf(values);
  for (double value : values) ValueText(value);
  return 0;
}
