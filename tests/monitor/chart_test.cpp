// Behaviour of the trend chart widget: point numbering, ordered insert, labels of the empty
// and single-point chart, one repaint per burst, zoom, undo, scroll and Clear.
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include "monitor/chart.h"

namespace {

void SendMouse(TChart& chart, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint pos) {
  QMouseEvent event(type, QPointF(pos), chart.mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
  QCoreApplication::sendEvent(&chart, &event);
}

// Presses at from, moves to to in one step and releases there.
void Drag(TChart& chart, Qt::MouseButton button, QPoint from, QPoint to) {
  SendMouse(chart, QEvent::MouseButtonPress, button, button, from);
  SendMouse(chart, QEvent::MouseMove, Qt::NoButton, button, to);
  SendMouse(chart, QEvent::MouseButtonRelease, button, Qt::NoButton, to);
}

void AddRamp(TChart& chart, int n) {
  for (int i = 0; i < n; ++i) chart.AddChartPoint(2.0 * i, i % 7 - 3.0);
}

int Middle(const TAxisMap& m) { return (m.P0 + m.P1) / 2; }

}  // namespace

class TChartTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { SetAxisGroupSeparator(QStringLiteral(",")); }

  void EmptyChartHasLabelZeroAtTheMiddle() {
    TChart chart;
    chart.resize(600, 300);
    for (int pass = 0; pass < 2; ++pass) {  // at start, then after Clear
      const TChart::TLayout l = chart.ComputeLayout();
      QCOMPARE(l.XLabels, std::vector<double>{0});
      QCOMPARE(l.YLabels, std::vector<double>{0});
      QCOMPARE(l.X.Pixel(0), double(Middle(l.X)));
      QCOMPARE(l.Y.Pixel(0), double(Middle(l.Y)));
      AddRamp(chart, 5);
      chart.btClearClick();
    }
  }

  void OnePointHasLabelOne() {
    TChart chart;
    chart.resize(600, 300);
    chart.AddChartPoint(4, -2);
    const TChart::TLayout l = chart.ComputeLayout();
    QCOMPARE(l.XLabels, std::vector<double>{1});
    QCOMPARE(l.X.Pixel(1), double(Middle(l.X)));
  }

  void EqualValuesGiveOneLabelAtTheMiddle() {
    TChart chart;
    chart.resize(600, 300);
    for (int i = 0; i < 20; ++i) chart.AddChartPoint(7.25, 7.25);
    const TChart::TLayout l = chart.ComputeLayout();
    QCOMPARE(l.YLabels, std::vector<double>{7.25});
    QCOMPARE(l.Y.Pixel(7.25), double(Middle(l.Y)));
  }

  void PointNumberingAndOrder() {
    TChart chart;
    AddRamp(chart, 3);
    chart.btClearClick();
    for (int k = 1; k <= 5; ++k) {
      chart.AddChartPoint(100.0 + k, -double(k));  // output first, error second
      QCOMPARE(chart.Series1.XValues().back(), double(k));
      QCOMPARE(chart.Series2.XValues().back(), double(k));
      QCOMPARE(chart.Series1.YValues().back(), -double(k));  // Series1 is the error
      QCOMPARE(chart.Series2.YValues().back(), 100.0 + k);
    }
    QCOMPARE(chart.Series1.Count(), 5);
  }

  void AddXYKeepsXAscending_data() {
    QTest::addColumn<QList<double>>("xs");
    QTest::addColumn<QList<int>>("indices");
    QTest::addColumn<QList<double>>("order");  // y of the stored points in index order
    QTest::newRow("ascending x is appended") << QList<double>{1, 2, 3} << QList<int>{0, 1, 2} << QList<double>{0, 1, 2};
    QTest::newRow("smaller x inserted before") << QList<double>{5, 1} << QList<int>{0, 0} << QList<double>{1, 0};
    QTest::newRow("equal x keeps order of arrival") << QList<double>{1, 3, 1} << QList<int>{0, 1, 1} << QList<double>{0, 2, 1};
    QTest::newRow("insert in the middle") << QList<double>{1, 4, 2, 3} << QList<int>{0, 1, 1, 2} << QList<double>{0, 2, 3, 1};
  }

  void AddXYKeepsXAscending() {
    QFETCH(QList<double>, xs);
    QFETCH(QList<int>, indices);
    QFETCH(QList<double>, order);
    TLineSeries s(QStringLiteral("t"), Qt::black, 2);
    for (int i = 0; i < xs.size(); ++i) QCOMPARE(s.AddXY(xs[i], i), indices[i]);
    QVERIFY(std::is_sorted(s.XValues().begin(), s.XValues().end()));
    QCOMPARE(QList<double>(s.YValues().begin(), s.YValues().end()), order);
    QCOMPARE(s.MinY(), 0.0);
    QCOMPARE(s.MaxY(), double(xs.size() - 1));
  }

  void BurstOf199PointsIsOneRepaint() {
    TChart chart;
    chart.resize(500, 300);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    QCoreApplication::processEvents();
    const int before = chart.PaintCount();
    AddRamp(chart, 199);
    QCOMPARE(chart.PaintCount(), before);  // adding only requests a repaint
    QTRY_COMPARE(chart.PaintCount(), before + 1);
    QTest::qWait(50);
    QCOMPARE(chart.PaintCount(), before + 1);
  }

  void ClearButtonEmptiesBothTraces() {
    TChart chart;
    QCOMPARE(chart.btClear->text(), QStringLiteral("Clear"));
    QCOMPARE(chart.btClear->geometry(), QRect(0, 6, 37, 19));
    AddRamp(chart, 10);
    chart.btClear->click();
    QCOMPARE(chart.Series1.Count(), 0);
    QCOMPARE(chart.Series2.Count(), 0);
  }

  void DragThreshold_data() {
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<bool>("zooms");
    QTest::newRow("16 px right and down does nothing") << 16 << 16 << false;
    QTest::newRow("17 px right but 16 down does nothing") << 17 << 16 << false;
    QTest::newRow("16 px right but far down does nothing") << 16 << 80 << false;
    QTest::newRow("17 px both ways zooms") << 17 << 17 << true;
    QTest::newRow("right and up zooms") << 60 << -40 << true;
    QTest::newRow("leftward drag does not zoom") << -60 << 40 << false;
  }

  void DragThreshold() {
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(bool, zooms);
    TChart chart;
    chart.resize(600, 300);
    AddRamp(chart, 50);
    const QPoint start = chart.PlotRect().center();
    Drag(chart, Qt::LeftButton, start, start + QPoint(dx, dy));
    QCOMPARE(chart.IsZoomed(), zooms);
  }

  void ZoomShowsTheRectangleAndUndoRestores() {
    TChart chart;
    chart.resize(600, 300);
    AddRamp(chart, 50);
    const TChart::TLayout before = chart.ComputeLayout();
    const QPoint a = before.Plot.center() - QPoint(60, 40), b = before.Plot.center() + QPoint(60, 40);
    Drag(chart, Qt::LeftButton, a, b);
    QVERIFY(chart.IsZoomed());
    QCOMPARE(chart.BottomAxis.Fixed.Min, before.X.Value(a.x()));
    QCOMPARE(chart.BottomAxis.Fixed.Max, before.X.Value(b.x()));
    QCOMPARE(chart.LeftAxis.Fixed.Min, before.Y.Value(b.y()));  // lower edge
    QCOMPARE(chart.LeftAxis.Fixed.Max, before.Y.Value(a.y()));

    // Clear keeps the zoom; added points do not move the axes.
    chart.btClearClick();
    QVERIFY(chart.IsZoomed());
    AddRamp(chart, 500);
    const TChart::TLayout zoomed = chart.ComputeLayout();
    QCOMPARE(zoomed.X.View.Min, ViewRange(chart.BottomAxis.Fixed.Min, chart.BottomAxis.Fixed.Max,
                                          zoomed.X.P1 - zoomed.X.P0).Min);

    // A leftward drag undoes: the axes follow the data again.
    Drag(chart, Qt::LeftButton, b, a);
    QVERIFY(!chart.IsZoomed());
    const TChart::TLayout undone = chart.ComputeLayout();
    QCOMPARE(undone.X.View.Max, ViewRange(1, 500, undone.X.P1 - undone.X.P0).Max);
  }

  void RightDragScrollsWithTheMouse() {
    TChart chart;
    chart.resize(600, 300);
    AddRamp(chart, 100);
    const TChart::TLayout l = chart.ComputeLayout();
    const double perPixel = (l.X.View.Max - l.X.View.Min) / (l.X.P1 - l.X.P0);
    const QPoint start = l.Plot.center();
    Drag(chart, Qt::RightButton, start, start + QPoint(50, 0));
    QVERIFY(chart.IsZoomed());
    // Content moves right with the mouse, so the range moves left by 50 pixels' worth.
    QVERIFY(qAbs(chart.BottomAxis.Fixed.Min - (1 - 50 * perPixel)) < 1e-9);
    QVERIFY(qAbs(chart.BottomAxis.Fixed.Max - (100 - 50 * perPixel)) < 1e-9);
    const TChart::TLayout after = chart.ComputeLayout();
    QVERIFY(qAbs(after.X.Pixel(50) - (l.X.Pixel(50) + 50)) <= 1);
  }

  void ScrollEndsWhenLeavingThePlot() {
    TChart chart;
    chart.resize(600, 300);
    AddRamp(chart, 100);
    const QRect plot = chart.PlotRect();
    SendMouse(chart, QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, plot.center());
    SendMouse(chart, QEvent::MouseMove, Qt::NoButton, Qt::RightButton, QPoint(plot.right() + 5, plot.center().y()));
    SendMouse(chart, QEvent::MouseMove, Qt::NoButton, Qt::RightButton, plot.center() + QPoint(30, 0));
    QVERIFY(!chart.IsZoomed());
  }

  void ExtremeValuesPaint() {
    // Mixed magnitudes and ranges far below 1e-10 must paint and end.
    TChart chart;
    chart.resize(500, 300);
    const double values[] = {1e300, -1e-300, 1e-10, -1e300, 0, 1.7e308};
    for (int i = 0; i < 600; ++i) chart.AddChartPoint(values[i % 6], values[(i + 1) % 6]);
    QImage image(chart.size(), QImage::Format_RGB32);
    chart.render(&image);
    QCOMPARE(chart.PaintCount(), 1);
    QVERIFY(chart.PlotRect().width() > chart.width() / 3);  // 300-digit labels leave the plot visible
    chart.btClearClick();
    for (int i = 0; i < 600; ++i) chart.AddChartPoint(1 + i * 1e-15, 1 - i * 1e-15);
    chart.render(&image);
    QCOMPARE(chart.PaintCount(), 2);
    QCOMPARE(chart.ComputeLayout().YLabels.size(), size_t(1));
  }
};

QTEST_MAIN(TChartTest)
#include "chart_test.moc"
