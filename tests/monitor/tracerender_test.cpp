// The reduced trace drawing (a few points per pixel column) must give exactly the pixels of
// drawing every segment.
#include <QImage>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <random>

#include "monitor/tracerender.h"

namespace {

struct TData { std::vector<double> X, Y; };

// n points at x = 1, 1 + xStep, ...; y from the function, or a random walk without one.
TData Make(int n, const std::function<double(int)>& y = {}, double xStep = 1) {
  std::mt19937 rng(1234);
  double level = 0;
  TData d;
  for (int i = 0; i < n; ++i) {
    d.X.push_back(1 + i * xStep);
    d.Y.push_back(y ? y(i) : level += std::normal_distribution<double>(0, 1)(rng));
  }
  return d;
}

const QRect kClip(30, 10, 400, 300);

// Draws the trace clipped to kClip, showing the data's full range or the given views.
QImage Render(const TData& d, TTraceMode mode, std::optional<TAxisRange> xView = {},
              std::optional<TAxisRange> yView = {}) {
  const auto [lo, hi] = std::minmax_element(d.Y.begin(), d.Y.end());
  const TAxisMap x{xView.value_or(ViewRange(d.X.front(), d.X.back(), 399)), 30, 429};
  const TAxisMap y{yView.value_or(ViewRange(*lo, *hi, 299)), 309, 10};
  QImage image(450, 330, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setClipRect(kClip);
  p.setPen(QPen(QColor(0x44, 0x66, 0xA3), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
  DrawTrace(p, d.X.data(), d.Y.data(), d.X.size(), {x, y, kClip}, mode);
  return image;
}

}  // namespace

class TTraceRenderTest : public QObject {
  Q_OBJECT

 private slots:
  void SameAsEverySegment() {
    auto spikes = [](int i) { return i % 997 ? std::sin(i * 0.01) : 100.0; };
    auto huge = [](int i) { return i % 3 ? 1e300 : i % 2 ? -1e-300 : 1e-10; };
    auto beyond = [](int i) { return i % 2 ? 1e200 : -1e200; };
    const struct {
      const char* Name;
      TData Data;
      std::optional<TAxisRange> XView = {}, YView = {};
    } rows[] = {
        {"random walk, many points per column", Make(50000)},
        {"square wave: vertical runs", Make(20000, [](int i) { return i / 700 % 2 ? 5.0 : -5.0; })},
        {"spikes: lone extremes in runs", Make(30000, spikes)},
        {"constant: zero-length segments", Make(5000, [](int) { return 3.0; })},
        {"two points per column", Make(800)},
        {"three points per column", Make(1200)},
        {"fewer points than columns", Make(57)},
        {"two points", Make(2)},
        {"single point", Make(1)},
        {"zoomed into the middle", Make(40000), TAxisRange{15000, 15300}, TAxisRange{-20, 20}},
        {"zoomed far: neighbours 1e9 pixels away", Make(1000), TAxisRange{500.2, 500.2000001}},
        {"scrolled past the end", Make(3000), TAxisRange{2500, 4500}},
        {"huge magnitudes mixed", Make(20000, huge)},
        {"fractional x steps", Make(9000, {}, 0.37)},
        {"far beyond the view", Make(2000, beyond), {}, TAxisRange{-1, 1}},
    };
    for (const auto& row : rows) {
      QImage image = Render(row.Data, TTraceMode::Reduced, row.XView, row.YView);
      QVERIFY2(image == Render(row.Data, TTraceMode::EverySegment, row.XView, row.YView), row.Name);
      QPainter(&image).fillRect(kClip, Qt::white);  // no trace colour over the axes around
      QVERIFY2(image.allGray(), row.Name);
    }
  }
};

QTEST_GUILESS_MAIN(TTraceRenderTest)
#include "tracerender_test.moc"
