// A run's JSON: numbers at the precision they were measured in, figures finer than the sampling
// left empty with a note.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <cmath>

#include "steprun/steprun.h"

namespace {

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
