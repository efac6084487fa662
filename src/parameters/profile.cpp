#include "parameters/profile.h"

#include <QFile>
#include <QFileInfo>

#include "globals/errors.h"
#include "globals/numtext.h"
#include "parameters/filesave.h"

namespace {

const QByteArray kLineEnd = "\r\n";
const QByteArray kByteOrderMark = "\xEF\xBB\xBF";

// The text of one raw line as the reader sees it: UTF-8 (invalid bytes replaced), without a
// leading byte order mark and without blanks or control characters at either end.
QString LineText(const QByteArray& raw) {
  const QByteArray body = raw.startsWith(kByteOrderMark) ? raw.mid(kByteOrderMark.size()) : raw;
  return TrimControls(QString::fromUtf8(body)).toString();
}

bool EndsLine(const QByteArray& raw) { return raw.endsWith('\n'); }

}  // namespace

bool ProfileSection(QStringView line, QString& name) {
  const QStringView text = TrimControls(line);
  if (!text.startsWith(u'[')) return false;
  const qsizetype close = text.indexOf(u']');
  if (close < 0) return false;
  name = TrimControls(text.mid(1, close - 1)).toString();
  return true;
}

bool ProfileKeyValue(QStringView line, QString& key, QString& value) {
  const QStringView text = TrimControls(line);
  if (text.isEmpty() || text.startsWith(u';') || text.startsWith(u'[')) return false;
  const qsizetype eq = text.indexOf(u'=');
  if (eq <= 0) return false;
  const QStringView name = TrimControls(text.left(eq));
  if (name.isEmpty()) return false;
  key = name.toString();
  value = TrimControls(text.mid(eq + 1)).toString();
  return true;
}

TProfileFile::TProfileFile(QString fileName) : FFileName(std::move(fileName)) {}

void TProfileFile::Load(bool forWriting) {
  if (FLoaded) return;
  FLoaded = true;
  QFile file(FFileName);
  if (!file.exists()) return;
  // Only regular files are read: a device or pipe could block or never end. An existing file
  // that cannot be read reads as empty, but must not be replaced by one holding only our keys.
  const bool readable = QFileInfo(FFileName).isFile() && file.open(QIODevice::ReadOnly);
  if (!readable) {
    if (forWriting) RaiseWriteError();
    return;
  }
  SplitLines(file.readAll());
}

void TProfileFile::SplitLines(const QByteArray& bytes) {
  qsizetype start = 0;
  while (start < bytes.size()) {
    qsizetype end = bytes.indexOf('\n', start);
    end = end < 0 ? bytes.size() : end + 1;
    FLines.push_back({bytes.mid(start, end - start)});
    start = end;
  }
}

void TProfileFile::RaiseWriteError() const {
  throw Exception(QStringLiteral("Unable to write to %1").arg(FFileName));
}

qsizetype TProfileFile::FindSection(const QString& section) const {
  for (size_t k = 0; k < FLines.size(); ++k) {
    QString name;
    if (!ProfileSection(LineText(FLines[k].Raw), name)) continue;
    if (name.compare(section, Qt::CaseInsensitive) == 0) return qsizetype(k);
  }
  return -1;
}

qsizetype TProfileFile::FindKey(qsizetype sectionLine, const QString& key) const {
  QString name, value;
  for (size_t k = size_t(sectionLine) + 1; k < FLines.size(); ++k) {
    const QString text = LineText(FLines[k].Raw);
    if (ProfileSection(text, name)) return -1;  // the next section begins
    if (!ProfileKeyValue(text, name, value)) continue;
    if (name.compare(key, Qt::CaseInsensitive) == 0) return qsizetype(k);
  }
  return -1;
}

qsizetype TProfileFile::LastKeyOfSection(qsizetype sectionLine) const {
  qsizetype last = sectionLine;
  QString name, value;
  for (size_t k = size_t(sectionLine) + 1; k < FLines.size(); ++k) {
    const QString text = LineText(FLines[k].Raw);
    if (ProfileSection(text, name)) break;
    if (ProfileKeyValue(text, name, value)) last = qsizetype(k);
  }
  return last;
}

void TProfileFile::InsertLine(qsizetype index, const QByteArray& text) {
  // The line before the new one may be the file's last, written without a line end.
  if (index > 0 && !EndsLine(FLines[size_t(index - 1)].Raw))
    FLines[size_t(index - 1)].Raw += kLineEnd;
  FLines.insert(FLines.begin() + index, TLine{text + kLineEnd});
  FChanged = true;
}

QString TProfileFile::ReadString(const QString& section, const QString& key,
                                 const QString& defaultValue) {
  Load(false);
  const qsizetype sectionLine = FindSection(section);
  if (sectionLine < 0) return defaultValue;
  const qsizetype keyLine = FindKey(sectionLine, key);
  if (keyLine < 0) return defaultValue;
  QString name, value;
  ProfileKeyValue(LineText(FLines[size_t(keyLine)].Raw), name, value);
  return value;
}

void TProfileFile::WriteString(const QString& section, const QString& key,
                               const QString& value) {
  Load(true);
  const QByteArray line = (key + u'=' + value).toUtf8();
  qsizetype sectionLine = FindSection(section);
  if (sectionLine < 0) {
    // A new section goes to the end, set off from earlier content by a blank line.
    const qsizetype end = qsizetype(FLines.size());
    if (end > 0 && !LineText(FLines.back().Raw).isEmpty()) InsertLine(end, QByteArray());
    sectionLine = qsizetype(FLines.size());
    InsertLine(sectionLine, '[' + section.toUtf8() + ']');
  }
  const qsizetype keyLine = FindKey(sectionLine, key);
  if (keyLine < 0) {
    InsertLine(LastKeyOfSection(sectionLine) + 1, line);
    return;
  }
  TLine& existing = FLines[size_t(keyLine)];
  if (existing.Raw == line + kLineEnd) return;
  existing.Raw = line + kLineEnd;
  FChanged = true;
}

QByteArray TProfileFile::Content() {
  Load(false);
  QByteArray bytes;
  for (const TLine& line : FLines) bytes += line.Raw;
  return bytes;
}

void TProfileFile::UpdateFile() {
  if (!FChanged) return;
  if (!SaveFileContent(FFileName, Content())) RaiseWriteError();
  FChanged = false;
}
