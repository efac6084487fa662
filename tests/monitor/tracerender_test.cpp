// The reduced trace drawing must give exactly the pixels of drawing every segment.
#include <QImage>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <random>

#include "monitor/tracerender.h"

namespace {

struct TData {
  std::vector<double> X, Y;
};

using TGenerator = std::function<double(int i, std::mt19937& rng)>;

TData Make(int n, const TGenerator& y, double xStep = 1) {
  std::mt19937 rng(1234);
  TData d;
  for (int i = 0; i < n; ++i) {
    d.X.push_back(1 + i * xStep);
    d.Y.push_back(y(i, rng));
  }
  return d;
}

TGenerator RandomWalk() {
  auto level = std::make_shared<double>(0);
  return [level](int, std::mt19937& rng) {
    return *level += std::normal_distribution<double>(0, 1)(rng);
  };
}

QImage Render(const TData& d, const TPlotMapping& map, TTraceMode mode) {
  QImage image(map.Clip.right() + 20, map.Clip.bottom() + 20, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setClipRect(map.Clip);
  p.setPen(QPen(QColor(0x44, 0x66, 0xA3), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
  DrawTrace(p, d.X.data(), d.Y.data(), d.X.size(), map, mode);
  return image;
}

// A plot of the given width showing the data's full range (or the given view).
TPlotMapping Mapping(const TData& d, int width, std::optional<TAxisRange> xView = {},
                     std::optional<TAxisRange> yView = {}) {
  const QRect clip(30, 10, width, 300);
  TAxisRange yr{d.Y.front(), d.Y.front()};
  for (double y : d.Y) yr = {std::min(yr.Min, y), std::max(yr.Max, y)};
  TPlotMapping m;
  m.Clip = clip;
  m.X = {xView.value_or(ViewRange(d.X.front(), d.X.back(), width - 1)), clip.left(), clip.right()};
  m.Y = {yView.value_or(ViewRange(yr.Min, yr.Max, 299)), clip.bottom(), clip.top()};
  return m;
}

int CountInk(const QImage& image) {
  int ink = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ink += image.pixel(x, y) != qRgb(255, 255, 255);
  return ink;
}

}  // namespace

Q_DECLARE_METATYPE(std::shared_ptr<TData>)
Q_DECLARE_METATYPE(std::shared_ptr<TPlotMapping>)

class TTraceRenderTest : public QObject {
  Q_OBJECT

 private slots:
  void SameAsEverySegment_data() {
    QTest::addColumn<std::shared_ptr<TData>>("data");
    QTest::addColumn<std::shared_ptr<TPlotMapping>>("map");
    auto row = [](const char* name, TData d, int width = 400, std::optional<TAxisRange> xv = {},
                  std::optional<TAxisRange> yv = {}) {
      auto m = std::make_shared<TPlotMapping>(Mapping(d, width, xv, yv));
      QTest::newRow(name) << std::make_shared<TData>(std::move(d)) << m;
    };
    row("random walk, many points per column", Make(50000, RandomWalk()));
    row("square wave: vertical runs in one column", Make(20000, [](int i, auto&) { return (i / 700) % 2 ? 5.0 : -5.0; }));
    row("spikes: lone extremes inside runs", Make(30000, [](int i, auto&) { return i % 997 == 0 ? 100.0 : std::sin(i * 0.01); }));
    row("constant: zero-length segments", Make(5000, [](int, auto&) { return 3.0; }));
    row("two points per column", Make(800, RandomWalk()));
    row("three points per column", Make(1200, RandomWalk()));
    row("fewer points than columns", Make(57, RandomWalk()));
    row("two points", Make(2, RandomWalk()));
    row("zoomed into the middle", Make(40000, RandomWalk()), 400, TAxisRange{15000, 15300}, TAxisRange{-20, 20});
    row("zoomed far: neighbours a billion pixels away", Make(1000, RandomWalk()), 400, TAxisRange{500.2, 500.2000001});
    row("scrolled past the end", Make(3000, RandomWalk()), 400, TAxisRange{2500, 4500});
    row("huge magnitudes mixed", Make(20000, [](int i, auto&) { return i % 3 ? 1e300 : (i % 2 ? -1e-300 : 1e-10); }));
    row("fractional x steps", Make(9000, RandomWalk(), 0.37));
  }

  void SameAsEverySegment() {
    QFETCH(std::shared_ptr<TData>, data);
    QFETCH(std::shared_ptr<TPlotMapping>, map);
    const QImage every = Render(*data, *map, TTraceMode::EverySegment);
    const QImage reduced = Render(*data, *map, TTraceMode::Reduced);
    if (every != reduced) {
      int diff = 0;
      for (int y = 0; y < every.height(); ++y)
        for (int x = 0; x < every.width(); ++x) diff += every.pixel(x, y) != reduced.pixel(x, y);
      QFAIL(qPrintable(QStringLiteral("%1 pixels differ").arg(diff)));
    }
  }

  void NothingOutsideTheClip() {
    // Values far beyond the view must not paint over the axes around the plot.
    TData d = Make(2000, [](int i, auto&) { return i % 2 ? 1e200 : -1e200; });
    const TPlotMapping map = Mapping(d, 300, {}, TAxisRange{-1, 1});
    const QImage image = Render(d, map, TTraceMode::Reduced);
    QImage outside = image.copy();
    QPainter(&outside).fillRect(map.Clip, Qt::white);
    QCOMPARE(CountInk(outside), 0);
    QVERIFY(CountInk(image) > 0);
  }

  void SinglePointDrawsNothing() {
    TData d = Make(1, RandomWalk());
    QCOMPARE(CountInk(Render(d, Mapping(d, 100), TTraceMode::Reduced)), 0);
  }
};

QTEST_GUILESS_MAIN(TTraceRenderTest)
#include "tracerender_test.moc"
