#include "parameters/profile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <utility>

#include "globals/errors.h"
#include "globals/numtext.h"
#include "globals/filesave.h"

namespace {

constexpr QStringView kLineEnd(u"\r\n");
constexpr QByteArrayView kUtf8Mark("\xEF\xBB\xBF");
constexpr QByteArrayView kUtf16LEMark("\xFF\xFE");
constexpr QByteArrayView kUtf16BEMark("\xFE\xFF");

// A value in matching double or single quotes is read without them, as Windows' profile
// functions read it.
QStringView Unquoted(QStringView value) {
  const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                      value.back() == value.front();
  return quoted ? value.mid(1, value.size() - 2) : value;
}

}  // namespace

void RaiseWriteError(const QString& fileName) {
  throw Exception(QStringLiteral("Unable to write to %1").arg(fileName));
}

namespace {

// Finds a header's name as ProfileSection does, as a view of line.
bool SplitSection(QStringView line, QStringView& name) {
  const QStringView text = TrimControls(line);
  if (!text.startsWith(u'[')) return false;
  const qsizetype close = text.indexOf(u']');
  if (close < 0) return false;
  name = TrimControls(text.mid(1, close - 1));
  return true;
}

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

// Returns the value of a decoded key line as ReadString returns it, cut out of the line in
// place.
QString ValueOfLine(QString text) {
  QStringView key, value;
  SplitKeyValue(text, key, value);
  value = Unquoted(value);
  const qsizetype begin = value.data() - QStringView(text).data();
  text.truncate(begin + value.size());
  text.remove(0, begin);
  return text;
}

}  // namespace

bool ProfileSection(QStringView line, QString& name) {
  QStringView view;
  if (!SplitSection(line, view)) return false;
  name = view.toString();
  return true;
}

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
  if (FGiven) {
    FBytes = TakeByteOrderMark(FBytes);
    SplitSections();
    return;
  }
  FSections.emplace_back();  // the lines before the first header, even if the file is not read
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
    FByteOrderMark = QByteArray::fromRawData(mark.data(), mark.size());
    return bytes.sliced(mark.size());
  }
  return bytes;
}

void TProfileFile::SplitSections() {
  // The headers are found first, so that the sections are made in room of the right size
  // (with one more for a section a write appends) and never moved.
  struct THeader {
    qsizetype Start, NameBegin, NameEnd;
  };
  QVarLengthArray<THeader, 256> headers;
  const auto addHeader = [&](qsizetype start, qsizetype end) {
    qsizetype nameBegin = 0, nameEnd = 0;
    if (HeaderName(QByteArrayView(FBytes).sliced(start, end - start), nameBegin, nameEnd))
      headers.append({start, start + nameBegin, start + nameEnd});
  };
  if (FEncoding == TEncoding::Utf8) {
    // Only a line with a "[" can be a header: the lines between are passed over at once.
    for (qsizetype start = 0; start < FBytes.size();) {
      const qsizetype open = FBytes.indexOf('[', start);
      if (open < 0) break;
      const qsizetype lineStart = FBytes.lastIndexOf('\n', open) + 1;
      start = NextLineStart(FBytes, open);
      addHeader(lineStart, start);
    }
  } else {
    for (qsizetype start = 0; start < FBytes.size();) {
      const qsizetype end = NextLineStart(FBytes, start);
      addHeader(start, end);
      start = end;
    }
  }
  FSections.reserve(size_t(headers.size()) + 2);
  if (FSections.empty()) FSections.emplace_back();  // the lines before the first header
  for (const THeader& header : headers) {
    FSections.back().End = header.Start;
    FSections.emplace_back();
    FSections.back().Begin = header.Start;
    FSections.back().NameBegin = header.NameBegin;
    FSections.back().NameEnd = header.NameEnd;
  }
  FSections.back().End = FBytes.size();
}

std::vector<QByteArray>& TProfileFile::LinesOf(TSection& section) const {
  if (section.Split) return section.Lines;
  section.Split = true;
  // Each line ends with a byte 10 but the last (in UTF-16 too, where other units may hold one).
  section.Lines.reserve(size_t(SectionBytes(section).count('\n')) + 1);
  // The lines stay in the file's bytes, which are never changed, until a write replaces one.
  for (qsizetype start = section.Begin; start < section.End;) {
    const qsizetype end = NextLineStart(FBytes, start);
    section.Lines.push_back(QByteArray::fromRawData(FBytes.constData() + start, end - start));
    start = end;
  }
  return section.Lines;
}

QByteArrayView TProfileFile::SectionBytes(const TSection& section) const {
  return QByteArrayView(FBytes).sliced(section.Begin, section.End - section.Begin);
}

QByteArrayView TProfileFile::HeaderLine(const TSection& section) const {
  if (section.Split) return section.Lines.front();
  return QByteArrayView(FBytes).sliced(section.Begin,
                                       NextLineStart(FBytes, section.Begin) - section.Begin);
}

QByteArrayView TProfileFile::KeyLine(const TSection& section, const TKey& key) const {
  if (section.Split) return section.Lines[key.Line];
  return QByteArrayView(FBytes).sliced(key.Start, NextLineStart(FBytes, key.Start) - key.Start);
}

void TProfileFile::AppendBytes(const TSection& section, QByteArray& bytes) const {
  if (!section.Split) {
    bytes += SectionBytes(section);
    return;
  }
  for (const QByteArray& line : section.Lines) bytes += line;
}

qsizetype TProfileFile::NextLineStart(const QByteArray& bytes, qsizetype start) const {
  if (FEncoding == TEncoding::Utf8) {
    const void* end = std::memchr(bytes.constData() + start, '\n', size_t(bytes.size() - start));
    return end == nullptr ? bytes.size() : static_cast<const char*>(end) - bytes.constData() + 1;
  }
  // Line feeds are whole 16-bit units: the byte 10 with a zero byte on the right side of it.
  const qsizetype low = FEncoding == TEncoding::Utf16LE ? 0 : 1;
  for (qsizetype k = start; k + 1 < bytes.size(); k += 2) {
    if (bytes[k + low] == '\n' && bytes[k + 1 - low] == '\0') return k + 2;
  }
  return bytes.size();
}

namespace {

// The code units of a raw line, read without decoding it: the bytes of a UTF-8 line, the
// 16-bit units of a UTF-16 line. A UTF-8 byte below 128 is the character it codes wherever it
// stands (decoding takes nothing else into it), which is all that finding blanks, "[", "]",
// ";" and "=" needs, and a name of such bytes folds without decoding. The encoding is a
// template argument, so that it is looked at once per line rather than once per unit.
template <int Width, bool LittleEndian>
struct TUnits {
  static constexpr qsizetype kWidth = Width;  // bytes per unit
  const uchar* Data;
  qsizetype Size;   // in units
  qsizetype Begin;  // where the text starts: after a UTF-8 byte order mark, as Decode takes it off

  char16_t operator[](qsizetype k) const {
    if constexpr (Width == 1) return Data[k];
    else if constexpr (LittleEndian) return char16_t(Data[2 * k] | Data[2 * k + 1] << 8);
    else return char16_t(Data[2 * k] << 8 | Data[2 * k + 1]);
  }
  // Returns where the first unit c at or after from stands, or -1.
  qsizetype IndexOf(char16_t c, qsizetype from) const {
    if constexpr (Width == 1) {
      if (from >= Size) return -1;
      const void* hit = std::memchr(Data + from, c, size_t(Size - from));
      return hit == nullptr ? -1 : static_cast<const uchar*>(hit) - Data;
    } else {
      for (; from < Size; ++from)
        if ((*this)[from] == c) return from;
      return -1;
    }
  }
};

qsizetype SkipBlanks(const auto& units, qsizetype k, qsizetype end) {
  while (k < end && units[k] <= 32) ++k;
  return k;
}

qsizetype TrimBlanks(const auto& units, qsizetype begin, qsizetype end) {
  while (end > begin && units[end - 1] <= 32) --end;
  return end;
}

// Finds the name of a header line as ProfileSection reads the line's text: returns false for
// a line that is no header, else sets [begin, end) to the units of its name.
bool FindHeaderName(const auto& units, qsizetype& begin, qsizetype& end) {
  const qsizetype open = SkipBlanks(units, units.Begin, units.Size);
  if (open == units.Size || units[open] != u'[') return false;
  const qsizetype close = units.IndexOf(u']', open + 1);
  if (close < 0) return false;
  begin = SkipBlanks(units, open + 1, close);
  end = TrimBlanks(units, begin, close);
  return true;
}

constexpr uint32_t kHashStart = 2166136261u;

// One step of the names' hash (FNV-1a over the folded units).
uint32_t HashUnit(uint32_t hash, char16_t unit) { return (hash ^ unit) * 16777619u; }

// Case folding maps ASCII letters as lower-casing does, and no other ASCII character.
char16_t FoldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit;
}

// Compares the units of a header's name with a folded name: 1 when equal, 0 when not, -1
// when the name holds a unit that is not ASCII, which only its decoded text can tell. An
// ASCII prefix folds alone, so a difference in it decides.
int CompareHeaderName(const auto& units, QStringView folded) {
  for (qsizetype k = 0; k < units.Size; ++k) {
    const char16_t unit = units[k];
    if (unit >= 0x80) return -1;
    if (k >= folded.size() || FoldAscii(unit) != folded[k]) return 0;
  }
  return units.Size == folded.size() ? 1 : 0;
}

// Reads the key name of a raw line as SplitKeyValue reads its text and folds it into name
// (only its hash when hashOnly): 1 for a key line, 0 for other lines, -1 when the name holds a
// unit that is not ASCII; [nameBegin, nameEnd) are then its bytes.
int FoldKeyName(const auto& units, auto& name, bool hashOnly, qsizetype& nameBegin,
                qsizetype& nameEnd) {
  const qsizetype eq = units.IndexOf(u'=', units.Begin);
  if (eq < 0) return 0;
  const qsizetype begin = SkipBlanks(units, units.Begin, eq);
  if (begin == eq || units[begin] == u';' || units[begin] == u'[') return 0;
  const qsizetype end = TrimBlanks(units, begin, eq);
  if (!hashOnly) name.Units.resize(end - begin);
  char16_t* to = name.Units.data();
  uint32_t hash = kHashStart;
  for (qsizetype k = begin; k < end; ++k) {
    const char16_t unit = FoldAscii(units[k]);
    if (unit >= 0x80) {
      nameBegin = begin * units.kWidth;
      nameEnd = end * units.kWidth;
      return -1;
    }
    if (!hashOnly) *to++ = unit;
    hash = HashUnit(hash, unit);
  }
  name.Hash = hash;
  return 1;
}

// Returns where part, a view of text, starts in it.
qsizetype OffsetIn(QStringView part, const QString& text) {
  return part.data() - QStringView(text).data();
}

}  // namespace

template <typename TVisit>
auto TProfileFile::WithUnits(QByteArrayView raw, TVisit&& visit, bool line) const {
  const auto* data = reinterpret_cast<const uchar*>(raw.data());
  switch (FEncoding) {
    case TEncoding::Utf16LE: return visit(TUnits<2, true>{data, raw.size() / 2, 0});
    case TEncoding::Utf16BE: return visit(TUnits<2, false>{data, raw.size() / 2, 0});
    case TEncoding::Utf8: break;
  }
  // Compared byte by byte: a memcmp call for every line costs more than the line's scan.
  const bool mark =
      line && raw.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
  return visit(TUnits<1, false>{data, raw.size(), mark ? kUtf8Mark.size() : 0});
}

bool TProfileFile::HeaderName(QByteArrayView raw, qsizetype& begin, qsizetype& end) const {
  return WithUnits(raw, [&](const auto& units) {
    if (!FindHeaderName(units, begin, end)) return false;
    begin *= units.kWidth;
    end *= units.kWidth;
    return true;
  });
}

bool TProfileFile::HeaderMatches(const TSection& section, const TFoldedName& name) const {
  if (section.Added) return name.View() == section.AddedName;
  const QByteArrayView bytes =
      QByteArrayView(FBytes).sliced(section.NameBegin, section.NameEnd - section.NameBegin);
  const int compared = WithUnits(
      bytes, [&](const auto& units) { return CompareHeaderName(units, name.View()); }, false);
  if (compared >= 0) return compared == 1;
  TFoldedName header;
  if (!FoldDecodedName(FBytes, section.NameBegin, section.NameEnd, header)) {
    QString text = Decode(HeaderLine(section));
    QStringView view;
    SplitSection(text, view);
    FoldPart(std::move(text), view, header);
  }
  return header == name;
}

bool TProfileFile::KeyName(QByteArrayView raw, TFoldedName& name, bool hashOnly) const {
  qsizetype nameBegin = 0, nameEnd = 0;
  const int found = WithUnits(raw, [&](const auto& units) {
    return FoldKeyName(units, name, hashOnly, nameBegin, nameEnd);
  });
  if (found >= 0) return found == 1;
  if (FoldDecodedName(raw, nameBegin, nameEnd, name)) return true;
  QString text = Decode(raw);
  QStringView key, value;
  if (!SplitKeyValue(text, key, value)) return false;
  FoldPart(std::move(text), key, name);
  return true;
}

bool TProfileFile::FoldDecodedName(QByteArrayView raw, qsizetype begin, qsizetype end,
                                   TFoldedName& name) const {
  // Decoding starts afresh at every ASCII byte, and the name is set off by ASCII bytes, so
  // its bytes alone decode as they do in the whole line; but a byte order mark that starts
  // them is taken off when they are decoded alone, and only at the line's start in the whole
  // (where it may also change what the line is). Such names are read from the whole line.
  const QByteArrayView bytes = raw.sliced(begin, end - begin);
  if (FEncoding == TEncoding::Utf8 && bytes.startsWith(kUtf8Mark)) return false;
  FoldDecoded(Decode(bytes), name);
  return true;
}

void TProfileFile::FoldName(QStringView text, TFoldedName& name) {
  name.Units.resize(text.size());
  char16_t* to = name.Units.data();
  uint32_t hash = kHashStart;
  for (const QChar c : text) {
    const char16_t unit = FoldAscii(c.unicode());
    if (unit >= 0x80) {
      FoldDecoded(text.toString(), name);
      return;
    }
    *to++ = unit;
    hash = HashUnit(hash, unit);
  }
  name.Hash = hash;
}

void TProfileFile::FoldPart(QString text, QStringView part, TFoldedName& name) {
  const qsizetype begin = OffsetIn(part, text);
  text.truncate(begin + part.size());
  text.remove(0, begin);
  FoldDecoded(std::move(text), name);
}

void TProfileFile::FoldDecoded(QString text, TFoldedName& name) {
  const QString folded = std::move(text).toCaseFolded();  // in place where text is not shared
  name.Units.resize(folded.size());
  const auto* from = reinterpret_cast<const char16_t*>(folded.constData());
  char16_t* to = name.Units.data();
  uint32_t hash = kHashStart;
  for (qsizetype k = 0; k < folded.size(); ++k) {
    to[k] = from[k];
    hash = HashUnit(hash, from[k]);
  }
  name.Hash = hash;
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
  // Readers ask for the keys of one section in a row: the last lookup is kept by its name as
  // asked, so that the headers are compared once, not once per key.
  if (!FLastAsked || section != FLastSectionName) {
    TFoldedName name;
    FoldName(section, name);
    FLastAsked = true;
    FLastSectionName = section;
    FLastSection = 0;
    for (size_t k = 1; k < FSections.size(); ++k) {
      if (!HeaderMatches(FSections[k], name)) continue;
      FLastSection = k;  // the first of duplicate sections
      break;
    }
  }
  return FLastSection == 0 ? nullptr : &FSections[FLastSection];
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
  TSection& added = FSections.back();
  added.Split = true;
  added.Lines.push_back(Encode(u'[' + section + u']') + Encode(kLineEnd));
  added.Indexed = true;
  added.Added = true;
  added.AddedName = section.toCaseFolded();
  FLastAsked = true;
  FLastSectionName = section;
  FLastSection = FSections.size() - 1;
  FChanged = true;
  return added;
}

template <typename TVisit>
void TProfileFile::ForEachLine(const TSection& section, TVisit&& visit) const {
  if (section.Split) {
    for (size_t k = 0; k < section.Lines.size(); ++k) visit(k, qsizetype(0), QByteArrayView(section.Lines[k]));
    return;
  }
  size_t line = 0;
  for (qsizetype start = section.Begin; start < section.End; ++line) {
    const qsizetype end = NextLineStart(FBytes, start);
    visit(line, start, QByteArrayView(FBytes).sliced(start, end - start));
    start = end;
  }
}

void TProfileFile::IndexKeys(TSection& section) const {
  if (section.Indexed) return;
  section.Indexed = true;
  // Each key line holds a byte "=" (in UTF-16 too, where other units may hold one).
  section.Keys.reserve(section.Split ? section.Lines.size()
                                     : size_t(SectionBytes(section).count('=')));
  TFoldedName name;
  const auto add = [&](size_t line, qsizetype start, QByteArrayView raw) {
    if (line == 0 || !KeyName(raw, name, true)) return;  // line 0 is the header
    section.Keys.push_back({name.Hash, -1, line, start});
    section.LastKey = line;
  };
  ForEachLine(section, add);
}


const TProfileFile::TKey* TProfileFile::FindKey(const TSection& section,
                                                const TFoldedName& name) const {
  TFoldedName found;
  for (const TKey& key : section.Keys) {
    if (key.Hash != name.Hash) continue;
    if (key.Added >= 0 ? name.View() == section.AddedNames[size_t(key.Added)]
                  : KeyName(KeyLine(section, key), found) && found == name)
      return &key;
  }
  return nullptr;
}

void TProfileFile::InsertKey(TSection& section, const TFoldedName& name, const QByteArray& line) {
  // The new key follows the section's last one, so no listed key moves. The line before it
  // may be the file's last, written without a line end.
  const size_t at = section.LastKey + 1;
  CloseLine(section.Lines[at - 1]);
  section.Lines.insert(section.Lines.begin() + qsizetype(at), line);
  TFoldedName written;
  const bool readsBack = KeyName(line, written) && written == name;
  section.Keys.push_back({name.Hash, readsBack ? -1 : int32_t(section.AddedNames.size()), at, 0});
  if (!readsBack) section.AddedNames.push_back(name.View().toString());
  section.LastKey = at;
  FChanged = true;
}

QString TProfileFile::ReadString(const QString& section, const QString& key,
                                 const QString& defaultValue) {
  Load(false);
  TSection* found = FindSection(section);
  if (found == nullptr) return defaultValue;
  IndexKeys(*found);
  TFoldedName name;
  FoldName(key, name);
  const TKey* keyLine = FindKey(*found, name);
  if (keyLine == nullptr) return defaultValue;
  return ValueOfLine(Decode(KeyLine(*found, *keyLine)));
}

std::vector<TProfileFile::TSectionLines> TProfileFile::SectionsNamed(const QString& section) {
  Load(false);
  TFoldedName name;
  FoldName(section, name);
  std::vector<TSectionLines> found;
  int first = 1;  // the line the section starts on
  for (size_t k = 0; k < FSections.size(); ++k) {
    const bool matches = k > 0 && HeaderMatches(FSections[k], name);  // 0 has no header
    if (matches) found.push_back({first, {}});
    int lines = 0;
    ForEachLine(FSections[k], [&](size_t index, qsizetype, QByteArrayView raw) {
      ++lines;
      TFoldedName key;
      if (!matches || index == 0 || !KeyName(raw, key)) return;
      const QString text = Decode(raw);
      QStringView keyText, value;
      SplitKeyValue(text, keyText, value);
      found.back().Keys.push_back({first + int(index), keyText.toString(), key.View().toString(), ValueOfLine(text)});
    });
    first += lines;
  }
  return found;
}

void TProfileFile::WriteString(const QString& section, const QString& key,
                               const QString& value) {
  Load(true);
  TSection* found = FindSection(section);
  TSection& target = found != nullptr ? *found : AppendSection(section);
  IndexKeys(target);
  LinesOf(target);  // the lines the write changes, numbered as the keys' list numbers them
  QString text;
  text.reserve(key.size() + value.size() + kLineEnd.size() + 1);
  text.append(key).append(u'=').append(value).append(kLineEnd);
  const QByteArray line = Encode(text);
  TFoldedName name;
  FoldName(key, name);
  const TKey* keyLine = FindKey(target, name);
  if (keyLine == nullptr) {
    InsertKey(target, name, line);
    return;
  }
  QByteArray& existing = target.Lines[keyLine->Line];
  if (existing == line) return;
  existing = line;
  FChanged = true;
}

QByteArray TProfileFile::Content() {
  Load(false);
  qsizetype size = FByteOrderMark.size();
  for (const TSection& section : FSections) {
    if (!section.Split) size += section.End - section.Begin;
    for (const QByteArray& line : section.Lines) size += line.size();
  }
  QByteArray bytes;
  bytes.reserve(size);
  bytes += FByteOrderMark;
  for (const TSection& section : FSections) AppendBytes(section, bytes);
  return bytes;
}

void TProfileFile::UpdateFile() {
  if (!FChanged) return;
  if (!SaveFileContent(FFileName, Content())) RaiseWriteError(FFileName);
  FChanged = false;
}
