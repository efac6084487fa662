// The step test's answer read from the lines the channel kept: which lines carry samples, and
// where reading stops.
#include <gtest/gtest.h>

#include <QStringList>
#include <vector>

#include "globals/errors.h"
#include "protocol/transactions.h"

namespace {

// A whole answer as the board sends it: four heading lines, the pairs, the two closing lines.
QStringList Answer(int pairs) {
  QStringList lines = {"step response\r", "prediv: 1\r", "step: 100\r", "samples: 199\r"};
  for (int k = 0; k < pairs; ++k) {
    lines.append(QStringLiteral("error: %1\r").arg(100 - k));
    lines.append(QStringLiteral("output: %1\r").arg(k * 0.5));
  }
  lines.append("end of step response\r");
  lines.append("cycles: 398\r");
  return lines;
}

std::vector<TStepSample> Parse(const QStringList& lines) {
  std::vector<TStepSample> samples;
  ParseStepAnswer(lines, [&](const TStepSample& s) { samples.push_back(s); });
  return samples;
}

TEST(StepAnswerTest, ReadsThePairsOfLinesFourTo401) {
  const std::vector<TStepSample> samples = Parse(Answer(199));
  ASSERT_EQ(samples.size(), 199u);
  EXPECT_EQ(samples.front().Error, 100);
  EXPECT_EQ(samples.front().Output, 0);
  EXPECT_EQ(samples.back().Error, 100 - 198);
  EXPECT_EQ(samples.back().Output, 99);
}

TEST(StepAnswerTest, StopsWhereTheAnswerStops) {
  struct {
    const char* Name;
    QStringList Lines;
    size_t Samples;
  } cases[] = {
      {"no lines", {}, 0},
      {"headings only", Answer(0).mid(0, 4), 0},
      {"an error line without its output line", Answer(3).mid(0, 4 + 5), 2},
      {"a broken-off answer keeps the whole pairs", Answer(50).mid(0, 4 + 100), 50},
      {"pairs beyond line 401 are not samples", Answer(250), 199},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.Lines).size(), c.Samples) << c.Name;
}

TEST(StepAnswerTest, AnUnexpectedLineEndsTheSamples) {
  QStringList lines = Answer(199);
  lines[4 + 2 * 7] = "?\r";
  EXPECT_EQ(Parse(lines).size(), 7u);
}

TEST(StepAnswerTest, AMalformedNumberRaisesAfterTheSamplesBeforeIt) {
  QStringList lines = Answer(199);
  lines[4 + 2 * 3 + 1] = "output: 1.2.3\r";
  std::vector<TStepSample> samples;
  EXPECT_THROW(ParseStepAnswer(lines, [&](const TStepSample& s) { samples.push_back(s); }),
               EConvertError);
  EXPECT_EQ(samples.size(), 3u);
}

}  // namespace
