// Fuzzes the profile reader and writer with arbitrary file content: reading the parameter
// keys must never fail, and keys written into any content must read back. The content is
// handed to the reader as the bytes a file would give it, so that each input costs the parsing
// alone, not the file system's calls.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "parameters/paramfile.h"
#include "parameters/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const QString name = QStringLiteral("fuzz.pset");
  static const QString section = QStringLiteral("ZIRVParam");
  static const QString one = QStringLiteral("1");
  static const QString written[] = {QStringLiteral("P"), QStringLiteral("MaxOutput"),
                                    QStringLiteral("SVMCycle")};
  static const QString reread[] = {QStringLiteral("p"), QStringLiteral("MAXOUTPUT"),
                                   QStringLiteral("SVMCycle")};
  // The input is read in place: a copy would cost an allocation and its fill per input, for
  // the reader works on the same bytes either way.
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  // Reading first, then writing into the same profile: the content is split once, as when a
  // file is loaded and then saved over.
  TProfileFile profile(name, bytes);
  ReadParamValues(profile);
  // Writing and reading back parses the content a second time; every other input length does
  // it, so that the reading, which meets every input, keeps most of the time. A mutation that
  // adds or drops one byte moves an input between the two.
  if (size % 2 == 0) return 0;
  for (const QString& key : written) profile.WriteString(section, key, one);
  // What was written must read back, whatever surrounded it.
  TProfileFile again(name, profile.Content());
  for (const QString& key : reread)
    if (again.ReadString(section, key, {}) != one) std::abort();
  return 0;
}
