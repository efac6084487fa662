#include "parameters/paramfilecheck.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "parameters/paramfile.h"
#include "parameters/paramtable.h"

namespace {

bool IsParameterKey(QStringView key) {
  for (const TParamRow& row : ParamTable())
    if (key.compare(QLatin1String(row.FileKey), Qt::CaseInsensitive) == 0) return true;
  return false;
}

// Returns whether the text has a line "key=..." with a parameter key inside the section.
bool HasParameterKey(const QString& text) {
  bool inSection = false;
  for (QStringView line : QStringView(text).split(u'\n')) {
    line = line.trimmed();
    if (line.startsWith(u'[')) {
      const qsizetype end = line.indexOf(u']');
      inSection = end > 0 &&
                  line.mid(1, end - 1).trimmed().compare(QLatin1String(kParamSection), Qt::CaseInsensitive) == 0;
      continue;
    }
    const qsizetype equals = line.indexOf(u'=');
    if (inSection && equals > 0 && IsParameterKey(line.left(equals).trimmed())) return true;
  }
  return false;
}

}  // namespace

QString ParamFileProblem(const QString& fileName) {
  const QFileInfo info(fileName);
  if (!info.exists()) return QStringLiteral("no such file");
  if (!info.isFile()) return QStringLiteral("not a regular file");
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return file.errorString();
  // What the file holds, up to one byte over the largest size so that a larger file shows as
  // larger: a read of the largest size itself would make room for a megabyte on every check.
  const QByteArray bytes = file.read(std::min(info.size(), kMaxParamFileBytes) + 1);
  if (bytes.size() > kMaxParamFileBytes)
    return QStringLiteral("larger than a parameter file can be (%1 bytes at most)").arg(kMaxParamFileBytes);
  if (!HasParameterKey(QString::fromUtf8(bytes)))
    return QStringLiteral("not a parameter file: no section [%1] with a parameter key").arg(QLatin1String(kParamSection));
  return QString();
}
