#include "parameters/paramfile.h"

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
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    const TParamRow& row = table[k];
    // Float keys hold the tool's number text, integer keys plain decimal ("-" when negative).
    const QString text = row.FileFloat ? FormatNumber(values[k].Float)
                                       : QString::number(values[k].Int);
    file.WriteString(ParamSection(), FileKeys()[k], text);
  }
  file.UpdateFile();
}

TParamFileValues ReadParamFile(const QString& fileName) {
  TProfileFile file(fileName);
  return ReadParamValues(file);
}

TParamFileValues ReadParamValues(TProfileFile& file) {
  TParamFileValues values = DefaultParamFileValues();
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) {
    const QString text = file.ReadString(ParamSection(), FileKeys()[k], {});
    // A failed read leaves the default in place.
    if (table[k].FileFloat)
      TryReadNumber(text, values[k].Float);
    else
      ReadIntKey(text, values[k].Int);
  }
  return values;
}
