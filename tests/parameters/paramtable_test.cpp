#include <QTest>

#include <cmath>
#include <set>
#include <string>

#include "parameters/paramtable.h"

// The parameter table is the one contract between the board exchange, the entry fields and
// the file: these tests catch rows that disagree with each other or share a record field.
class ParamTableTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsAreConsistent();
  void everyRowHasItsOwnRecordField();
  void storeAnswer_data();
  void storeAnswer();
};

void ParamTableTest::rowsAreConsistent() {
  std::set<int> lines;
  std::set<std::string> keys;
  for (const TParamRow& row : ParamTable()) {
    QCOMPARE(std::string(row.Tag), std::string("(") + row.Letter + ")");
    QVERIFY2((row.DoubleField == nullptr) != (row.IntField == nullptr), row.FileKey);
    QCOMPARE(row.Class == TRowClass::Integer, row.IntField != nullptr);
    QCOMPARE(row.FileFloat, row.Class == TRowClass::Float);
    QVERIFY(row.MinValue <= row.MaxValue);
    const bool limited = row.MinValue != 0 || row.MaxValue != 0;
    if (limited) QVERIFY(row.InitialValue >= row.MinValue && row.InitialValue <= row.MaxValue);
    if (limited) QVERIFY(row.FileDefault >= row.MinValue && row.FileDefault <= row.MaxValue);
    lines.insert(row.ListLine);
    keys.insert(row.FileKey);
  }
  // The "l" answer carries the fourteen parameters on lines 3 to 16, one each.
  QCOMPARE(lines.size(), size_t(14));
  QCOMPARE(*lines.begin(), 3);
  QCOMPARE(*lines.rbegin(), 16);
  QCOMPARE(keys.size(), size_t(14));
}

void ParamTableTest::everyRowHasItsOwnRecordField() {
  TPIDParams params;
  const auto& table = ParamTable();
  for (size_t k = 0; k < table.size(); ++k) StoreAnswer(params, table[k], double(k + 10));
  for (size_t k = 0; k < table.size(); ++k)
    QCOMPARE(RecordValue(params, table[k]), double(k + 10));
  // Valid and Enabled are not parameters: storing must not touch them.
  QCOMPARE(params.Valid, false);
  QCOMPARE(params.Enabled, 0);
}

void ParamTableTest::storeAnswer_data() {
  QTest::addColumn<int>("index");
  QTest::addColumn<double>("answer");
  QTest::addColumn<double>("stored");
  QTest::newRow("double field keeps the fraction") << 4 << 95.4 << 95.4;
  QTest::newRow("fault error keeps a half") << 7 << 999.5 << 999.5;
  QTest::newRow("integer tie goes to even, down") << 8 << 2.5 << 2.0;
  QTest::newRow("integer tie goes to even, up") << 9 << 3.5 << 4.0;
  QTest::newRow("negative tie goes to even") << 10 << -2.5 << -2.0;
  QTest::newRow("just above a half rounds up") << 11 << 0.5000001 << 1.0;
  QTest::newRow("beyond 32 bits clamps high") << 12 << 1e12 << 2147483647.0;
  QTest::newRow("beyond 32 bits clamps low") << 13 << -1e12 << -2147483648.0;
}

void ParamTableTest::storeAnswer() {
  QFETCH(int, index);
  QFETCH(double, answer);
  TPIDParams params;
  const TParamRow& row = ParamTable()[size_t(index)];
  StoreAnswer(params, row, answer);
  QTEST(RecordValue(params, row), "stored");
}

QTEST_GUILESS_MAIN(ParamTableTest)
#include "paramtable_test.moc"
