#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <vector>

// An INI profile file: "[section]" headers and "key=value" lines. Reading matches section
// and key names without regard to case, trims blanks around names and values, takes the first
// of duplicate sections and keys and tolerates CR LF or LF line ends, a UTF-8 byte order mark
// and binary garbage. Writing changes values in memory; UpdateFile then replaces the whole
// file at once, so a failure never leaves a half-written file. Lines the writes do not touch
// keep their bytes exactly.
class TProfileFile {
 public:
  // Opens a profile object for fileName; the file is read on first use.
  explicit TProfileFile(QString fileName);

  // Returns the value of key in section, or defaultValue when either is absent.
  QString ReadString(const QString& section, const QString& key, const QString& defaultValue);

  // Sets key in section to value: an existing key's line is replaced in place, a missing key
  // is added after the section's last key, a missing section is appended to the file.
  // Raises Exception "Unable to write to <file>" when an existing file cannot be read.
  void WriteString(const QString& section, const QString& key, const QString& value);

  // Writes the content to the file as a whole (SaveFileContent). Does nothing when nothing
  // changed. Raises Exception "Unable to write to <file>" on failure; the old file is then
  // left as it was.
  void UpdateFile();

  // Returns the file's bytes as they would be written now.
  QByteArray Content();

 private:
  // One line of the file with its own line end, kept byte for byte unless a write changes it.
  struct TLine {
    QByteArray Raw;
  };

  void Load(bool forWriting);
  void SplitLines(const QByteArray& bytes);
  [[noreturn]] void RaiseWriteError() const;
  qsizetype FindSection(const QString& section) const;
  qsizetype FindKey(qsizetype sectionLine, const QString& key) const;
  qsizetype LastKeyOfSection(qsizetype sectionLine) const;
  void InsertLine(qsizetype index, const QByteArray& text);

  QString FFileName;
  std::vector<TLine> FLines;
  bool FLoaded = false;
  bool FChanged = false;
};

// Returns whether line is a "[name]" header (blanks around the name allowed) and its name.
bool ProfileSection(QStringView line, QString& name);

// Splits a "key=value" line into its trimmed key and value; returns false for other lines
// (comments starting with ";", headers, lines without "=" or with an empty key).
bool ProfileKeyValue(QStringView line, QString& key, QString& value);
