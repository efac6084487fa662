// Fuzzes the profile reader and writer with arbitrary file content: reading the parameter
// keys must never fail, and keys written into any content must read back.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include "parameters/paramfile.h"
#include "parameters/profile.h"

namespace {

// One scratch file per process, in memory-backed storage where available.
QString ScratchFile() {
  static const QString name =
      (QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
      QStringLiteral("/zirv-profile-fuzz-%1.pset").arg(getpid());
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  const QString name = ScratchFile();
  {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) return 0;
    file.write(bytes);
  }
  ReadParamFile(name);
  TProfileFile profile(name);
  const QString section = QStringLiteral("ZIRVParam");
  for (const char* key : {"P", "MaxOutput", "SVMCycle"})
    profile.WriteString(section, QString::fromLatin1(key), QStringLiteral("1"));
  // What was written must read back, whatever surrounded it.
  {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) return 0;
    file.write(profile.Content());
  }
  TProfileFile reread(name);
  for (const char* key : {"p", "MAXOUTPUT", "SVMCycle"})
    if (reread.ReadString(section, QString::fromLatin1(key), {}) != QStringLiteral("1"))
      std::abort();
  return 0;
}
