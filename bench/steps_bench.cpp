// Measures the step-response figures and the run history. Prints, one figure a line:
//   metrics_us_per_run      the figures of one 199-sample run (target: under 50 us)
//   history_insert_ms       storing one run in a history of 10,000 (target: under 5 ms)
//   history_query_ms_10k    listing 10,000 stored runs (target: under 50 ms)
//   history_load_ms         loading one run with its samples from 10,000 (as show does)
// Times are medians of several runs.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <vector>

#include "benchutil.h"
#include "runstore/runstore.h"
#include "stepfigures/stepfigures.h"

namespace {

constexpr int kSamples = 199;
constexpr int kStoredRuns = 10000;

// A lightly damped response with some output saturation, like a board's answer.
TStepRun MakeRun(int n) {
  TStepRun run;
  run.Time = QDateTime::currentDateTime().addSecs(n - kStoredRuns);
  run.Port = QStringLiteral("COM1");
  run.Step = n % 2 ? 100 : -100;
  run.Params.MaxOutput = 95;
  run.Params.Multiplier = 1;
  run.Params.TicksPerServo = 4;
  run.Params.P = 0.2 + n * 1e-5;
  for (int k = 0; k < kSamples; ++k) {
    run.Errors.push_back(run.Step * std::exp(-0.05 * k) * std::cos(0.15 * k));
    run.Outputs.push_back(std::clamp(run.Errors.back() * 3, -95.0, 95.0));
  }
  UpdateFigures(run);
  return run;
}

double MetricsMicroseconds() {
  const TStepRun run = MakeRun(1);
  std::vector<double> medians;
  volatile double sink = 0;
  for (int rep = 0; rep < 9; ++rep) {
    medians.push_back(NanosecondsPerCall(2000, [&](int) {
                        sink = sink + ComputeStepFigures(run.Errors, run.Outputs, 100, 95).Iae;
                      }) /
                      1000.0);
  }
  return Median(medians);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("metrics_us_per_run %.3f us\n", MetricsMicroseconds());

  QTemporaryDir dir;
  TRunStore store;
  if (const TResult<void> opened = store.Open(dir.filePath(QStringLiteral("runs.sqlite"))); !opened) {
    std::fprintf(stderr, "%s\n", qPrintable(opened.Failure().Message));
    return 1;
  }
  for (int n = 0; n < kStoredRuns; ++n) {
    TStepRun run = MakeRun(n);
    if (const TResult<void> stored = store.Insert(run); !stored) {
      std::fprintf(stderr, "%s\n", qPrintable(stored.Failure().Message));
      return 1;
    }
  }
  std::vector<double> inserts, queries;
  for (int rep = 0; rep < 15; ++rep) {
    TStepRun run = MakeRun(kStoredRuns + rep);
    QElapsedTimer clock;
    clock.start();
    (void)store.Insert(run);
    inserts.push_back(clock.nsecsElapsed() / 1e6);
  }
  for (int rep = 0; rep < 7; ++rep) {
    QElapsedTimer clock;
    clock.start();
    const TResult<std::vector<TRunListing>> runs = store.List(kStoredRuns);
    queries.push_back(clock.nsecsElapsed() / 1e6);
    if (!runs || runs->size() != size_t(kStoredRuns)) std::fprintf(stderr, "listed no %d runs\n", kStoredRuns);
  }
  std::vector<double> loads;
  for (int rep = 0; rep < 15; ++rep) {
    QElapsedTimer clock;
    clock.start();
    const TResult<std::vector<TStepRun>> runs = store.Load({qint64(1 + rep * 613)});
    loads.push_back(clock.nsecsElapsed() / 1e6);
    if (!runs || runs->front().Errors.size() != size_t(kSamples)) std::fprintf(stderr, "loaded no run\n");
  }
  std::printf("history_insert_ms %.3f ms\n", Median(inserts));
  std::printf("history_query_ms_10k %.3f ms\n", Median(queries));
  std::printf("history_load_ms %.3f ms\n", Median(loads));
  return 0;
}
