#include "parameters/profile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <utility>

#include "globals/errors.h"
#include "globals/numtext.h"
#include "parameters/filesave.h"

namespace {

constexpr QStringView kLineEnd(u"\r\n");
constexpr QByteArrayView kUtf8Mark("\xEF\xBB\xBF");
constexpr QByteArrayView kUtf16LEMark("\xFF\xFE");
constexpr QByteArrayView kUtf16BEMark("\xFE\xFF");

// A value in matching double or single quotes is read without them, as Windows' profile
// functions read it.
QString Unquoted(const QString& value) {
  const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                      value.back() == value.front();
  return quoted ? value.mid(1, value.size() - 2) : value;
}

}  // namespace

void RaiseWriteError(const QString& fileName) {
  throw Exception(QStringLiteral("Unable to write to %1").arg(fileName));
}

bool ProfileSection(QStringView line, QString& name) {
  const QStringView text = TrimControls(line);
  if (!text.startsWith(u'[')) return false;
  const qsizetype close = text.indexOf(u']');
  if (close < 0) return false;
  name = TrimControls(text.mid(1, close - 1)).toString();
  return true;
}

namespace {

// Splits a key line as ProfileKeyValue does, into views of line.
bool SplitKeyValue(QStringView line, QStringView& key, QStringView& value) {
  const QStringView text = TrimControls(line);
  if (text.isEmpty() || text.startsWith(u';') || text.startsWith(u'[')) return false;
  const qsizetype eq = text.indexOf(u'=');
  if (eq <= 0) return false;
  key = TrimControls(text.left(eq));
  value = TrimControls(text.mid(eq + 1));
  return !key.isEmpty();
}

}  // namespace

bool ProfileKeyValue(QStringView line, QString& key, QString& value) {
  QStringView keyView, valueView;
  if (!SplitKeyValue(line, keyView, valueView)) return false;
  key = keyView.toString();
  value = valueView.toString();
  return true;
}

TProfileFile::TProfileFile(QString fileName) : FFileName(std::move(fileName)) {}

TProfileFile::TProfileFile(QString fileName, QByteArray content)
    : FFileName(std::move(fileName)), FGiven(true), FBytes(std::move(content)) {}

void TProfileFile::Load(bool forWriting) {
  if (FLoaded) return;
  FLoaded = true;
  FSections.emplace_back();  // the lines before the first header
  if (FGiven) {
    FBytes = TakeByteOrderMark(FBytes);
    SplitSections();
    return;
  }
  const QFileInfo info(FFileName);
  if (!info.exists()) return;
  // Only regular files are read: a device or pipe could block or never end. An existing file
  // that cannot be read reads as empty, but must not be replaced by one holding only our keys.
  // Unbuffered: the file is read whole, straight into its byte array.
  QFile file(FFileName);
  const bool readable = info.isFile() && file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  if (!readable) {
    if (forWriting) RaiseWriteError(FFileName);
    return;
  }
  FBytes = TakeByteOrderMark(file.readAll());
  SplitSections();
}

QByteArray TProfileFile::TakeByteOrderMark(const QByteArray& bytes) {
  const std::pair<QByteArrayView, TEncoding> marks[] = {
      {kUtf16LEMark, TEncoding::Utf16LE}, {kUtf16BEMark, TEncoding::Utf16BE},
      {kUtf8Mark, TEncoding::Utf8}};
  for (const auto& [mark, encoding] : marks) {
    if (!bytes.startsWith(mark)) continue;
    FEncoding = encoding;
    FByteOrderMark = mark.toByteArray();
    return bytes.sliced(mark.size());
  }
  return bytes;
}

void TProfileFile::SplitSections() {
  // Every header holds a "[": room for them all at once, so that sections are not moved as
  // the vector grows.
  FSections.reserve(size_t(FBytes.count('[')) + 1);
  for (qsizetype start = 0; start < FBytes.size();) {
    const qsizetype end = NextLineStart(FBytes, start);
    const QByteArrayView line = QByteArrayView(FBytes).sliced(start, end - start);
    QString name;
    if (MayBeHeader(line) && ProfileSection(Decode(line), name)) {
      FSections.back().End = start;
      FSections.emplace_back();
      FSections.back().Begin = start;
      QString folded = std::move(name).toCaseFolded();  // folded in place
      if (!FSectionIndex.contains(folded)) FSectionIndex.insert(std::move(folded), FSections.size() - 1);
    }
    start = end;
  }
  FSections.back().End = FBytes.size();
}

std::vector<QByteArray>& TProfileFile::LinesOf(TSection& section) const {
  if (section.Split) return section.Lines;
  section.Split = true;
  for (qsizetype start = section.Begin; start < section.End;) {
    const qsizetype end = NextLineStart(FBytes, start);
    section.Lines.push_back(FBytes.sliced(start, end - start));
    start = end;
  }
  return section.Lines;
}

size_t TProfileFile::LineCount(TSection& section) const {
  if (section.Split) return section.Lines.size();
  if (section.Starts.empty())
    for (qsizetype start = section.Begin; start < section.End; start = NextLineStart(FBytes, start))
      section.Starts.push_back(start);
  return section.Starts.size();
}

QByteArrayView TProfileFile::LineAt(const TSection& section, size_t k) const {
  if (section.Split) return section.Lines[k];
  const qsizetype end = k + 1 < section.Starts.size() ? section.Starts[k + 1] : section.End;
  return QByteArrayView(FBytes).sliced(section.Starts[k], end - section.Starts[k]);
}

void TProfileFile::AppendBytes(const TSection& section, QByteArray& bytes) const {
  if (!section.Split) {
    bytes += QByteArrayView(FBytes).sliced(section.Begin, section.End - section.Begin);
    return;
  }
  for (const QByteArray& line : section.Lines) bytes += line;
}

qsizetype TProfileFile::NextLineStart(const QByteArray& bytes, qsizetype start) const {
  if (FEncoding == TEncoding::Utf8) {
    const qsizetype end = bytes.indexOf('\n', start);
    return end < 0 ? bytes.size() : end + 1;
  }
  // Line feeds are whole 16-bit units: the byte 10 with a zero byte on the right side of it.
  const qsizetype low = FEncoding == TEncoding::Utf16LE ? 0 : 1;
  for (qsizetype k = start; k + 1 < bytes.size(); k += 2) {
    if (bytes[k + low] == '\n' && bytes[k + 1 - low] == '\0') return k + 2;
  }
  return bytes.size();
}

bool TProfileFile::MayBeHeader(QByteArrayView raw) const {
  // Blanks and controls are single bytes in UTF-8, so most lines of a large file are passed
  // over without decoding them.
  if (FEncoding != TEncoding::Utf8) return true;
  qsizetype k = raw.startsWith(kUtf8Mark) ? kUtf8Mark.size() : 0;
  while (k < raw.size() && uchar(raw[k]) <= 32) ++k;
  // A header closes its name with "]", a single byte too.
  return k < raw.size() && raw[k] == '[' && raw.indexOf(']', k) >= 0;
}

QString TProfileFile::Decode(QByteArrayView raw) const {
  if (FEncoding == TEncoding::Utf8) {
    // Invalid bytes become replacement characters; a byte order mark may start any line of
    // files joined together.
    const bool mark = raw.startsWith(kUtf8Mark);
    return QString::fromUtf8(raw.sliced(mark ? kUtf8Mark.size() : 0));
  }
  QString text(raw.size() / 2, Qt::Uninitialized);
  if (FEncoding == TEncoding::Utf16LE)
    qFromLittleEndian<char16_t>(raw.constData(), text.size(), text.data());
  else
    qFromBigEndian<char16_t>(raw.constData(), text.size(), text.data());
  return text;
}

QByteArray TProfileFile::Encode(QStringView text) const {
  if (FEncoding == TEncoding::Utf8) return text.toUtf8();
  QByteArray bytes(text.size() * 2, Qt::Uninitialized);
  if (FEncoding == TEncoding::Utf16LE)
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data());
  else
    qToBigEndian<char16_t>(text.utf16(), text.size(), bytes.data());
  return bytes;
}

void TProfileFile::CloseLine(QByteArray& raw) const {
  if (FEncoding == TEncoding::Utf8) {
    if (!raw.endsWith('\n')) raw += Encode(kLineEnd);
    return;
  }
  if (raw.size() % 2 == 0 && raw.endsWith(Encode(u"\n"))) return;
  if (raw.size() % 2 != 0) raw += '\0';  // a stray odd byte becomes a whole unit
  raw += Encode(kLineEnd);
}

TProfileFile::TSection* TProfileFile::FindSection(const QString& section) {
  // Readers ask for the keys of one section in a row: the last section found is kept by its
  // name as asked, so that the name is folded once, not once per key.
  if (FLastFound && section == FLastSectionName) return &FSections[FLastSection];
  const auto found = FSectionIndex.constFind(section.toCaseFolded());
  if (found == FSectionIndex.cend()) return nullptr;
  FLastFound = true;
  FLastSectionName = section;
  FLastSection = found.value();
  return &FSections[FLastSection];
}

TProfileFile::TSection& TProfileFile::AppendSection(const QString& section) {
  // A new section goes to the end, set off from earlier content by a blank line.
  for (auto it = FSections.rbegin(); it != FSections.rend(); ++it) {
    std::vector<QByteArray>& lines = LinesOf(*it);
    if (lines.empty()) continue;
    CloseLine(lines.back());
    if (!TrimControls(Decode(lines.back())).isEmpty()) lines.push_back(Encode(kLineEnd));
    break;
  }
  FSections.emplace_back();
  FSections.back().Split = true;
  FSections.back().Lines.push_back(Encode(u'[' + section + u']') + Encode(kLineEnd));
  FSections.back().Indexed = true;
  FSectionIndex.insert(section.toCaseFolded(), FSections.size() - 1);
  FChanged = true;
  return FSections.back();
}

void TProfileFile::IndexKeys(TSection& section) const {
  if (section.Indexed) return;
  section.Indexed = true;
  const size_t count = LineCount(section);
  for (size_t k = 1; k < count; ++k) {
    const QByteArrayView line = LineAt(section, k);
    // A key line has an "=", a single byte in UTF-8: lines without one are passed over
    // without decoding them.
    if (FEncoding == TEncoding::Utf8 && !line.contains('=')) continue;
    const QString text = Decode(line);
    QStringView name, value;
    if (!SplitKeyValue(text, name, value)) continue;
    QString folded = name.toString().toCaseFolded();
    if (!section.Keys.contains(folded)) section.Keys.insert(std::move(folded), qsizetype(k));
    section.LastKey = qsizetype(k);
  }
}

void TProfileFile::InsertKey(TSection& section, const QString& key, const QByteArray& line) {
  // The new key follows the section's last one, so no indexed key moves. The line before it
  // may be the file's last, written without a line end.
  const qsizetype at = section.LastKey + 1;
  CloseLine(section.Lines[size_t(at - 1)]);
  section.Lines.insert(section.Lines.begin() + at, line);
  section.Keys.insert(key.toCaseFolded(), at);
  section.LastKey = at;
  FChanged = true;
}

QString TProfileFile::ReadString(const QString& section, const QString& key,
                                 const QString& defaultValue) {
  Load(false);
  TSection* found = FindSection(section);
  if (found == nullptr) return defaultValue;
  IndexKeys(*found);
  const qsizetype keyLine = found->Keys.value(key.toCaseFolded(), -1);
  if (keyLine < 0) return defaultValue;
  QString name, value;
  ProfileKeyValue(Decode(LineAt(*found, size_t(keyLine))), name, value);
  return Unquoted(value);
}

void TProfileFile::WriteString(const QString& section, const QString& key,
                               const QString& value) {
  Load(true);
  TSection* found = FindSection(section);
  TSection& target = found != nullptr ? *found : AppendSection(section);
  IndexKeys(target);
  LinesOf(target);  // the lines the write changes, numbered as the index numbers them
  const QByteArray line = Encode(key + u'=' + value) + Encode(kLineEnd);
  const qsizetype keyLine = target.Keys.value(key.toCaseFolded(), -1);
  if (keyLine < 0) {
    InsertKey(target, key, line);
    return;
  }
  QByteArray& existing = target.Lines[size_t(keyLine)];
  if (existing == line) return;
  existing = line;
  FChanged = true;
}

QByteArray TProfileFile::Content() {
  Load(false);
  QByteArray bytes;
  bytes.reserve(FByteOrderMark.size() + FBytes.size() + 4096);  // room for the changed lines
  bytes += FByteOrderMark;
  for (const TSection& section : FSections) AppendBytes(section, bytes);
  return bytes;
}

void TProfileFile::UpdateFile() {
  if (!FChanged) return;
  if (!SaveFileContent(FFileName, Content())) RaiseWriteError(FFileName);
  FChanged = false;
}
