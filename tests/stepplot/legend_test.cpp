// The legend of a step plot lists the runs in the order of the tables and never cuts an entry.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <cmath>

#include "stepplot/stepplot.h"

namespace {

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
