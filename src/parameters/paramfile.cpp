#include "parameters/paramfile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "parameters/profile.h"

namespace {

// The section's name and the table's key names as the profile is asked for them, made once:
// a load asks for every key of every file.
const QString& ParamSection() {
  static const QString section = QString::fromLatin1(kParamSection);
  return section;
}

const std::array<QString, kParamCount>& FileKeys() {
  static const std::array<QString, kParamCount> keys = [] {
    std::array<QString, kParamCount> names;
    for (size_t k = 0; k < names.size(); ++k)
      names[k] = QString::fromLatin1(ParamTable()[k].FileKey);
    return names;
  }();
  return keys;
}

// Reads a key's value text as the window's Open reads it; returns false, leaving value as it
// was, where the window takes the key's default.
bool ReadValueText(const TParamRow& row, QStringView text, TParamFileValue& value) {
  return row.FileFloat ? TryReadNumber(text, value.Float) : ReadIntKey(text, value.Int);
}

void WriteParamValues(TProfileFile& file, const TParamFileValues& values) {
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    const TParamRow& row = table[k];
    // Float keys hold the tool's number text, integer keys plain decimal ("-" when negative).
    const QString text = row.FileFloat ? FormatNumber(values[k].Float)
                                       : QString::number(values[k].Int);
    file.WriteString(ParamSection(), FileKeys()[k], text);
  }
}

}  // namespace

bool ReadIntKey(QStringView text, int32_t& value) { return TryReadInt32(text, value); }

TParamFileValues DefaultParamFileValues() {
  TParamFileValues values;
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    values[k].Float = table[k].FileDefault;
    values[k].Int = int32_t(table[k].FileDefault);
  }
  return values;
}

void WriteParamFile(const QString& fileName, const TParamFileValues& values) {
  TProfileFile file(fileName);
  WriteParamValues(file, values);
  file.UpdateFile();
}

QByteArray ParamFileContent(const QString& fileName, const QByteArray& old, const TParamFileValues& values) {
  TProfileFile file(fileName, old);
  WriteParamValues(file, values);
  return file.Content();
}

TParamFileValues ReadParamFile(const QString& fileName) {
  TProfileFile file(fileName);
  return ReadParamValues(file);
}

TParamFileValues ReadParamValues(TProfileFile& file) {
  TParamFileValues values = DefaultParamFileValues();
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k)
    ReadValueText(table[k], file.ReadString(ParamSection(), FileKeys()[k], {}), values[k]);
  return values;
}

namespace {

using TKeyLine = TProfileFile::TKeyLine;

// A refusal of a file, at a line of it when line > 0.
TFailure FileFailure(const QString& fileName, int line, const QString& message,
                     const QString& explanation = {}) {
  const QString where = line > 0 ? QStringLiteral("%1:%2").arg(fileName).arg(line) : fileName;
  return {where + QStringLiteral(": ") + message, explanation};
}

// Reads the whole file, refusing what is no regular file or larger than a parameter file can be.
TResult<QByteArray> ReadBounded(const QString& fileName) {
  const QFileInfo info(fileName);
  if (!info.exists()) return FileFailure(fileName, 0, QStringLiteral("no such file"));
  if (!info.isFile()) return FileFailure(fileName, 0, QStringLiteral("not a regular file"));
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return FileFailure(fileName, 0, file.errorString());
  // Up to one byte over the largest size, so that a larger file shows as larger: a read of the
  // largest size itself would make room for a megabyte on every file.
  QByteArray bytes = file.read(std::min(info.size(), kMaxParamFileBytes) + 1);
  if (bytes.size() > kMaxParamFileBytes)
    return FileFailure(fileName, 0, QStringLiteral("larger than a parameter file can be (%1 bytes at most)")
                                        .arg(kMaxParamFileBytes));
  return bytes;
}

// Returns the row of the parameter table whose key a folded key name is, or -1.
int RowOfKey(const QString& folded) {
  static const std::array<QString, kParamCount> keys = [] {
    std::array<QString, kParamCount> names;
    for (size_t k = 0; k < names.size(); ++k) names[k] = FileKeys()[k].toCaseFolded();
    return names;
  }();
  const auto it = std::find(keys.begin(), keys.end(), folded);
  return it == keys.end() ? -1 : int(it - keys.begin());
}

const QString kNothingFromAWindowDefault =
    QStringLiteral("A value the file does not give is never written to a board.");

TFailure NotANumber(const QString& fileName, const TParamRow& row, const TKeyLine& line) {
  const QString what = line.Value.isEmpty()
                           ? QStringLiteral("%1 has no value").arg(line.Key)
                           : QStringLiteral("%1: \"%2\" is no %3").arg(line.Key, line.Value,
                                 row.FileFloat ? QStringLiteral("number") : QStringLiteral("32-bit integer"));
  return FileFailure(fileName, line.Line, what,
                     QStringLiteral("The window's \"Open Parameters\" would load %1 in its place without a "
                                    "word. %2 A value stands alone after \"=\": a note goes on a line of its "
                                    "own, starting with \";\", and \".\" is the decimal point.")
                         .arg(FormatNumber(row.FileDefault), kNothingFromAWindowDefault));
}

// Finds the line of each of the fourteen keys in the section; refuses a key given twice.
TResult<std::array<const TKeyLine*, kParamCount>> KeyLinesOf(const QString& fileName,
                                                    const TProfileFile::TSectionLines& section) {
  std::array<const TKeyLine*, kParamCount> lines{};
  for (const TKeyLine& key : section.Keys) {
    const int row = RowOfKey(key.Folded);
    if (row < 0) continue;
    if (lines[size_t(row)] != nullptr)
      return FileFailure(fileName, key.Line,
                         QStringLiteral("%1 again; the key is on line %2 already").arg(key.Key).arg(lines[size_t(row)]->Line),
                         QStringLiteral("The window would take the first and pass over this one; which of "
                                        "them is meant, the file does not say. Keep one line for each key."));
    lines[size_t(row)] = &key;
  }
  return lines;
}

}  // namespace

TResult<TParamFileValues> ReadParamFileStrictly(const QString& fileName) {
  TResult<QByteArray> bytes = ReadBounded(fileName);
  if (!bytes) return bytes.Failure();
  TProfileFile file(fileName, std::move(bytes).Value());
  const std::vector<TProfileFile::TSectionLines> sections = file.SectionsNamed(ParamSection());
  const auto isParameterKey = [](const TKeyLine& key) { return RowOfKey(key.Folded) >= 0; };
  if (sections.empty() || std::none_of(sections.front().Keys.begin(), sections.front().Keys.end(), isParameterKey))
    return FileFailure(fileName, 0, QStringLiteral("not a parameter file: no section [%1] with a parameter key")
                                        .arg(ParamSection()));
  if (sections.size() > 1)
    return FileFailure(fileName, sections[1].HeaderLine,
                       QStringLiteral("a second section [%1]; the first is on line %2")
                           .arg(ParamSection()).arg(sections[0].HeaderLine),
                       QStringLiteral("The window would read the first and pass over this one; which of them "
                                      "holds the values meant, the file does not say. Keep one section [%1].")
                           .arg(ParamSection()));
  const TResult<std::array<const TKeyLine*, kParamCount>> lines = KeyLinesOf(fileName, sections.front());
  if (!lines) return lines.Failure();
  TParamFileValues values = DefaultParamFileValues();
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    const TKeyLine* line = (*lines)[k];
    if (line == nullptr)
      return FileFailure(fileName, sections.front().HeaderLine,
                         QStringLiteral("[%1] has no key %2").arg(ParamSection(), FileKeys()[k]),
                         QStringLiteral("The window's \"Open Parameters\" would load %1 as %2 without a word. "
                                        "%3 Add a line %1=VALUE to the section.")
                             .arg(FileKeys()[k], FormatNumber(table[k].FileDefault), kNothingFromAWindowDefault));
    if (!ReadValueText(table[k], line->Value, values[k])) return NotANumber(fileName, table[k], *line);
  }
  return values;
}
