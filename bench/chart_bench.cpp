// Repaint time of the trend chart with a 1000 x 400 plot and two long traces, drawing every
// segment against the reduced drawing, and the storage cost of a point.
#include <QApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

#include "monitor/chart.h"

namespace {

// Fills both traces with random walks of n points.
void Fill(TChart& chart, int n) {
  chart.btClearClick();
  std::mt19937 rng(42);
  std::normal_distribution<double> noise(0, 1);
  double error = 0, output = 0;
  for (int i = 0; i < n; ++i) chart.AddChartPoint(output += noise(rng), error += noise(rng));
}

// Resizes the chart so that its plot is as close to w x h as the layout allows.
void FitPlot(TChart& chart, int w, int h) {
  chart.resize(w + 200, h + 100);
  for (int pass = 0; pass < 4; ++pass) {
    const QRect plot = chart.PlotRect();
    chart.resize(chart.width() + w - plot.width(), chart.height() + h - plot.height());
  }
}

// Returns the fastest of several full repaints, in milliseconds.
double RepaintMs(TChart& chart, TTraceMode mode, int repeats) {
  chart.SetTraceMode(mode);
  QImage image(chart.size(), QImage::Format_RGB32);
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    chart.render(&image);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  auto chart = std::make_unique<TChart>();
  FitPlot(*chart, 1000, 400);
  const QRect plot = chart->PlotRect();
  std::printf("plot_width %d px\nplot_height %d px\n", plot.width(), plot.height());

  Fill(*chart, 10000);
  const double naive10k = RepaintMs(*chart, TTraceMode::EverySegment, 5);
  std::printf("naive_ms_10k %.3f ms\n", naive10k);
  std::printf("repaint_ms_10k %.3f ms\n", RepaintMs(*chart, TTraceMode::Reduced, 10));

  Fill(*chart, 1000000);
  const double naive1m = RepaintMs(*chart, TTraceMode::EverySegment, 2);
  const double reduced1m = RepaintMs(*chart, TTraceMode::Reduced, 10);
  std::printf("naive_ms_1m %.3f ms\n", naive1m);
  std::printf("repaint_ms_1m %.3f ms\n", reduced1m);
  std::printf("speedup_1m %.1f x\n", naive1m / reduced1m);

  Fill(*chart, 10000000);
  std::printf("repaint_ms_10m %.3f ms\n", RepaintMs(*chart, TTraceMode::Reduced, 5));
  const TLineSeries& s = chart->Series1;
  std::printf("bytes_per_point %.2f bytes\n",
              double((s.XValues().size() + s.YValues().size()) * sizeof(double)) / s.Count());
  std::printf("bytes_per_point_reserved %.2f bytes\n", double(s.ReservedBytes()) / s.Count());
  return 0;
}
