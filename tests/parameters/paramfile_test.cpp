#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>
#include <unistd.h>

#include "globals/errors.h"
#include "parameters/paramfile.h"
#include "parameters/profile.h"

namespace {

QByteArray ReadBytes(const QString& name) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

void WriteBytes(const QString& name, const QByteArray& bytes) {
  QFile file(name);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// A set with a value of every interesting kind, in table order.
TParamFileValues SampleValues() {
  TParamFileValues values = DefaultParamFileValues();
  const double floats[] = {0.5, 0.00001, 1.0 / 3, 12, 0, -0.000012345, 1e15};
  const int32_t ints[] = {0, 0, 0, 0, 95, 0, 0, 1000, -3, 4, 50, 1, 1023, 3};
  for (size_t k = 0; k < values.size(); ++k) {
    if (values[k].IsFloat) values[k].Float = floats[k];
    if (!values[k].IsFloat) values[k].Int = ints[k];
  }
  return values;
}

const QByteArray kSampleKeys =
    "P=0.5\r\nI=1E-5\r\nD=0.333333333333333\r\nDeadband=12\r\nMaxOutput=95\r\n"
    "FF0=-1.2345E-5\r\nFF1=1E15\r\nFaultError=1000\r\nStepMultiplier=-3\r\nTPSC=4\r\n"
    "HallTimeout=50\r\nChargeElcos=1\r\nPhaseAdvance=1023\r\nSVMCycle=3\r\n";

QString ErrorOf(const QString& name, const TParamFileValues& values) {
  try {
    WriteParamFile(name, values);
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

}  // namespace

// Saving and loading parameter files, the profile layer under them, and the value texts.
class ParamFileTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QVERIFY(FDir.isValid()); }
  void newFileHasExactBytes();
  void saveKeepsEverythingElse();
  void saveThenLoadRestoresValues();
  void loadDefaults_data();
  void loadDefaults();
  void loadValue_data();
  void loadValue();
  void readIntKey_data();
  void readIntKey();
  void toleratesOddFiles();
  void failedSaveKeepsOldFile_data();
  void failedSaveKeepsOldFile();
  void saveKeepsPermissionsAndLinks();

 private:
  QString Path(const char* name) const { return FDir.filePath(QString::fromLatin1(name)); }
  QTemporaryDir FDir;
};

void ParamFileTest::newFileHasExactBytes() {
  const QString name = Path("new.pset");
  WriteParamFile(name, SampleValues());
  QCOMPARE(ReadBytes(name), "[ZIRVParam]\r\n" + kSampleKeys);
}

void ParamFileTest::saveKeepsEverythingElse() {
  const QString name = Path("mixed.pset");
  WriteBytes(name,
             "\xEF\xBB\xBF; made by hand\r\n[Other]\r\nP=keep\r\n\r\n"
             "  [ zirvparam ]  \n  p = 1 \nExtra=stay\r\nmaxoutput=7\r\n"
             "; about Last\r\n\r\n[Last]\r\nx=1");
  WriteParamFile(name, SampleValues());
  const QByteArray missing = kSampleKeys.mid(kSampleKeys.indexOf("I="));
  QByteArray rest = missing;
  rest.replace("MaxOutput=95\r\n", "");
  QCOMPARE(ReadBytes(name),
           "\xEF\xBB\xBF; made by hand\r\n[Other]\r\nP=keep\r\n\r\n"
           "  [ zirvparam ]  \nP=0.5\r\nExtra=stay\r\nMaxOutput=95\r\n" + rest +
               "; about Last\r\n\r\n[Last]\r\nx=1");
}

void ParamFileTest::saveThenLoadRestoresValues() {
  const QString name = Path("trip.pset");
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> spread(-1e6, 1e6);
  for (int round = 0; round < 20; ++round) {
    TParamFileValues values = SampleValues();
    for (auto& v : values) {
      v.Float = spread(rng) * std::pow(10.0, double(int(rng() % 30)) - 20);
      v.Int = int32_t(uint32_t(rng()));
    }
    WriteParamFile(name, values);
    const TParamFileValues back = ReadParamFile(name);
    for (size_t k = 0; k < values.size(); ++k) {
      if (!values[k].IsFloat) {
        QCOMPARE(back[k].Int, values[k].Int);
        continue;
      }
      double expected = 0;
      QVERIFY(ReadFloatKey(QString::number(values[k].Float, 'e', 14), expected));
      QCOMPARE(back[k].Float, expected);
    }
  }
}

void ParamFileTest::loadDefaults_data() {
  QTest::addColumn<QByteArray>("content");
  QTest::newRow("file without the section") << QByteArray("[Other]\r\nP=3\r\nMaxOutput=7\r\n");
  QTest::newRow("keys before any section") << QByteArray("P=3\r\nMaxOutput=7\r\n[ZIRVParam]\r\n");
  QTest::newRow("empty values") << QByteArray("[ZIRVParam]\r\nP=\r\nMaxOutput=\r\nTPSC= \r\n");
  QTest::newRow("binary garbage") << QByteArray("\x00\xff[\x01=\x02\n\r\r=\n]]\xfe", 16);
  QTest::newRow("a folder in place of a file") << QByteArray();
}

void ParamFileTest::loadDefaults() {
  QFETCH(QByteArray, content);
  QString name = Path("defaults.pset");
  if (content.isEmpty())
    name = FDir.path();
  else
    WriteBytes(name, content);
  const TParamFileValues values = ReadParamFile(name);
  const int32_t ints[] = {95, 1000, 1, 4, 50, 0, 0, 3};
  int n = 0;
  for (const auto& v : values) {
    if (v.IsFloat)
      QCOMPARE(v.Float, 0.0);
    else
      QCOMPARE(v.Int, ints[n++]);
  }
  QVERIFY(ReadParamFile(Path("missing.pset"))[4].Int == 95);
}

void ParamFileTest::loadValue_data() {
  QTest::addColumn<QByteArray>("line");
  QTest::addColumn<int>("index");
  QTest::addColumn<double>("expected");
  QTest::newRow("E form loads back") << QByteArray("P=1E-5") << 0 << 0.00001;
  QTest::newRow("comma decimal gives the default") << QByteArray("P=0,5") << 0 << 0.0;
  QTest::newRow("float beyond a double gives the default") << QByteArray("D=1e400") << 2 << 0.0;
  QTest::newRow("spaces around the equals sign") << QByteArray("  I  =  2.5  ") << 1 << 2.5;
  QTest::newRow("0x hexadecimal in a lower-case key") << QByteArray("maxoutput=0x1F") << 4 << 31.0;
  QTest::newRow("letters after digits give the default")
      << QByteArray("FaultError=12abc") << 7 << 1000.0;
  QTest::newRow("float text in an integer key gives the default")
      << QByteArray("TPSC=4.0") << 9 << 4.0;
  QTest::newRow("first of duplicate keys wins")
      << QByteArray("SVMCycle=2\r\nSVMCycle=4") << 13 << 2.0;
  QTest::newRow("comment line is no key") << QByteArray(";SVMCycle=2") << 13 << 3.0;
  QTest::newRow("key in a later section not taken")
      << QByteArray("[Next]\r\nSVMCycle=2") << 13 << 3.0;
}

void ParamFileTest::loadValue() {
  QFETCH(QByteArray, line);
  QFETCH(int, index);
  QFETCH(double, expected);
  const QString name = Path("value.pset");
  WriteBytes(name, "[ZIRVParam]\n" + line + "\n");
  const TParamFileValue v = ReadParamFile(name)[size_t(index)];
  QCOMPARE(v.IsFloat ? v.Float : double(v.Int), expected);
}

void ParamFileTest::readIntKey_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<int>("value");
  QTest::newRow("decimal") << "95" << true << 95;
  QTest::newRow("leading spaces and plus") << "  +7" << true << 7;
  QTest::newRow("leading zeros") << "007" << true << 7;
  QTest::newRow("lowest int32") << "-2147483648" << true << INT32_MIN;
  QTest::newRow("highest int32") << "2147483647" << true << INT32_MAX;
  QTest::newRow("below int32") << "-2147483649" << false << 0;
  QTest::newRow("huge decimal does not wrap") << "18446744073709551617" << false << 0;
  QTest::newRow("dollar hex") << "$ff" << true << 255;
  QTest::newRow("x hex") << "x10" << true << 16;
  QTest::newRow("X hex") << "X10" << true << 16;
  QTest::newRow("0X hex") << "0XaB" << true << 171;
  QTest::newRow("negative hex") << "-0x10" << true << -16;
  QTest::newRow("all 32 bits of hex") << "$FFFFFFFF" << true << -1;
  QTest::newRow("hex beyond 32 bits") << "0x100000000" << false << 0;
  QTest::newRow("prefix without digits") << "0x" << false << 0;
  QTest::newRow("two prefixes") << "$0x1" << false << 0;
  QTest::newRow("decimal with hex letters") << "1f" << false << 0;
  QTest::newRow("sign only") << "-" << false << 0;
  QTest::newRow("empty") << "" << false << 0;
  QTest::newRow("trailing space") << "5 " << false << 0;
  QTest::newRow("space after the sign") << "- 5" << false << 0;
  QTest::newRow("non-ASCII digit") << QString::fromUtf8("\u0661") << false << 0;
}

void ParamFileTest::readIntKey() {
  QFETCH(QString, text);
  int32_t value = 12345;
  QTEST(ReadIntKey(text, value), "ok");
  QFETCH(bool, ok);
  if (ok) QTEST(int(value), "value");
  if (!ok) QCOMPARE(value, 12345);
}

void ParamFileTest::toleratesOddFiles() {
  // A very long line and random bytes must neither crash nor hide the keys around them.
  const QString name = Path("odd.pset");
  std::mt19937 rng(11);
  QByteArray garbage(100000, '\0');
  for (char& c : garbage) c = char(rng());
  garbage.replace('\n', 'x');
  WriteBytes(name, "\xEF\xBB\xBF[ZIRVParam]\nP=2\nJunk=" + QByteArray(2000000, 'a') + "\n" +
                       garbage + "\nTPSC=9\n");
  const TParamFileValues values = ReadParamFile(name);
  QCOMPARE(values[0].Float, 2.0);
  QCOMPARE(values[9].Int, 9);
}

void ParamFileTest::failedSaveKeepsOldFile_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("missing folder") << "missing";
  QTest::newRow("folder path is a file") << "file-as-folder";
  QTest::newRow("read-only file") << "read-only-file";
  QTest::newRow("read-only folder") << "read-only-folder";
  QTest::newRow("name is a folder") << "folder";
}

void ParamFileTest::failedSaveKeepsOldFile() {
  QFETCH(QString, how);
  const bool root = geteuid() == 0;
  QString name;
  const QByteArray old = "[ZIRVParam]\r\nP=7\r\n";
  if (how == "missing") name = Path("no/such/folder/x.pset");
  if (how == "file-as-folder") {
    WriteBytes(Path("plain"), old);
    name = Path("plain/x.pset");
  }
  if (how == "folder") name = FDir.path();
  if (how == "read-only-file") {
    if (root) QSKIP("running as root: file permission bits do not stop writes");
    name = Path("ro.pset");
    WriteBytes(name, old);
    QFile::setPermissions(name, QFile::ReadOwner);
  }
  if (how == "read-only-folder") {
    // As root a read-only folder is writable; /proc refuses new files even to root.
    name = root ? QStringLiteral("/proc/zirv-test.pset") : Path("ro/x.pset");
    if (!root) {
      QDir(FDir.path()).mkdir("ro");
      WriteBytes(name, old);
      QFile::setPermissions(Path("ro"), QFile::ReadOwner | QFile::ExeOwner);
    }
  }
  QCOMPARE(ErrorOf(name, SampleValues()), "Unable to write to " + name);
  if (QFileInfo(name).isFile()) QCOMPARE(ReadBytes(name), old);
  if (how == "read-only-folder" && !root) {
    QCOMPARE(QDir(Path("ro")).entryList(QDir::Files | QDir::Hidden).size(), 1);
    QFile::setPermissions(Path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
}

void ParamFileTest::saveKeepsPermissionsAndLinks() {
  QVERIFY(QDir(FDir.path()).mkpath("links"));
  const QString target = Path("links/target.pset");
  const QString link = Path("links/link.pset");
  WriteBytes(target, "[ZIRVParam]\r\nP=7\r\n");
  const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
  QVERIFY(QFile::setPermissions(target, perms));
  QVERIFY(QFile::link(target, link));
  WriteParamFile(link, SampleValues());
  QVERIFY(QFileInfo(link).isSymLink());
  QCOMPARE(ReadBytes(target), "[ZIRVParam]\r\n" + kSampleKeys);
  QCOMPARE(QFile::permissions(target) & 0x7077, perms);  // owner, group, other bits
  // No temporary file is left behind.
  QCOMPARE(QDir(Path("links")).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

QTEST_GUILESS_MAIN(ParamFileTest)
#include "paramfile_test.moc"
