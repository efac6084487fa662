// zirv7ctl step refuses a step that trips the servo, and leaves figures finer than its
// sampling empty.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/ctl/ctlrun.h"
#include "tests/ctl/simboard.h"

namespace {

class StepRulesTest : public testing::Test, public TSimBoardFixture {};

TEST_F(StepRulesTest, StepBeyondTheFaultErrorIsRefusedBeforeTheTest) {
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "-1001"});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_TRUE(r.Err.contains("a step of -1001 counts lies beyond \"Fault Error (f):\" 1000")) << r.Err.toStdString();
  EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
  EXPECT_EQ(Sim().ReceivedCommands(), std::vector<std::string>{"l"});
  EXPECT_EQ(RunCtlCaptured({"step", "--port", Port(), "--step", "1000"}).Status, kExitOk);
}

TEST_F(StepRulesTest, ResponseWithinOneSampleShowsNoTimes) {
  const TCtlResult r = RunCtlCaptured({"step", "--port", Port(), "--step", "100", "--prediv", "50"});
  ASSERT_EQ(r.Status, kExitOk) << r.Err.toStdString();
  EXPECT_TRUE(r.Err.contains("run 1: the response lies within one sample (20.4 ms)")) << r.Err.toStdString();
  const QStringList row = r.Out.split(u'\n')[1].simplified().split(u' ');
  ASSERT_GE(row.size(), 9) << r.Out.toStdString();
  EXPECT_EQ(row[5], "-");  // rise
  EXPECT_FALSE(r.Out.contains("0.00 ms")) << r.Out.toStdString();
  const QJsonObject run = QJsonDocument::fromJson(RunCtlCaptured({"show", "1", "--json"}).Out.toUtf8())
                              .object()["runs"].toArray()[0].toObject();
  EXPECT_TRUE(run["settling_ms"].isNull());
  EXPECT_TRUE(run["note"].toString().startsWith("the response lies within one sample"));
}

}  // namespace
