// The trend chart widget: labels of the empty and single-point chart, point numbering and
// order, zoom, undo, scroll and Clear, values of any magnitude, and its look in pixels.
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

const QColor kErrorColour(0x44, 0x66, 0xA3);
const QColor kOutputColour(0xF3, 0x9C, 0x35);

QImage Grab(TChart& chart) {
  return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Returns the rows of column x whose pixel has the colour.
std::vector<int> RowsOf(const QImage& image, int x, const QColor& colour) {
  std::vector<int> rows;
  for (int y = 0; y < image.height(); ++y)
    if (image.pixelColor(x, y) == colour) rows.push_back(y);
  return rows;
}

// Returns the bounding box of the pixels in which two images of one size differ.
QRect Difference(const QImage& a, const QImage& b) {
  QRect box;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) box |= QRect(x, y, 1, 1);
  return box;
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

  // After Clear the chart is empty again: the single label 0 at the middle of each axis. The
  // button is "Clear" at its place in the chart's corner.
  void ClearEmptiesTheChartFromItsCorner() {
    QCOMPARE(FChart->btClear->text(), QStringLiteral("Clear"));
    QCOMPARE(FChart->btClear->geometry(), QRect(0, 6, 37, 19));
    AddRamp(*FChart, 5);
    FChart->btClear->click();
    QCOMPARE(FChart->Series1.Count() + FChart->Series2.Count(), 0);
    const TChart::TLayout l = FChart->ComputeLayout();
    QCOMPARE(l.XLabels, std::vector<double>{0});
    QCOMPARE(l.YLabels, std::vector<double>{0});
    QCOMPARE(l.X.Pixel(0), double((l.X.P0 + l.X.P1) / 2));
    QCOMPARE(l.Y.Pixel(0), double((l.Y.P0 + l.Y.P1) / 2));
  }

  // A trace keeps its points in ascending x: a smaller x is inserted before, an equal one after
  // those already there; AddXY returns where the point went.
  void TracePointsStayInAscendingX() {
    const struct {
      const char* Name;
      std::vector<double> Xs;
      std::vector<int> Indices;
      std::vector<double> Order;  // the y values (the order of arrival) as stored
    } rows[] = {
        {"ascending x is appended", {1, 2, 3}, {0, 1, 2}, {0, 1, 2}},
        {"smaller x inserted before", {5, 1}, {0, 0}, {1, 0}},
        {"equal x keeps the order of arrival", {1, 3, 1}, {0, 1, 1}, {0, 2, 1}},
        {"insert in the middle", {1, 4, 2, 3}, {0, 1, 1, 2}, {0, 2, 3, 1}},
    };
    for (const auto& r : rows) {
      TLineSeries trace(QStringLiteral("t"), Qt::black, 2);
      for (size_t i = 0; i < r.Xs.size(); ++i)
        QVERIFY2(trace.AddXY(r.Xs[i], double(i)) == r.Indices[i], r.Name);
      QVERIFY2(trace.YValues() == r.Order, r.Name);
      QVERIFY2(trace.MinY() == 0 && trace.MaxY() == double(r.Xs.size() - 1), r.Name);
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

  // What a person sees: each trace a 2 px line in its colour, "Output" over "Error" where they
  // cross, black axis lines of 2 px, both axis titles, the legend and "Clear" at the top left.
  void LooksAsDesigned() {
    // Error flat at 0; Output climbs from -10 to 10, crossing it at point 11.
    for (int i = 0; i < 21; ++i) FChart->AddChartPoint(i - 10.0, 0);
    const QImage image = Grab(*FChart);
    const TChart::TLayout l = FChart->ComputeLayout();
    const int zeroY = int(l.Y.Pixel(0));
    const std::vector<int> errorRows = RowsOf(image, int(l.X.Pixel(4)), kErrorColour);
    QCOMPARE(errorRows.size(), size_t(2));
    QVERIFY(errorRows[1] == errorRows[0] + 1 && std::abs(errorRows[0] - zeroY) <= 1);
    QCOMPARE(image.pixelColor(int(l.X.Pixel(11)), zeroY), kOutputColour);
    const int midY = l.Plot.center().y(), midX = l.Plot.center().x();
    for (int d : {1, 2}) {
      QCOMPARE(image.pixelColor(l.Plot.left() - d, midY), QColor(Qt::black));
      QCOMPARE(image.pixelColor(midX, l.Plot.bottom() + d), QColor(Qt::black));
    }

    // The legend: a short line in each trace's colour, "Error" above "Output", text beside.
    int errorRow = -1, outputRow = -1;
    for (int y = l.Legend.top(); y <= l.Legend.bottom(); ++y) {
      const QColor c = image.pixelColor(l.Legend.left() + 12, y);
      if (c == kErrorColour && errorRow < 0) errorRow = y;
      if (c == kOutputColour && outputRow < 0) outputRow = y;
    }
    QVERIFY(errorRow > 0 && outputRow > errorRow);
    QCOMPARE(image.pixelColor(l.Legend.left() + 12, errorRow + 1), kErrorColour);
    QCOMPARE(image.pixelColor(l.Legend.left() + 12, errorRow + 2), QColor(Qt::white));

    // Each axis title: where the image changes when the title is taken away.
    FChart->BottomAxis.Title.clear();
    const QImage noBottomTitle = Grab(*FChart);
    const QRect bottomTitle = Difference(image, noBottomTitle);
    QVERIFY(bottomTitle.top() > l.Plot.bottom() + 8 && bottomTitle.width() > bottomTitle.height());
    QVERIFY(std::abs(bottomTitle.center().x() - midX) <= 2);
    FChart->LeftAxis.Title.clear();
    const QRect leftTitle = Difference(noBottomTitle, Grab(*FChart));  // turned 90 degrees
    QVERIFY(leftTitle.height() > leftTitle.width() && leftTitle.right() < l.Plot.left() - 10);
    QVERIFY(std::abs(leftTitle.center().y() - midY) <= 2);

    QCOMPARE(FChart->btClear->geometry(), QRect(0, 6, 37, 19));
    QCOMPARE(FChart->btClear->text(), QStringLiteral("Clear"));
    const QImage button = FChart->btClear->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // The button is painted over the chart there (its rounded corners show the chart's white).
    QCOMPARE(image.copy(2, 8, 33, 15), button.copy(2, 2, 33, 15));
  }

  // A right drag scrolls only while the mouse stays over the plot: leaving it ends the drag.
  void ScrollEndsWhenLeavingThePlot() {
    AddRamp(*FChart, 100);
    const QRect plot = FChart->PlotRect();
    QTest::mousePress(FChart.get(), Qt::RightButton, {}, plot.center());
    QTest::mouseMove(FChart.get(), QPoint(plot.right() + 5, plot.center().y()));
    QTest::mouseMove(FChart.get(), plot.center() + QPoint(30, 0));
    QVERIFY(!FChart->IsZoomed());
    QTest::mouseRelease(FChart.get(), Qt::RightButton, {}, plot.center() + QPoint(30, 0));
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
