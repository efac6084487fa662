#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringView>
#include <vector>

// An INI profile file: "[section]" headers and "key=value" lines. Reading matches section
// and key names without regard to case, trims blanks around names and values, removes one pair
// of matching double or single quotes around a value, takes the first of duplicate sections
// and keys and tolerates CR LF or LF line ends, a UTF-8 byte order mark and binary garbage.
// A file that starts with a UTF-16 byte order mark (either byte order) is read as UTF-16 and
// written back in it, so that its other lines keep their bytes. The file is read and scanned
// once, a section's keys indexed when first asked for, so a load or save of many keys costs
// about one pass over the file.
// Writing changes values in memory; UpdateFile then replaces the whole file at once, so a
// failure never leaves a half-written file. Lines the writes do not touch keep their bytes.
class TProfileFile {
 public:
  // Opens a profile object for fileName; the file is read on first use.
  explicit TProfileFile(QString fileName);
  // Opens a profile object over content, read exactly as the file's bytes would be; fileName
  // names it in errors and is where UpdateFile writes. The file itself is never read.
  TProfileFile(QString fileName, QByteArray content);

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
  enum class TEncoding { Utf8, Utf16LE, Utf16BE };

  // A section: its header line, then every line up to the next header, each kept byte for byte
  // in the file's encoding with its own line end. The lines before the first header form a
  // section without a header that no lookup finds. A section stays a range of the file's
  // bytes, read through the starts of its lines, until a write needs lines of its own.
  struct TSection {
    qsizetype Begin = 0, End = 0;
    std::vector<qsizetype> Starts;  // where each line starts in FBytes, while not Split
    bool Split = false;
    std::vector<QByteArray> Lines;
    QHash<QString, qsizetype> Keys;  // case-folded key name -> its first line; built on demand
    qsizetype LastKey = 0;           // the line of the section's last key, or its header
    bool Indexed = false;
  };

  void Load(bool forWriting);
  // Takes a byte order mark off the file's start and sets the encoding it names.
  QByteArray TakeByteOrderMark(const QByteArray& bytes);
  void SplitSections();
  // Returns the section's lines, splitting its range of the file's bytes on first use.
  std::vector<QByteArray>& LinesOf(TSection& section) const;
  // Returns the number of lines of the section, finding where they start on first use.
  size_t LineCount(TSection& section) const;
  // Returns line k of the section (k < LineCount) without copying it.
  QByteArrayView LineAt(const TSection& section, size_t k) const;
  // Returns where the line starting at start ends, after its line feed.
  qsizetype NextLineStart(const QByteArray& bytes, qsizetype start) const;
  // Returns false for a raw line that cannot be a section header.
  bool MayBeHeader(QByteArrayView raw) const;
  QString Decode(QByteArrayView raw) const;
  QByteArray Encode(QStringView text) const;
  // Ends a raw line with a line end unless it has one (the file's last line may lack it).
  void CloseLine(QByteArray& raw) const;
  TSection* FindSection(const QString& section);
  TSection& AppendSection(const QString& section);
  // Fills the section's key index on its first use.
  void IndexKeys(TSection& section) const;
  void AppendBytes(const TSection& section, QByteArray& bytes) const;
  void InsertKey(TSection& section, const QString& key, const QByteArray& line);

  QString FFileName;
  bool FGiven = false;  // the content was given, not to be read from the file
  TEncoding FEncoding = TEncoding::Utf8;
  QByteArray FByteOrderMark;
  QByteArray FBytes;  // the file as read, without its byte order mark
  std::vector<TSection> FSections;
  QHash<QString, size_t> FSectionIndex;  // case-folded section name -> its first section
  bool FLastFound = false;               // FindSection's last hit: the name as asked, and
  QString FLastSectionName;              // the section it found
  size_t FLastSection = 0;
  bool FLoaded = false;
  bool FChanged = false;
};

// Raises the profile layer's one error, Exception "Unable to write to <fileName>".
[[noreturn]] void RaiseWriteError(const QString& fileName);

// Returns whether line is a "[name]" header (blanks around the name allowed) and its name.
bool ProfileSection(QStringView line, QString& name);

// Splits a "key=value" line into its trimmed key and value; returns false for other lines
// (comments starting with ";", headers, lines without "=" or with an empty key).
bool ProfileKeyValue(QStringView line, QString& key, QString& value);
