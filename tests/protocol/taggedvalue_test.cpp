#include <QTest>

#include "globals/errors.h"
#include "protocol/taggedvalue.h"

// Parsing of the board's answer lines: tag presence, the backward scan from the trimmed
// length and the conversion of what it takes.
class TaggedValueTest : public QObject {
  Q_OBJECT

 private slots:
  void parses_data();
  void parses();
  void rejects_data();
  void rejects();
  void badNumbers_data();
  void badNumbers();
};

void TaggedValueTest::parses_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("tag");
  QTest::addColumn<double>("expected");
  QTest::newRow("scan starts on the point after a leading LF")
      << "\nerror: -12.5\r" << "error" << -12.5;
  QTest::newRow("plain CR-ended line") << "command: 7\r" << "command" << 7.0;
  QTest::newRow("parenthesised tag") << "(p) 0.0125\r" << "(p)" << 0.0125;
  QTest::newRow("tag only tested for presence") << "error_i: 3\r" << "error" << 3.0;
  QTest::newRow("exponent letter stops the scan") << "x: 1e5\r" << "x" << 5.0;
  QTest::newRow("line without any line end") << "(i) 2.5" << "(i)" << 2.5;
  QTest::newRow("CR LF end keeps the whole number") << "\n(d) 123\r\n" << "(d)" << 123.0;
  QTest::newRow("explicit plus sign") << "output: +4\r" << "output" << 4.0;
  QTest::newRow("trailing point") << "(m) 95.\r" << "(m)" << 95.0;
  QTest::newRow("leading point") << "(f) .5\r" << "(f)" << 0.5;
  QTest::newRow("number touching the tag") << "(c)3\r" << "(c)" << 3.0;
  QTest::newRow("whole line is the number") << "42" << "" << 42.0;
  QTest::newRow("other text between tag and number") << "error is now 8\r" << "error" << 8.0;
  QTest::newRow("tab before the number") << "(h)\t50\r" << "(h)" << 50.0;
  QTest::newRow("long fraction rounds to nearest double")
      << "(p) 0.1000000000000000055511151231257827\r" << "(p)" << 0.1;
  QTest::newRow("digits only from the tagged run") << "12 (a) 34\r" << "(a)" << 34.0;
}

void TaggedValueTest::parses() {
  QFETCH(QString, line);
  QFETCH(QString, tag);
  QFETCH(double, expected);
  double value = -999;
  QVERIFY(ParseTaggedValue(line, tag, value));
  QCOMPARE(value, expected);
}

void TaggedValueTest::rejects_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("tag");
  QTest::newRow("nothing numeric after the tag") << "servo enabled\r" << "servo enabled";
  QTest::newRow("other tag") << "feedback: 45\r" << "command";
  QTest::newRow("tag differs in case") << "Error: 4\r" << "error";
  QTest::newRow("empty line") << "" << "error";
  QTest::newRow("only white space") << "\n\r" << "";
  QTest::newRow("letter ends the line") << "error: 4x\r" << "error";
  QTest::newRow("number before the tag is not taken") << "9 (x)\r" << "(x)";
  QTest::newRow("tag cut by a line end") << "err\nor: 4\r" << "error";
}

void TaggedValueTest::rejects() {
  QFETCH(QString, line);
  QFETCH(QString, tag);
  double value = 17;
  QVERIFY(!ParseTaggedValue(line, tag, value));
  QCOMPARE(value, 17.0);
}

void TaggedValueTest::badNumbers_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("message");
  QTest::newRow("two points") << "(p) 1.2.3\r" << "'1.2.3' is not a valid floating point value";
  QTest::newRow("signs only") << "(p) +-\r" << "'+-' is not a valid floating point value";
  QTest::newRow("minus inside") << "(p) 5-3\r" << "'5-3' is not a valid floating point value";
  QTest::newRow("lone point") << "(p) .\r" << "'.' is not a valid floating point value";
  QTest::newRow("long leading white space moves the start")
      << "\n  error: 7\r" << "': 7' is not a valid floating point value";
  QTest::newRow("400 digits overflow a double")
      << "(p) " + QString(400, u'9') + "\r"
      << "'" + QString(400, u'9') + "' is not a valid floating point value";
}

void TaggedValueTest::badNumbers() {
  QFETCH(QString, line);
  QFETCH(QString, message);
  double value = 17;
  const QString tag = line.contains("error") ? "error" : "(p)";
  try {
    ParseTaggedValue(line, tag, value);
    QFAIL("no conversion error raised");
  } catch (const EConvertError& e) {
    QCOMPARE(e.Message(), message);
  }
  QCOMPARE(value, 17.0);
}

QTEST_GUILESS_MAIN(TaggedValueTest)
#include "taggedvalue_test.moc"
