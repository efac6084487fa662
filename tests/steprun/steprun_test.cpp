// One step-response run as zirv7ctl measures, stores and prints it.
#include <gtest/gtest.h>

#include <QJsonArray>

#include "steprun/steprun.h"

namespace {

TEST(StepRunTest, AmplitudeAndSamplePeriodFollowTheBoardsSettings) {
  struct TCase {
    const char* Name;
    int Multiplier, Ticks, Step, Prediv;
    double Amplitude;
    std::optional<double> PeriodMs;
  };
  const TCase cases[] = {
      {"plain", 1, 4, 100, 0, 100, 0.4},
      {"multiplied", 3, 4, -100, 2, -300, 1.2},
      {"multiplier_below_one_counts_as_one", 0, 10, 50, 0, 50, 1.0},
      {"no_ticks_no_period", 1, 0, 50, 0, 50, std::nullopt},
  };
  for (const TCase& c : cases) {
    TPIDParams p;
    p.Multiplier = c.Multiplier;
    p.TicksPerServo = c.Ticks;
    EXPECT_EQ(StepAmplitude(c.Step, p), c.Amplitude) << c.Name;
    const std::optional<double> period = SamplePeriodMs(p, c.Prediv);
    ASSERT_EQ(period.has_value(), c.PeriodMs.has_value()) << c.Name;
    if (period) {
      EXPECT_NEAR(*period, *c.PeriodMs, 1e-12) << c.Name;
    }
  }
}

TStepRun SmallRun() {
  TStepRun run;
  run.Id = 7;
  run.Label = QStringLiteral("a, \"b\".pset");
  run.Step = 10;
  run.Params.TicksPerServo = 4;
  run.Params.P = 0.25;
  run.Errors = {10, 5, 1};
  run.Outputs = {50, 20, 3};
  UpdateFigures(run);
  return run;
}

// The parameters travel through the history's JSON unchanged, and a listing without samples
// says how many there are.
TEST(StepRunTest, JsonKeepsParametersAndSamples) {
  const TStepRun run = SmallRun();
  EXPECT_EQ(ParamsFromJson(ParamsJson(run.Params)).P, 0.25);
  const QJsonObject full = RunJson(run);
  EXPECT_EQ(full.value("samples").toArray().size(), 3);
  const QJsonObject listed = RunJson(run, 3);
  EXPECT_FALSE(listed.contains("samples"));
  EXPECT_EQ(listed.value("sample_count").toInt(), 3);
}

// A label with a comma and quotes stays one CSV field.
TEST(StepRunTest, CsvQuotesLabelsAndHasALinePerSample) {
  const QString csv = RunsCsv({SmallRun()});
  const QStringList lines = csv.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("7,\"a, \"\"b\"\".pset\",10,0,0,")))
      << lines[1].toStdString();
}

}  // namespace
