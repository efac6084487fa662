// Pictures of step-response runs: every run's output limit is drawn, and the legend lists the
// runs in the order of the tables and never cuts an entry.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <set>

#include "stepplot/stepplot.h"

namespace {

// A run that drives the output up to its limit (down to minus it for a negative step) and
// settles.
TStepRun SaturatingRun(double maxOutput, int step = 100) {
  TStepRun run;
  run.Step = step;
  run.Prediv = 0;
  run.Params.P = 0.5;
  run.Params.MaxOutput = maxOutput;
  run.Params.Multiplier = 1;
  run.Params.TicksPerServo = 4;
  for (int k = 0; k < 199; ++k) {
    run.Errors.push_back(step * std::exp(-k / 20.0));
    run.Outputs.push_back(std::clamp(2 * run.Errors.back(), -maxOutput, maxOutput));
  }
  UpdateFigures(run);
  return run;
}

// The heights of the long horizontal lines drawn in the colour of the output limit.
std::set<int> LimitLineHeights(const QString& svgFile) {
  QFile file(svgFile);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QXmlStreamReader xml(&file);
  std::vector<bool> limitColour{false};
  std::set<int> heights;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isEndElement() && xml.name() == QLatin1String("g")) limitColour.pop_back();
    if (!xml.isStartElement()) continue;
    if (xml.name() == QLatin1String("g")) {
      const auto stroke = xml.attributes().value(QLatin1String("stroke"));
      limitColour.push_back(stroke.isEmpty() ? limitColour.back()
                                             : stroke == QLatin1String("#c82828"));
    } else if (xml.name() == QLatin1String("polyline") && limitColour.back()) {
      const QStringList points =
          xml.attributes().value(QLatin1String("points")).toString().split(' ', Qt::SkipEmptyParts);
      if (points.size() != 2) continue;
      const QStringList a = points[0].split(','), b = points[1].split(',');
      if (a[1] == b[1] && std::fabs(b[0].toDouble() - a[0].toDouble()) > 400)
        heights.insert(int(std::lround(a[1].toDouble())));
    }
  }
  return heights;
}

class StepPlotTest : public testing::Test {
 protected:
  QString File(const QString& name) const { return FDir.filePath(name); }
  QTemporaryDir FDir;
};

// Runs made with other gains files can have other limits: each is drawn on the sides of zero
// the outputs go to.
TEST_F(StepPlotTest, EveryRunsOutputLimitIsDrawn) {
  struct TCase {
    std::vector<double> Limits;
    int Step;  // of the last run; the others step by 100
    size_t Lines;
  };
  for (const TCase& c : {TCase{{100}, 100, 1}, TCase{{60, 100}, 100, 2},
                         TCase{{100, 60, 100}, 100, 2}, TCase{{60, 100}, -100, 4}}) {
    std::vector<TStepRun> runs;
    for (double limit : c.Limits) runs.push_back(SaturatingRun(limit));
    runs.back() = SaturatingRun(c.Limits.back(), c.Step);
    const TResult<void> saved = SaveStepPlot(File("limits.svg"), TPlotFormat::Svg, runs, "limits");
    ASSERT_TRUE(saved) << saved.Failure().Message.toStdString();
    EXPECT_EQ(LimitLineHeights(File("limits.svg")).size(), c.Lines) << c.Limits.size() << " runs";
  }
}


TStepRun LabelledRun(const QString& label, double p) {
  TStepRun run;
  run.Label = label;
  run.Step = 100;
  run.Params.P = p;
  run.Params.MaxOutput = 95;
  run.Params.Multiplier = 1;
  run.Params.TicksPerServo = 4;
  for (int k = 0; k < 199; ++k) {
    run.Errors.push_back(100 * std::exp(-k / (10.0 + 10 * p)));
    run.Outputs.push_back(run.Errors.back() / 2);
  }
  UpdateFigures(run);
  return run;
}

// Every text the SVG draws, in drawing order.
QStringList SvgTexts(const QString& file) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) return {};
  QXmlStreamReader xml(&in);
  QStringList texts;
  while (!xml.atEnd())
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text"))
      texts << xml.readElementText(QXmlStreamReader::IncludeChildElements);
  return texts;
}

TEST(StepPlotLegend, RunsInTableOrderAndLongEntriesWhole) {
  const QString longLabel =
      QStringLiteral("tunings/2026-12-09/line-3/motor-left-after-gearbox-change-second-try.pset");
  const std::vector<TStepRun> runs = {LabelledRun("first.pset", 0.2), LabelledRun("second.pset", 0.3),
                                      LabelledRun(longLabel, 0.4)};
  QTemporaryDir dir;
  const TResult<void> saved = SaveStepPlot(dir.filePath("plot.svg"), TPlotFormat::Svg, runs, "Legend");
  ASSERT_TRUE(saved) << saved.Failure().Message.toStdString();
  const QStringList texts = SvgTexts(dir.filePath("plot.svg"));
  const qsizetype first = texts.indexOf("first.pset"), second = texts.indexOf("second.pset");
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  EXPECT_LT(first, second);
  const QString all = texts.join(QString());
  EXPECT_FALSE(all.contains(QChar(0x2026))) << "an entry was cut";
  // Wrapped over lines, the long entry's text is still whole and after the others.
  const QString joined = QString(all).remove(u' ').remove(u'\n');
  EXPECT_GT(joined.indexOf(longLabel), joined.indexOf("second.pset")) << all.toStdString();
}

}  // namespace
