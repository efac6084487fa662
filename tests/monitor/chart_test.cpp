// The trend chart widget: labels of the empty and single-point chart, point numbering, zoom,
// undo, scroll and Clear, and values of any magnitude.
#include <QImage>
#include <QPushButton>
#include <QTest>

#include "monitor/chart.h"

namespace {

void Drag(TChart& chart, Qt::MouseButton button, QPoint from, QPoint to) {
  QTest::mousePress(&chart, button, {}, from);
  QTest::mouseMove(&chart, to);
  QTest::mouseRelease(&chart, button, {}, to);
}

void AddRamp(TChart& chart, int n) {
  for (int i = 0; i < n; ++i) chart.AddChartPoint(2.0 * i, i % 7 - 3.0);
}

}  // namespace

class TChartTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    SetAxisGroupSeparator(QStringLiteral(","));
    FChart = std::make_unique<TChart>();
    FChart->resize(600, 300);
  }

  void EmptyOnePointAndEqualValuesHaveOneLabelAtTheMiddle() {
    for (int points : {0, 1, 20}) {
      init();
      for (int i = 0; i < points; ++i) FChart->AddChartPoint(7.25, 7.25);
      const TChart::TLayout l = FChart->ComputeLayout();
      const double label = points ? 7.25 : 0;
      QCOMPARE(l.YLabels, std::vector<double>{label});
      QCOMPARE(l.Y.Pixel(label), double((l.Y.P0 + l.Y.P1) / 2));
      if (points < 2) QCOMPARE(l.XLabels, std::vector<double>{double(points)});
    }
  }

  void ClearRestartsTheNumbering() {
    AddRamp(*FChart, 10);
    FChart->btClear->click();
    for (int k = 1; k <= 3; ++k) FChart->AddChartPoint(100.0 + k, -double(k));  // output, error
    QCOMPARE(FChart->Series1.XValues(), (std::vector<double>{1, 2, 3}));
    QCOMPARE(FChart->Series2.YValues(), (std::vector<double>{101, 102, 103}));  // the output
    QCOMPARE(FChart->Series1.MaxY(), -1.0);  // the error, with no range left from before Clear
  }

  void OnlyARightwardDragOfMoreThan16PxBothWaysZooms() {
    const std::pair<QPoint, bool> rows[] = {
        {{16, 16}, false}, {{17, 16}, false}, {{16, 80}, false},  // 16 px one way is not enough
        {{17, 17}, true},  {{60, -40}, true},  {{-60, 40}, false}};  // leftward does not zoom
    for (const auto& [move, zooms] : rows) {
      init();
      AddRamp(*FChart, 50);
      const QPoint start = FChart->PlotRect().center();
      Drag(*FChart, Qt::LeftButton, start, start + move);
      QCOMPARE(FChart->IsZoomed(), zooms);
    }
  }

  void ZoomOutlastsClearUntilUndone() {
    AddRamp(*FChart, 50);
    const TChart::TLayout before = FChart->ComputeLayout();
    const QPoint a = before.Plot.center() - QPoint(60, 40), b = a + QPoint(120, 80);
    Drag(*FChart, Qt::LeftButton, a, b);
    QCOMPARE(FChart->BottomAxis.Fixed.Min, before.X.Value(a.x()));
    QCOMPARE(FChart->BottomAxis.Fixed.Max, before.X.Value(b.x()));
    QCOMPARE(FChart->LeftAxis.Fixed.Min, before.Y.Value(b.y()));  // the lower edge
    QCOMPARE(FChart->LeftAxis.Fixed.Max, before.Y.Value(a.y()));
    FChart->btClearClick();
    AddRamp(*FChart, 500);  // added points do not move the zoomed axes
    const TAxisMap zoomed = FChart->ComputeLayout().X;
    const TAxisRange fixed = FChart->BottomAxis.Fixed;
    QCOMPARE(zoomed.View.Min, ViewRange(fixed.Min, fixed.Max, zoomed.P1 - zoomed.P0).Min);
    Drag(*FChart, Qt::LeftButton, b, a);  // undo: the axes follow the data again
    const TAxisMap undone = FChart->ComputeLayout().X;
    QCOMPARE(undone.View.Max, ViewRange(1, 500, undone.P1 - undone.P0).Max);
  }

  // A drag over an axis whose range in view is zero (no point, one point, equal values) cannot
  // fix that axis: it would hold every later point on one pixel until undone.
  void ZoomAndScrollLeaveAZeroRangeAxisFollowingTheData_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("bottomFixed");
    QTest::newRow("zoom on an empty chart") << 0 << int(Qt::LeftButton) << false;
    QTest::newRow("zoom on one point") << 1 << int(Qt::LeftButton) << false;
    QTest::newRow("zoom on equal values fixes time only") << 20 << int(Qt::LeftButton) << true;
    QTest::newRow("scroll on an empty chart") << 0 << int(Qt::RightButton) << false;
    QTest::newRow("scroll on equal values moves time only") << 20 << int(Qt::RightButton) << true;
  }

  void ZoomAndScrollLeaveAZeroRangeAxisFollowingTheData() {
    QFETCH(int, points);
    QFETCH(int, button);
    QFETCH(bool, bottomFixed);
    for (int i = 0; i < points; ++i) FChart->AddChartPoint(5, 5);
    const QPoint start = FChart->PlotRect().center() - QPoint(40, 30);
    Drag(*FChart, Qt::MouseButton(button), start, start + QPoint(80, 60));
    QCOMPARE(!FChart->BottomAxis.Automatic, bottomFixed);
    QVERIFY(FChart->LeftAxis.Automatic);
    AddRamp(*FChart, 30);  // later samples spread over the left axis
    const TChart::TLayout l = FChart->ComputeLayout();
    QVERIFY(l.Y.View.Max - l.Y.View.Min > 50);
    if (!bottomFixed) QVERIFY(l.X.View.Max >= points + 30);
  }

  void RightDragScrollsWithTheMouse() {
    AddRamp(*FChart, 100);
    const TChart::TLayout l = FChart->ComputeLayout();
    const QPoint start = l.Plot.center();
    Drag(*FChart, Qt::RightButton, start, start + QPoint(50, 0));
    // The content moves right with the mouse, so the range moves left by 50 pixels' worth.
    const double shift = 50 * (l.X.View.Max - l.X.View.Min) / (l.X.P1 - l.X.P0);
    QVERIFY(qAbs(FChart->BottomAxis.Fixed.Min - (1 - shift)) < 1e-9);
    QVERIFY(qAbs(FChart->BottomAxis.Fixed.Max - (100 - shift)) < 1e-9);
  }

  void ValuesOfAnyMagnitudePaintAndEnd() {
    const double values[] = {1e300, -1e-300, 1e-10, -1e300, 0, 1.7e308};
    for (int i = 0; i < 600; ++i) FChart->AddChartPoint(values[i % 6], values[(i + 1) % 6]);
    QImage image(FChart->size(), QImage::Format_RGB32);
    FChart->render(&image);
    QCOMPARE(FChart->PaintCount(), 1);
    QVERIFY(FChart->PlotRect().width() > FChart->width() / 3);  // 300-digit labels leave room
  }

 private:
  std::unique_ptr<TChart> FChart;
};

QTEST_MAIN(TChartTest)
#include "chart_test.moc"
