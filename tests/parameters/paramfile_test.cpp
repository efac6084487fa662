// Parameter files: the exact bytes written, every other line of a file kept in its encoding,
// tolerant reading, and a save that replaces the whole file at once (in place where it must)
// or leaves the old one exactly as it was.
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <fcntl.h>
#include <linux/fs.h>
#include <random>
#include <sys/ioctl.h>
#include <unistd.h>

#include "globals/errors.h"
#include "parameters/paramfile.h"
#include "parameters/profile.h"
#include "tests/filelimits.h"

namespace {

QByteArray ReadBytes(const QString& name) {
  QFile file(name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteBytes(const QString& name, const QByteArray& bytes) {
  QFile file(name);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// A value of every kind in table order: E forms, 15 digits, both ends of the integer range.
TParamFileValues SampleValues() {
  TParamFileValues values = DefaultParamFileValues();
  const double floats[] = {0.5, 0.00001, 1.0 / 3, 12, 0, -0.000012345, 1e15};
  const int32_t ints[] = {0, 0, 0, 0, 95, 0, 0, INT32_MIN, INT32_MAX, 4, 50, 1, 1023, 3};
  for (size_t k = 0; k < values.size(); ++k) {
    values[k].Float = k < 7 ? floats[k] : 0;
    values[k].Int = ints[k];
  }
  return values;
}

const QByteArray kSampleKeys =
    "P=0.5\r\nI=1E-5\r\nD=0.333333333333333\r\nDeadband=12\r\nMaxOutput=95\r\n"
    "FF0=-1.2345E-5\r\nFF1=1E15\r\nFaultError=-2147483648\r\nStepMultiplier=2147483647\r\n"
    "TPSC=4\r\nHallTimeout=50\r\nChargeElcos=1\r\nPhaseAdvance=1023\r\nSVMCycle=3\r\n";

// The UTF-8 text as UTF-16 with its byte order mark, in the given byte order.
QByteArray Utf16(const QByteArray& utf8, bool littleEndian) {
  const QString text = QString::fromUtf8(utf8);
  QByteArray bytes(text.size() * 2, Qt::Uninitialized);
  if (littleEndian)
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data());
  else
    qToBigEndian<char16_t>(text.utf16(), text.size(), bytes.data());
  return (littleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF")) + bytes;
}

// Returns the error text of saving values into name, or an empty text when it saved.
QString SaveError(const QString& name) {
  try {
    WriteParamFile(name, SampleValues());
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

// Sets or clears a file's or folder's immutable flag, which stops even root from changing it
// (or, on a folder, from adding or removing names in it).
bool SetImmutable(const QString& path, bool on) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return done;
}

// Makes a file or folder unwritable while it lives. Permission bits stop anyone but root; for
// root the immutable flag does it, where the file system and the process's rights allow.
class TUnwritable {
 public:
  explicit TUnwritable(QString path)
      : FPath(std::move(path)), FPermissions(QFile::permissions(FPath)) {
    if (FPath.isEmpty()) return;
    const auto writeBits = QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup |
                           QFile::WriteOther;
    FActive = geteuid() == 0 ? SetImmutable(FPath, true)
                             : QFile::setPermissions(FPath, FPermissions & ~writeBits);
  }
  ~TUnwritable() {
    if (!FActive) return;
    if (geteuid() == 0) SetImmutable(FPath, false);
    QFile::setPermissions(FPath, FPermissions);
  }
  bool Active() const { return FActive; }

 private:
  QString FPath;
  QFile::Permissions FPermissions;
  bool FActive = false;
};

}  // namespace

class ParamFileTest : public QObject {
  Q_OBJECT

 private slots:
  void NewFileHasExactBytesAndLoadsBack() {
    WriteParamFile(Path("new.pset"), SampleValues());
    QCOMPARE(ReadBytes(Path("new.pset")), "[ZIRVParam]\r\n" + kSampleKeys);
    WriteParamFile(Path("again.pset"), ReadParamFile(Path("new.pset")));  // the same values
    QCOMPARE(ReadBytes(Path("again.pset")), ReadBytes(Path("new.pset")));
  }

  // A file as hands and other programs leave it, in each encoding the reader knows: present
  // keys are replaced in place, missing ones added at the end of their section, and a missing
  // section at the end of the file; every other byte stays.
  void SaveKeepsEverythingElse_data() {
    QTest::addColumn<int>("encoding");
    QTest::newRow("UTF-8 with its byte order mark") << 0;
    QTest::newRow("UTF-16 little-endian kept as such") << 1;
    QTest::newRow("UTF-16 big-endian kept as such") << 2;
  }
  void SaveKeepsEverythingElse() {
    QFETCH(int, encoding);
    const auto encode = [encoding](const QByteArray& utf8) {
      return encoding == 0 ? "\xEF\xBB\xBF" + utf8 : Utf16(utf8, encoding == 1);
    };
    const QString name = Path("mixed.pset");
    const QByteArray before = "; made by hand\r\n[Other]\r\nP=keep\r\n\r\n  [ zirvparam ]  \n";
    const QByteArray after = "; about Last\r\n\r\n[Last]\r\nx=1";
    WriteBytes(name, encode(before + "  p = 1 \nExtra=stay\r\nmaxoutput=7\r\n" + after));
    WriteParamFile(name, SampleValues());
    const QByteArray missing =
        kSampleKeys.mid(kSampleKeys.indexOf("I=")).replace("MaxOutput=95\r\n", "");
    QCOMPARE(ReadBytes(name),
             encode(before + "P=0.5\r\nExtra=stay\r\nMaxOutput=95\r\n" + missing + after));

    WriteBytes(name, encode("[Other]\r\nx=1"));  // the last line without its line end
    WriteParamFile(name, SampleValues());
    QCOMPARE(ReadBytes(name), encode("[Other]\r\nx=1\r\n\r\n[ZIRVParam]\r\n" + kSampleKeys));
    QCOMPARE(ReadParamFile(name)[0].Float, 0.5);
  }

  // Value texts as a hand-edited or foreign file holds them (within the section "ZIRVParam").
  void LoadReadsValueTexts_data() {
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("expected");
    QTest::newRow("double quotes are removed") << QByteArray("D=\"0.75\"") << 0 << 2 << 0.75;
    QTest::newRow("single quotes are removed") << QByteArray("D = ' 0.75 ' ") << 0 << 2 << 0.75;
    QTest::newRow("quotes around hex") << QByteArray("MaxOutput=\"0x1F\"") << 0 << 4 << 31.0;
    QTest::newRow("unmatched quotes: default") << QByteArray("MaxOutput=\"90'") << 0 << 4 << 95.0;
    QTest::newRow("a lone quote: default") << QByteArray("MaxOutput=\"") << 0 << 4 << 95.0;
    QTest::newRow("empty quotes: default") << QByteArray("MaxOutput=''") << 0 << 4 << 95.0;
    QTest::newRow("comma decimal: default") << QByteArray("P=1,5") << 0 << 0 << 0.0;
    QTest::newRow("UTF-16 little-endian") << QByteArray("x=1\r\nI=2.5\r\n") << 1 << 1 << 2.5;
    QTest::newRow("UTF-16 big-endian") << QByteArray("maxoutput=\"7\"") << 2 << 4 << 7.0;
  }
  void LoadReadsValueTexts() {
    QFETCH(QByteArray, lines);
    QFETCH(int, encoding);
    QFETCH(int, index);
    const QByteArray text = "[Other]\r\nD=9\r\n[ZIRVParam]\r\n" + lines + "\r\n[Next]\r\nD=8\r\n";
    WriteBytes(Path("value.pset"), encoding == 0 ? text : Utf16(text, encoding == 1));
    const TParamFileValue v = ReadParamFile(Path("value.pset"))[size_t(index)];
    QTEST(index == 4 ? double(v.Int) : v.Float, "expected");
  }

  // The strict reader of the companion takes every value text the window's Open takes and
  // refuses, naming the line and the key, wherever the Open would load a default or pass a
  // line over.
  void StrictReadRefusesWhatTheWindowWouldDefault_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("utf16");
    QTest::addColumn<QString>("refusal");  // after the file's name; "" when the file is read
    const QByteArray whole = "[ZIRVParam]\r\n" + kSampleKeys;
    const auto with = [&](const char* from, const char* to) { return QByteArray(whole).replace(from, to); };
    QTest::newRow("every key") << whole << false << "";
    QTest::newRow("every key, UTF-16") << whole << true << "";
    QTest::newRow("as hands write it")
        << "; set for line 3\r\n[Other]\r\nP=9\r\n [ zirvparam ] \r\nCustom=1\r\n" +
               QByteArray(kSampleKeys).replace("P=0.5", "p = '0.5'").replace("MaxOutput=95", "maxoutput=\"0x5F\"")
        << false << "";
    QTest::newRow("a note after a value")
        << with("MaxOutput=95", "MaxOutput=50 ; never above 50 on this rig") << false
        << ":6: MaxOutput: \"50 ; never above 50 on this rig\" is no 32-bit integer";
    QTest::newRow("a note after a value, UTF-16")
        << with("MaxOutput=95", "MaxOutput=50 ; never above 50") << true
        << ":6: MaxOutput: \"50 ; never above 50\" is no 32-bit integer";
    QTest::newRow("a decimal comma") << with("P=0.5", "P=0,3") << false << ":2: P: \"0,3\" is no number";
    QTest::newRow("an empty value") << with("D=0.333333333333333", "D=") << false << ":4: D has no value";
    QTest::newRow("beyond 32 bits") << with("TPSC=4", "TPSC=2147483648") << false
                                    << ":11: TPSC: \"2147483648\" is no 32-bit integer";
    QTest::newRow("beyond a double") << with("FF1=1E15", "FF1=1E999") << false << ":8: FF1: \"1E999\" is no number";
    QTest::newRow("one key alone") << QByteArray("[ZIRVParam]\r\nP=0.3\r\n") << false
                                   << ":1: [ZIRVParam] has no key I";
    QTest::newRow("a key twice in another case") << whole + "tpsc=5\r\n" << false
                                                 << ":16: tpsc again; the key is on line 11 already";
    QTest::newRow("the section twice") << whole + "[zirvparam]\r\nP=0.3\r\n" << false
                                       << ":16: a second section [ZIRVParam]; the first is on line 1";
    QTest::newRow("keys in another section") << QByteArray("[Other]\r\n" + kSampleKeys) << false
                                             << ": not a parameter file: no section [ZIRVParam] with a parameter key";
  }
  void StrictReadRefusesWhatTheWindowWouldDefault() {
    QFETCH(QByteArray, content);
    QFETCH(bool, utf16);
    QFETCH(QString, refusal);
    const QString name = Path("strict.pset");
    WriteBytes(name, utf16 ? Utf16(content, true) : content);
    const TResult<TParamFileValues> read = ReadParamFileStrictly(name);
    if (!refusal.isEmpty()) {
      QVERIFY(!read);
      QCOMPARE(read.Failure().Message, name + refusal);
      QVERIFY(read.Failure().Explanation.contains("never written to a board") ||
              read.Failure().Explanation.contains("the file does not say") || refusal.contains("not a parameter file"));
      return;
    }
    if (!read) QFAIL(qPrintable(read.Failure().Message));
    const TParamFileValues window = ReadParamFile(name);  // what the window's Open loads
    for (size_t k = 0; k < window.size(); ++k) {
      QCOMPARE((*read)[k].Float, window[k].Float);
      QCOMPARE((*read)[k].Int, window[k].Int);
    }
  }

  void LoadToleratesWhatHandsAndAccidentsLeave() {
    // Without the section, and from garbage, a folder or a missing file, every key has its
    // default.
    const char binary[] = "\x00\xff[\x01=\x02\n\r\r=\n]]\xfe";
    const QByteArray noSection[] = {"[Other]\r\nMaxOutput=7\r\n", "MaxOutput=7\r\n[ZIRVParam]\n",
                                    QByteArray(binary, sizeof binary - 1), {}};
    for (const QByteArray& content : noSection) {
      const QString name = Path("plain.pset") + QString::number(content.size());
      if (!content.isEmpty()) WriteBytes(name, content);
      QCOMPARE(ReadParamFile(name).at(RowIndexOf("MaxOutput")).Int, 95);
    }
    QCOMPARE(ReadParamFile(FDir.path()).at(RowIndexOf("MaxOutput")).Int, 95);
    std::mt19937 rng(11);
    QByteArray garbage(100000, '\0');
    for (char& c : garbage) c = char(rng());
    garbage.replace('\n', 'x');
    const QByteArray odd = "\xEF\xBB\xBF[Other]\r\nI=9\r\n  [ zirvparam ]  \n;P=3\n I = 2.5 \nD=\n"
                           "maxoutput=0x1F\nFaultError=12abc\nTPSC=5.0\nSVMCycle=2\r\nSVMCycle=4\n";
    WriteBytes(Path("odd.pset"), odd + "J=" + QByteArray(2000000, 'a') + "\n" + garbage +
                                     "\nHallTimeout=9\n[Next]\nPhaseAdvance=2");
    const TParamFileValues v = ReadParamFile(Path("odd.pset"));
    const auto at = [&](const char* key) { return v.at(RowIndexOf(key)); };
    QCOMPARE(at("P").Float, 0.0);          // a comment is no key
    QCOMPARE(at("I").Float, 2.5);          // spaces around "=" in a section of any case and spacing
    QCOMPARE(at("D").Float, 0.0);          // an empty value
    QCOMPARE(at("MaxOutput").Int, 31);     // hex in a lower-case key
    QCOMPARE(at("FaultError").Int, 1000);  // letters after the digits: the default
    QCOMPARE(at("TPSC").Int, 4);           // float text in an integer key: the default
    QCOMPARE(at("HallTimeout").Int, 9);    // after a very long line and random bytes
    QCOMPARE(at("PhaseAdvance").Int, 0);   // in a later section
    QCOMPARE(at("SVMCycle").Int, 2);       // the first of duplicate keys
    // The same bytes handed over in memory read alike, in UTF-8 and in UTF-16.
    for (const QByteArray& bytes : {ReadBytes(Path("odd.pset")), Utf16(odd, true), Utf16(odd, false)}) {
      WriteBytes(Path("same.pset"), bytes);
      TProfileFile given(Path("none.pset"), bytes);
      const TParamFileValues fromBytes = ReadParamValues(given);
      const TParamFileValues fromFile = ReadParamFile(Path("same.pset"));
      for (size_t k = 0; k < fromFile.size(); ++k) {
        QCOMPARE(fromBytes[k].Float, fromFile[k].Float);
        QCOMPARE(fromBytes[k].Int, fromFile[k].Int);
      }
    }
  }

  // Name matching and line reading as the reader's rules say, in each encoding it knows: the
  // ASCII names it reads from the bytes and the others it decodes must fold alike.
  void ProfileLookups_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");  // "-" for the default
    const auto row = [](const char* name, const char* content, const char* section,
                        const char* key, const char* expected) {
      QTest::newRow(name) << QString::fromUtf8(content) << QString::fromUtf8(section)
                          << QString::fromUtf8(key) << QString::fromUtf8(expected);
    };
    row("key case differs in a non-ASCII letter", "[S]\n\u00C4=1\n\u00E4=2", "s", "\u00E4", "1");
    row("Kelvin sign folds to k", "[S]\n\u212A=1\nk=2", "S", "K", "1");
    row("long s folds to s", "[S]\n\u017F=1\ns=2", "S", "S", "1");
    row("asked name with a Kelvin sign", "[S]\nk=1", "s", "\u212A", "1");
    row("non-ASCII header in blanks", "  [ \u00C4rger ]  \nx=1", "\u00E4RGER", "X", "1");
    row("non-ASCII header after an equal ASCII prefix", "[ab\u00C4]\nx=1\n[abc]\nx=2", "ABC",
        "x", "2");
    row("header name longer than asked", "[abcd\u00C4]\nx=1\n[abc]\nx=2", "abc", "x", "2");
    row("first duplicate section wins", "[s]\nk=1\n[ S ]\nk=2", "S", "k", "1");
    row("first duplicate key wins", "[s]\n K = 1 \nk=2", "s", "k", "1");
    row("key with blanks inside", "[s]\na b = 1", "s", "A B", "1");
    row("comment is no key", "[s]\n;k=1", "s", ";k", "-");
    row("header-like line is no key", "[s]\n [k=1", "s", "[k", "-");
    row("blank key is no key", "[s]\n \t=1", "s", "", "-");
    row("only the first = splits", "[s]\nk==1=", "s", "k", "=1=");
    row("quotes around a non-ASCII value", "[s]\nk= '\u00E4 ' ", "s", "k", "\u00E4 ");
    row("byte order mark inside a key", "[s]\n k\uFEFF=1", "s", "k\uFEFF", "1");
    row("control characters trimmed", "\x01[\x02s\x03]\x04\n\x05k\x06=\x07v\x08", "s", "k", "v");
  }
  void ProfileLookups() {
    QFETCH(QString, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QByteArray utf8 = content.toUtf8();
    for (const QByteArray& bytes : {utf8, Utf16(utf8, true), Utf16(utf8, false)}) {
      TProfileFile profile(Path("none.pset"), bytes);
      QCOMPARE(profile.ReadString(section, key, QStringLiteral("-")), expected);
    }
  }

  // What only UTF-8 files hold: invalid bytes, read as they decode, and byte order marks
  // where lines start (of files joined together), taken off.
  void ProfileReadsUtf8Bytes() {
    const QByteArray content = "[s]\nk\xFF=1\nk=2\n\xEF\xBB\xBFm=5\n\xEF\xBB\xBF\xEF\xBB\xBFn=6\n"
                               "\xEF\xBB\xBF\xEF\xBB\xBF[t]\nk=3\n[\xC3\x84\xE2\x82]\nk=4\n";
    TProfileFile profile(Path("none.pset"), content);
    QCOMPARE(profile.ReadString("s", QString::fromUtf8("k\xFF"), "-"), "1");
    QCOMPARE(profile.ReadString("s", "k", "-"), "2");
    QCOMPARE(profile.ReadString("s", "M", "-"), "5");
    QCOMPARE(profile.ReadString("s", "N", "-"), "6");  // decoding takes a second mark off
    // Two marks before a "[": no header, the line belongs to the section before.
    QCOMPARE(profile.ReadString("t", "k", "-"), "-");
    QCOMPARE(profile.ReadString(QString::fromUtf8("\xC3\xA4\xE2\x82"), "k", "-"), "4");
  }

  // Writes keep the rules: a key written is found by its name as written, in any case, and a
  // line the write replaced reads back.
  void ProfileWritesReadBack() {
    const QByteArray content = "[S]\r\n\xC3\x84=1\r\nx=1";
    for (const QByteArray& bytes : {content, Utf16(content, true), Utf16(content, false)}) {
      TProfileFile profile(Path("none.pset"), bytes);
      profile.WriteString("s", QString::fromUtf8("\u00E4"), "2");
      profile.WriteString("s", " odd ", "3");
      profile.WriteString(QString::fromUtf8("N\u00C4"), "K", "4");
      profile.WriteString(QString::fromUtf8("n\u00E4"), QString::fromUtf8("\u212A"), "5");
      TProfileFile again(Path("none.pset"), profile.Content());
      for (TProfileFile* p : {&profile, &again}) {
        QCOMPARE(p->ReadString("S", QString::fromUtf8("\u00C4"), "-"), "2");
        QCOMPARE(p->ReadString(QString::fromUtf8("N\u00C4"), "k", "-"), "5");
      }
      // As written, blanks and all; read from the file's text, by its trimmed name.
      QCOMPARE(profile.ReadString("s", " ODD ", "-"), "3");
      QCOMPARE(again.ReadString("s", "odd", "-"), "3");
    }
  }

  void ReadIntKey() {
    const std::tuple<QString, bool, int32_t> cases[] = {
        {"95", true, 95}, {"  +7", true, 7}, {"007", true, 7},
        {"-2147483648", true, INT32_MIN}, {"2147483647", true, INT32_MAX},
        {"-2147483649", false, 0}, {"18446744073709551617", false, 0},  // no wrap-around
        {"$ff", true, 255}, {"x10", true, 16}, {"X10", true, 16}, {"0XaB", true, 171},
        {"-0x10", true, -16}, {"$FFFFFFFF", true, -1}, {"0x100000000", false, 0},
        {"0x", false, 0}, {"$0x1", false, 0}, {"1f", false, 0}, {"-", false, 0}, {"", false, 0},
        {"5 ", false, 0}, {"- 5", false, 0}, {QString::fromUtf8("\u0661"), false, 0},
    };
    for (const auto& [text, ok, expected] : cases) {
      int32_t value = 12345;  // stays when the text is refused
      QVERIFY2(::ReadIntKey(text, value) == ok, qPrintable(text));
      QCOMPARE(value, ok ? expected : 12345);
    }
  }

  // Each row works in a folder of its own: name is saved there after the file existing (if
  // any) got the old content and locked (if any) was made unwritable.
  void FailedSaveKeepsTheOldFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QString>("locked");
    QTest::newRow("missing folder") << "no/such/x.pset" << "" << "";
    QTest::newRow("folder path is a file") << "plain/x.pset" << "plain" << "";
    QTest::newRow("name is a folder") << "" << "" << "";
    QTest::newRow("read-only file") << "ro.pset" << "ro.pset" << "ro.pset";
    QTest::newRow("new file in a read-only folder") << "ro/x.pset" << "ro/y.pset" << "ro";
  }
  void FailedSaveKeepsTheOldFile() {
    QFETCH(QString, name);
    QFETCH(QString, existing);
    QFETCH(QString, locked);
    const QDir dir = RowFolder();
    const QByteArray old = "[ZIRVParam]\r\nP=7\r\n";
    if (!existing.isEmpty()) {
      QVERIFY(dir.mkpath(QFileInfo(existing).path()));
      WriteBytes(dir.filePath(existing), old);
    }
    const TUnwritable lock(locked.isEmpty() ? QString() : dir.filePath(locked));
    if (!locked.isEmpty() && !lock.Active()) QSKIP("cannot make a file unwritable here");
    const QString path = name.isEmpty() ? dir.path() : dir.filePath(name);
    QCOMPARE(SaveError(path), "Unable to write to " + path);
    if (!existing.isEmpty()) QCOMPARE(ReadBytes(dir.filePath(existing)), old);
    QCOMPARE(Entries(dir), existing.isEmpty() ? QStringList() : QStringList(existing));
  }

  // Where no temporary file can be made beside it, a writable file is written in place.
  void SaveInPlaceInAReadOnlyFolder_data() {
    QTest::addColumn<QByteArray>("old");
    QTest::newRow("the file grows") << QByteArray("[ZIRVParam]\r\nP=7\r\n");
    QTest::newRow("the file shrinks") << "[ZIRVParam]\r\nP=" + QByteArray(1000, '7') + "\r\n";
  }
  void SaveInPlaceInAReadOnlyFolder() {
    QFETCH(QByteArray, old);
    const QDir dir = RowFolder();
    const QString name = dir.filePath("x.pset");
    WriteBytes(name, old);
    const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(name, perms));
    const TUnwritable lock(dir.path());
    if (!lock.Active()) QSKIP("cannot make a folder unwritable here");
    QCOMPARE(SaveError(name), QString());
    QCOMPARE(ReadBytes(name), "[ZIRVParam]\r\n" + kSampleKeys);
    QCOMPARE(QFile::permissions(name) & 0x7077, perms);
    QCOMPARE(Entries(dir), QStringList(QStringLiteral("x.pset")));
  }

  // A full disk or a quota, here a limit on the size of files written: the save fails with
  // its error and leaves the old file byte for byte, or no file where there was none.
  void SaveOverASizeLimitKeepsTheOldFile_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("new file") << false << false;
    QTest::newRow("existing file") << true << false;
    QTest::newRow("existing file written in place") << true << true;
  }
  void SaveOverASizeLimitKeepsTheOldFile() {
    QFETCH(bool, exists);
    QFETCH(bool, readOnlyFolder);
    const QDir dir = RowFolder();
    const QString name = dir.filePath("x.pset");
    const QByteArray old = "[ZIRVParam]\r\nP=7\r\n; some words about this set\r\n";
    if (exists) WriteBytes(name, old);
    const TUnwritable lock(readOnlyFolder ? dir.path() : QString());
    if (readOnlyFolder && !lock.Active()) QSKIP("cannot make a folder unwritable here");
    {
      const TFileSizeLimit limit(100);  // the old file fits, the new one does not
      QCOMPARE(SaveError(name), "Unable to write to " + name);
    }
    QCOMPARE(ReadBytes(name), exists ? old : QByteArray());
    QCOMPARE(Entries(dir), exists ? QStringList(QStringLiteral("x.pset")) : QStringList());
  }

  void SaveKeepsPermissionsAndLinks() {
    QVERIFY(QDir(FDir.path()).mkpath("links"));
    const QString target = Path("links/target.pset"), link = Path("links/link.pset");
    WriteBytes(target, "[ZIRVParam]\r\nP=7\r\n");
    const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(target, perms) && QFile::link(target, link));
    WriteParamFile(link, SampleValues());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(ReadBytes(target), "[ZIRVParam]\r\n" + kSampleKeys);
    QCOMPARE(QFile::permissions(target) & 0x7077, perms);  // owner, group, other bits
    QCOMPARE(QDir(Path("links")).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
  }

 private:
  QString Path(const char* name) const { return FDir.filePath(QString::fromLatin1(name)); }
  // A new folder for the running data row.
  QDir RowFolder() const {
    const QString name = QString::fromLatin1(QTest::currentTestFunction()) + u'-' +
                         QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    QDir(FDir.path()).mkpath(name);
    return QDir(FDir.filePath(name));
  }
  // Every file below dir, hidden ones too (a temporary file left behind shows here).
  static QStringList Entries(const QDir& dir) {
    QStringList names;
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) names << dir.relativeFilePath(it.next());
    return names;
  }
  QTemporaryDir FDir;
};

QTEST_GUILESS_MAIN(ParamFileTest)
#include "paramfile_test.moc"
