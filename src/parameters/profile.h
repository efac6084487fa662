#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QVarLengthArray>
#include <cstdint>
#include <vector>

// An INI profile file: "[section]" headers and "key=value" lines. Reading matches section
// and key names without regard to case, trims blanks around names and values, removes one pair
// of matching double or single quotes around a value, takes the first of duplicate sections
// and keys and tolerates CR LF or LF line ends, a UTF-8 byte order mark and binary garbage.
// A file that starts with a UTF-16 byte order mark (either byte order) is read as UTF-16 and
// written back in it, so that its other lines keep their bytes. The file is read and scanned
// once, a section's keys listed (with a hash of each folded name) when first asked for, so a
// load or save of many keys costs about one pass over the file.
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

  // A key line of a section, for a reader that must know what a lookup passes over.
  struct TKeyLine {
    int Line = 0;    // in the file, counting from 1
    QString Key;     // as the line spells it
    QString Folded;  // as lookups compare it
    QString Value;   // as ReadString returns it
  };
  // A section with every key line it holds, the later ones of duplicate keys too.
  struct TSectionLines {
    int HeaderLine = 0;  // in the file, counting from 1
    std::vector<TKeyLine> Keys;
  };
  // Returns every section whose name matches section as ReadString matches it, in the order of
  // the file, each with all of its key lines.
  std::vector<TSectionLines> SectionsNamed(const QString& section);

 private:
  enum class TEncoding { Utf8, Utf16LE, Utf16BE };

  // A section or key name as lookups compare it: case-folded, with a hash of its units. An
  // ASCII name is folded without allocating; others go through QString::toCaseFolded.
  struct TFoldedName {
    QVarLengthArray<char16_t, 64> Units;
    uint32_t Hash = 0;
    QStringView View() const { return QStringView(Units.data(), Units.size()); }
    bool operator==(const TFoldedName& other) const {
      return Hash == other.Hash && View() == other.View();
    }
  };

  // A key line of an indexed section. A key that a write added keeps its name as asked
  // (folded) when its line does not read back as it, as a name with blanks or "=" would not.
  struct TKey {
    uint32_t Hash = 0;    // of the folded name
    int32_t Added = -1;   // the name's place in the section's AddedNames, if it is kept there
    size_t Line = 0;      // among the section's lines
    qsizetype Start = 0;  // where the line starts in FBytes, while the section is not Split
  };

  // A section: its header line, then every line up to the next header, each kept byte for byte
  // in the file's encoding with its own line end. The lines before the first header form a
  // section without a header that no lookup finds. A section stays a range of the file's
  // bytes until a write needs lines of its own; even then its unchanged lines point into the
  // file's bytes instead of copying them. A section's name is read from its header only when
  // a lookup compares it.
  struct TSection {
    qsizetype Begin = 0, End = 0;
    qsizetype NameBegin = 0, NameEnd = 0;  // the header's name in FBytes
    bool Split = false;
    bool Indexed = false;
    bool Added = false;  // appended by a write: its name as asked (folded) is AddedName
    std::vector<QByteArray> Lines;
    QString AddedName;
    std::vector<TKey> Keys;  // every key line in line order, listed on demand: the first wins
    std::vector<QString> AddedNames;  // of keys written whose lines do not read back as asked
    size_t LastKey = 0;               // the line of the section's last key, or its header
  };

  void Load(bool forWriting);
  // Takes a byte order mark off the file's start and sets the encoding it names.
  QByteArray TakeByteOrderMark(const QByteArray& bytes);
  void SplitSections();
  // Returns the section's lines, splitting its range of the file's bytes on first use.
  std::vector<QByteArray>& LinesOf(TSection& section) const;
  // Returns the section's range of the file's bytes (while it is not Split).
  QByteArrayView SectionBytes(const TSection& section) const;
  // Returns the line of the section's header, or of a key, without copying it.
  QByteArrayView HeaderLine(const TSection& section) const;
  QByteArrayView KeyLine(const TSection& section, const TKey& key) const;
  // Returns where the line starting at start ends, after its line feed.
  qsizetype NextLineStart(const QByteArray& bytes, qsizetype start) const;
  // Calls visit with the code units of a raw line (or of part of one, not line) as the file's
  // encoding makes them (TUnits).
  template <typename TVisit>
  auto WithUnits(QByteArrayView raw, TVisit&& visit, bool line = true) const;
  // Returns whether a raw line is a "[name]" header, as ProfileSection reads its text, and
  // where the bytes of its name are in it.
  bool HeaderName(QByteArrayView raw, qsizetype& begin, qsizetype& end) const;
  // Returns whether the section's name folds to name.
  bool HeaderMatches(const TSection& section, const TFoldedName& name) const;
  // Reads the folded key name of a raw line; returns false for a line that is no key line
  // (as ProfileKeyValue decides).
  bool KeyName(QByteArrayView raw, TFoldedName& name, bool hashOnly = false) const;
  // Folds the name in raw's bytes [begin, end), set off by ASCII bytes, from their decoded text;
  // returns false for a name that must be read from the decoded line.
  bool FoldDecodedName(QByteArrayView raw, qsizetype begin, qsizetype end,
                       TFoldedName& name) const;
  // Folds a name as QString::toCaseFolded does.
  static void FoldName(QStringView text, TFoldedName& name);
  // Folds part, a view of text, into name; text is used up.
  static void FoldPart(QString text, QStringView part, TFoldedName& name);
  // Folds a decoded name into name; text is used up.
  static void FoldDecoded(QString text, TFoldedName& name);
  QString Decode(QByteArrayView raw) const;
  QByteArray Encode(QStringView text) const;
  // Ends a raw line with a line end unless it has one (the file's last line may lack it).
  void CloseLine(QByteArray& raw) const;
  TSection* FindSection(const QString& section);
  TSection& AppendSection(const QString& section);
  // Calls visit(index, start, raw) for each line of the section: its place among the section's
  // lines, where it starts in FBytes (0 once the section is Split) and its bytes.
  template <typename TVisit>
  void ForEachLine(const TSection& section, TVisit&& visit) const;
  // Lists the section's key lines on its first use.
  void IndexKeys(TSection& section) const;
  // Returns the section's first key of the name, or nullptr.
  const TKey* FindKey(const TSection& section, const TFoldedName& name) const;
  void AppendBytes(const TSection& section, QByteArray& bytes) const;
  void InsertKey(TSection& section, const TFoldedName& name, const QByteArray& line);

  QString FFileName;
  bool FGiven = false;  // the content was given, not to be read from the file
  TEncoding FEncoding = TEncoding::Utf8;
  QByteArray FByteOrderMark;
  QByteArray FBytes;  // the file as read, without its byte order mark
  std::vector<TSection> FSections;
  // FindSection's last lookup: the name as asked, and the section it found (0 for none, as
  // the lines before the first header are no section a lookup finds).
  bool FLastAsked = false;
  QString FLastSectionName;
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
