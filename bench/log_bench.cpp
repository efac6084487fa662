// Measures the cost of one log entry, repaint included, with a short, a long and a very long
// log, the resident memory each entry takes, and what assistive technology's queries cost in the
// very long log. Prints one "<name> <value> <unit>" figure a line.

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <unistd.h>

#include "benchutil.h"
#include "ui/logpane.h"

namespace {

// Texts as the log sees them in use: commands, answer lines with their CR/LF, tool messages.
struct TSample {
  const char* Text;
  TColor Colour;
};
constexpr TSample kSamples[] = {
    {"s", clGreen},
    {"\nError: -12\r", clBlue},
    {"\nOutput: 1532.25\r", clBlue},
    {"\nEncoder: 1048576\r", clBlue},
    {"Could not retreive status", clRed},
    {"p 0.125", clGreen},
};
constexpr int kSampleCount = int(std::size(kSamples));

// Returns the resident set size of this process in bytes.
long ResidentBytes() {
  QFile statm(QStringLiteral("/proc/self/statm"));
  if (!statm.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = statm.readAll().split(' ');
  if (fields.size() < 2) return 0;
  return fields[1].toLong() * sysconf(_SC_PAGESIZE);
}

void LogSample(TLogRegion& region, int i) {
  const TSample& sample = kSamples[i % kSampleCount];
  region.LogLine(QString::fromLatin1(sample.Text), sample.Colour);
}

// Appends entries without painting, to grow the log to a given size quickly, then lets the event
// loop run as a user's would: the view paints, its scroll bar appears and the range settles, so
// that every size is timed with the pane as the user sees it.
void Fill(TLogRegion& region, int from, int to) {
  for (int i = from; i < to; ++i) LogSample(region, i);
  for (int pass = 0; pass < 3; ++pass) QApplication::processEvents();
}

// Returns microseconds per entry for `count` entries, each followed by a forced repaint.
double TimeWithRepaint(TLogRegion& region, int count) {
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < count; ++i) {
    LogSample(region, i);
    region.reLog->viewport()->repaint();
  }
  return double(timer.nsecsElapsed()) / 1000.0 / count;
}

// Prints the microseconds that a screen reader's queries take at offsets around the middle of
// the log: the attributes (colour) of a run and the text of a line.
void TimeAccessibleQueries(TLogView* view) {
  QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(view)->textInterface();
  const int middle = text->characterCount() / 2;
  int from = 0, to = 0;
  const double attributes = NanosecondsPerCall(
      1000, [&](int i) { text->attributes(middle + i * 37, &from, &to); });
  const double line = NanosecondsPerCall(1000, [&](int i) {
    text->textAtOffset(middle + i * 37, QAccessible::LineBoundary, &from, &to);
  });
  std::printf("log_a11y_attributes_us_1m %.2f us\n", attributes / 1000);
  std::printf("log_a11y_line_us_1m %.2f us\n", line / 1000);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TLogRegion region;
  region.resize(780, 100);
  region.show();
  app.processEvents();

  // Each size is reached by filling up to it, then 1000 entries are timed.
  constexpr int kTimed = 1000;
  constexpr int kMiddle = 100000;
  constexpr int kLong = 1000000;
  Fill(region, 0, 1000);
  std::printf("logline_us_1k %.2f us\n", TimeWithRepaint(region, kTimed));

  const int filled = 1000 + kTimed;
  const long before = ResidentBytes();
  Fill(region, filled, kMiddle);
  std::printf("logline_us_100k %.2f us\n", TimeWithRepaint(region, kTimed));
  Fill(region, kMiddle + kTimed, kLong);
  const long after = ResidentBytes();
  std::printf("logline_us_1m %.2f us\n", TimeWithRepaint(region, kTimed));
  std::printf("log_bytes_per_entry %.1f bytes\n", double(after - before) / (kLong - filled));
  TimeAccessibleQueries(region.reLog);
  std::fflush(stdout);
  return 0;
}
