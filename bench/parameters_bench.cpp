// Prints the cost of the number text, the answer-line parser and a parameter-file save and
// load, one figure a line: "<name> <value> <unit>".
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "benchutil.h"
#include "globals/numtext.h"
#include "parameters/paramfile.h"
#include "protocol/taggedvalue.h"

namespace {

// Runs body count times and prints the mean time per run in the given unit.
void Measure(const char* name, int count, double unitNs, const char* unit,
             const std::function<void(int)>& body) {
  std::printf("%s %.3f %s\n", name, NanosecondsPerCall(count, body) / unitNs, unit);
}

// A parameter file of about 10 MB as a shared settings file might grow: many other sections
// and keys, and the parameter section in the middle holding half of its keys.
QByteArray LargeFile() {
  QByteArray bytes;
  bytes.reserve(11 << 20);
  int section = 0;
  const auto addSections = [&](qsizetype upTo) {
    while (bytes.size() < upTo) {
      bytes += "[Section" + QByteArray::number(section++) + "]\r\n";
      for (int key = 0; key < 10; ++key)
        bytes += "Key" + QByteArray::number(key) + "=some value text " +
                 QByteArray::number(section * 10 + key) + "\r\n";
    }
  };
  addSections(5 << 20);
  bytes += "[ZIRVParam]\r\nP=0.5\r\nD=0.25\r\nMaxOutput=90\r\nFaultError=900\r\n"
           "TPSC=5\r\nChargeElcos=1\r\nSVMCycle=2\r\n";
  addSections(10 << 20);
  return bytes;
}

// Writes the large file afresh before each run and prints the median time of one run in ms.
void MeasureLargeFile(const char* name, const QString& fileName, int runs,
                      const std::function<void()>& body) {
  static const QByteArray content = LargeFile();
  std::vector<double> times;
  for (int k = 0; k < runs; ++k) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) return;
    file.close();
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(std::chrono::duration<double, std::milli>(
                        std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%s %.1f ms\n", name, Median(times));
}

}  // namespace

int main() {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> spread(-1e4, 1e4);
  std::vector<double> numbers(4096);
  for (double& v : numbers) v = spread(rng);
  std::vector<QString> texts;
  for (double v : numbers) texts.push_back(FormatNumber(v));

  volatile double sink = 0;
  Measure("format_number", 1000000, 1, "ns", [&](int k) {
    sink = FormatNumber(numbers[size_t(k) & 4095]).size();
  });
  Measure("read_number", 1000000, 1, "ns", [&](int k) {
    double v = 0;
    TryReadNumber(texts[size_t(k) & 4095], v);
    sink = v;
  });
  const QString line = QStringLiteral("\n(p) 0.0125\r");
  const QString tag = QStringLiteral("(p)");
  Measure("parse_tagged_value", 1000000, 1, "ns", [&](int) {
    double v = 0;
    ParseTaggedValue(line, tag, v);
    sink = v;
  });

  QTemporaryDir dir;
  const QString name = dir.filePath("bench.pset");
  const TParamFileValues values = DefaultParamFileValues();
  Measure("param_file_save", 200, 1000, "us", [&](int) { WriteParamFile(name, values); });
  Measure("param_file_load", 2000, 1000, "us", [&](int) { sink = ReadParamFile(name)[0].Float; });

  const QString large = dir.filePath("large.pset");
  MeasureLargeFile("param_file_load_10mb_ms", large, 3,
                   [&] { sink = ReadParamFile(large)[0].Float; });
  MeasureLargeFile("param_file_save_10mb_ms", large, 3, [&] { WriteParamFile(large, values); });
  return 0;
}
