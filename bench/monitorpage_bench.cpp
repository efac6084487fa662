// Times the "RT Monitor" page's exchanges through the whole window against the simulated
// board, with the serial line's pacing on (what a technician waits for) and off (the tool's
// own share). Prints one figure a line: <name> <value> <unit>.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cstdio>

#include "mainwindowfixture.h"
#include "monitor/chart.h"
#include "ui/spinedit.h"

namespace {

// Returns the mean milliseconds of count clicks of the button, each waiting for its answer.
double MeanClickMs(QPushButton* button, int count) {
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < count; ++i) QTest::mouseClick(button, Qt::LeftButton);
  return double(clock.nsecsElapsed()) / 1e6 / count;
}

// Measures one board configuration and prints its figures with the given name suffix.
void Measure(bool pacing, const char* suffix) {
  zirvsim::TSimOptions options = FastBoard();
  options.Pacing = pacing;
  TMainFixture f(options);
  TfMain& w = *f.Window;
  f.Connect();
  w.PageControl1->setCurrentWidget(w.tsRTMonitor);
  w.seSICommandStep->SetValue(100);
  w.cbSIAutoFwdRev->setChecked(true);

  const double sampleMs = MeanClickMs(w.btSampleStatus, 20);
  std::printf("status_sample_%s %.2f ms\n", suffix, sampleMs);
  std::printf("status_samples_per_second_%s %.1f 1/s\n", suffix, 1000.0 / sampleMs);
  const double stepMs = MeanClickMs(w.btLaunchSITest, 4);
  std::printf("step_test_%s %.1f ms\n", suffix, stepMs);

  // The repaint that shows a step test's 199 new points over everything plotted so far.
  QElapsedTimer clock;
  clock.start();
  const int paints = w.Chart1->PaintCount();
  w.Chart1->repaint();
  std::printf("chart_repaint_%d_points_%s %.2f ms\n", w.Chart1->Series1.Count(), suffix,
              double(clock.nsecsElapsed()) / 1e6);
  if (w.Chart1->PaintCount() == paints) std::printf("chart_repaint_missing_%s 1 count\n", suffix);
  if (!f.Errors.isEmpty()) std::printf("errors_%s %lld count\n", suffix, qint64(f.Errors.size()));
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Measure(false, "fast");
  Measure(true, "paced");
  return 0;
}
