// Prints the cost of the number text, the answer-line parser and a parameter-file save and
// load, one figure a line: "<name> <value> <unit>".
#include <QTemporaryDir>
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
  return 0;
}
