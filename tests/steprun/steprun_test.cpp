// One step-response run as zirv7ctl measures, stores and prints it: its amplitude and sample
// period, its JSON (numbers at the precision they were measured in, figures finer than the
// sampling left empty with a note) and its CSV.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

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


// A first-order response with time constant tau samples, at 3 ticks per servo cycle.
TStepRun ExpRun(double tau, int prediv) {
  TStepRun run;
  run.Step = 100;
  run.Prediv = prediv;
  run.Params.MaxOutput = 95;
  run.Params.Multiplier = 1;
  run.Params.TicksPerServo = 3;
  run.Params.FaultError = 1000;
  for (int k = 0; k < 199; ++k) {
    run.Errors.push_back(k == 0 ? 100 : 100 * std::exp(-k / tau));
    run.Outputs.push_back(run.Errors.back() / 2);
  }
  UpdateFigures(run);
  return run;
}

TEST(RunJson, NumbersCarryNoDigitsBeyondTheirPrecision) {
  const TStepRun run = ExpRun(20, 0);
  EXPECT_EQ(*SamplePeriodMs(run), 0.3);
  const QByteArray json = QJsonDocument(RunJson(run)).toJson(QJsonDocument::Compact);
  EXPECT_TRUE(json.contains("\"sample_period_ms\":0.3,")) << json.left(600).constData();
  // 3 x 0.1 and products of it would show as ...00000000004 or ...99999999997.
  EXPECT_FALSE(json.contains("0000000000")) << json.left(600).constData();
  EXPECT_FALSE(json.contains("9999999999")) << json.left(600).constData();
}

// The keys scripts read: every figure, the parameters by their file keys and every sample.
TEST(RunJson, HasTheStableKeys) {
  const TStepRun run = ExpRun(20, 0);
  QStringList keys = RunJson(run).keys();
  keys.sort();
  EXPECT_EQ(keys.join(' ').toStdString(),
            "iae id label note overshoot_pct params peak_ms peak_output peak_sample port prediv rest_error_pp "
            "rest_output_pp_pct rise_ms "
            "rise_samples sample_count sample_period_ms samples saturated settling_ms "
            "settling_samples steady_state_error step time");
  EXPECT_EQ(ParamsJson(run.Params).size(), 14);
  EXPECT_EQ(RunJson(run).value("samples").toArray().size(), 199);
}

TEST(RunJson, ResponseWithinOneSampleLeavesTimesEmptyWithANote) {
  const TStepRun fast = ExpRun(0.05, 50);  // at rest from the first sample on
  EXPECT_FALSE(CoarseSamplingNote(fast).isEmpty());
  const QJsonObject o = RunJson(fast);
  for (const char* key : {"rise_samples", "rise_ms", "peak_ms", "settling_samples", "settling_ms"})
    EXPECT_TRUE(o.value(key).isNull()) << key;
  EXPECT_TRUE(o.value("note").toString().startsWith("the response lies within one sample (15.3 ms)"))
      << o.value("note").toString().toStdString();

  const QJsonObject slow = RunJson(ExpRun(20, 0));
  EXPECT_TRUE(slow.contains("note") && slow.value("note").isNull());  // on every run
  EXPECT_GT(slow.value("rise_ms").toDouble(), 0);
}

TEST(StepTripsServo, AmplitudeBeyondTheFaultError) {
  TPIDParams params;
  params.FaultError = 1000;
  params.Multiplier = 2;
  EXPECT_FALSE(StepTripsServo(500, params));
  EXPECT_TRUE(StepTripsServo(501, params));
  EXPECT_TRUE(StepTripsServo(-501, params));
  params.FaultError = 0;  // no fault error: nothing trips
  EXPECT_FALSE(StepTripsServo(100000, params));
}

}  // namespace
