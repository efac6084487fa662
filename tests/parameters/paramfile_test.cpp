// Parameter files: the exact bytes written, every other line of a file kept, tolerant reading,
// and a save that replaces the whole file at once or leaves the old one exactly as it was.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <random>
#include <unistd.h>

#include "globals/errors.h"
#include "parameters/paramfile.h"

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

  void SaveKeepsEverythingElse() {
    const QString name = Path("mixed.pset");
    const QByteArray before =
        "\xEF\xBB\xBF; made by hand\r\n[Other]\r\nP=keep\r\n\r\n  [ zirvparam ]  \n";
    const QByteArray after = "; about Last\r\n\r\n[Last]\r\nx=1";
    WriteBytes(name, before + "  p = 1 \nExtra=stay\r\nmaxoutput=7\r\n" + after);
    WriteParamFile(name, SampleValues());
    // Present keys are replaced in place, missing ones added at the end of their section.
    const QByteArray missing =
        kSampleKeys.mid(kSampleKeys.indexOf("I=")).replace("MaxOutput=95\r\n", "");
    QCOMPARE(ReadBytes(name), before + "P=0.5\r\nExtra=stay\r\nMaxOutput=95\r\n" + missing + after);
  }

  void LoadToleratesWhatHandsAndAccidentsLeave() {
    // Without the section, and from garbage or a missing file, every key has its default.
    const QByteArray noSection[] = {"[Other]\r\nMaxOutput=7\r\n", "MaxOutput=7\r\n[ZIRVParam]\n",
                                    QByteArray("\x00\xff[\x01=\x02\n\r\r=\n]]\xfe", 16), {}};
    for (const QByteArray& content : noSection) {
      const QString name = Path("plain.pset") + QString::number(content.size());
      if (!content.isEmpty()) WriteBytes(name, content);
      QCOMPARE(ReadParamFile(name)[4].Int, 95);
    }
    std::mt19937 rng(11);
    QByteArray garbage(100000, '\0');
    for (char& c : garbage) c = char(rng());
    garbage.replace('\n', 'x');
    const QByteArray odd = "\xEF\xBB\xBF[Other]\r\nI=9\r\n  [ zirvparam ]  \n;P=3\n I = 2.5 \nD=\n"
                           "maxoutput=0x1F\nFaultError=12abc\nTPSC=5.0\nSVMCycle=2\r\nSVMCycle=4\n";
    WriteBytes(Path("odd.pset"), odd + "J=" + QByteArray(2000000, 'a') + "\n" + garbage +
                                     "\nHallTimeout=9\n[Next]\nPhaseAdvance=2");
    const TParamFileValues v = ReadParamFile(Path("odd.pset"));
    QCOMPARE(v[0].Float, 0.0);  // a comment is no key
    QCOMPARE(v[1].Float, 2.5);  // spaces around "=" in a section of any case and spacing
    QCOMPARE(v[2].Float, 0.0);  // an empty value
    QCOMPARE(v[4].Int, 31);     // hex in a lower-case key
    QCOMPARE(v[7].Int, 1000);   // letters after the digits: the default
    QCOMPARE(v[9].Int, 4);      // float text in an integer key: the default
    QCOMPARE(v[10].Int, 9);     // after a very long line and random bytes
    QCOMPARE(v[12].Int, 0);     // in a later section
    QCOMPARE(v[13].Int, 2);     // the first of duplicate keys
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

  void FailedSaveKeepsTheOldFile() {
    const QByteArray old = "[ZIRVParam]\r\nP=7\r\n";
    QVERIFY(QDir(FDir.path()).mkdir("ro"));
    for (const char* name : {"plain", "ro.pset", "ro/x.pset"}) WriteBytes(Path(name), old);
    QFile::setPermissions(Path("ro.pset"), QFile::ReadOwner);
    QFile::setPermissions(Path("ro"), QFile::ReadOwner | QFile::ExeOwner);
    // As root, permission bits stop no write; /proc refuses new files even to root.
    const QString proc = geteuid() == 0 ? QStringLiteral("/proc/zirv-test.pset") : QString();
    for (const QString& name : {Path("no/such/x.pset"), Path("plain/x.pset"), FDir.path(),
                                proc.isEmpty() ? Path("ro.pset") : proc,
                                proc.isEmpty() ? Path("ro/x.pset") : proc}) {
      try {
        WriteParamFile(name, SampleValues());
        QFAIL(qPrintable("saved " + name));
      } catch (const Exception& e) {
        QCOMPARE(e.Message(), "Unable to write to " + name);
      }
      if (QFileInfo(name).isFile()) QCOMPARE(ReadBytes(name), old);
    }
    QCOMPARE(QDir(Path("ro")).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary
    QFile::setPermissions(Path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
  QTemporaryDir FDir;
};

QTEST_GUILESS_MAIN(ParamFileTest)
#include "paramfile_test.moc"
