#include "protocol/transactions.h"

#include <algorithm>

#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "protocol/taggedvalue.h"
#include "serial/linechannel.h"

namespace {

// Starts a marked transaction: waits for a running one, discards stale input, marks this one.
void BeginTransaction(TLineChannel& channel) {
  channel.WaitUntilIdle();
  channel.FlushReceive();
  channel.FWaitRS232 = true;
}

// Polls until LineBuf holds count lines or limit polls have run. Returns false when the wait
// ran out, even if the last line came in its last poll.
bool WaitForLines(TLineChannel& channel, int count, int limit) {
  int r = 0;
  while (channel.LineBuf->size() < count && r < limit) {
    TLineChannel::Poll();
    ++r;
  }
  return r < limit;
}

// One "s" answer line: its index, its tag and where its value goes.
struct TStatusLine {
  int Line;
  const char* Tag;
  double TPIDStatus::*DoubleField;
  int32_t TPIDStatus::*IntField;
};

// In line order 0 to 8, the order in which the fields are filled.
constexpr TStatusLine StatusLines[] = {
    {0, "command", nullptr, &TPIDStatus::Command},
    {1, "feedback", nullptr, &TPIDStatus::Feedback},
    {2, "error", &TPIDStatus::Error, nullptr},
    {3, "error_i", &TPIDStatus::ErrorI, nullptr},
    {4, "error_d", &TPIDStatus::ErrorD, nullptr},
    {5, "output", &TPIDStatus::Output, nullptr},
    {6, "limit_state", nullptr, &TPIDStatus::LimitState},
    {7, "servo enabled", nullptr, &TPIDStatus::Enabled},
    {8, "test_osc", nullptr, &TPIDStatus::TestOsc},
};

// Returns the parameter row answered on line of the "l" answer.
const TParamRow& RowOfListLine(int line) {
  for (const TParamRow& row : ParamTable())
    if (row.ListLine == line) return row;
  Q_UNREACHABLE();
}

}  // namespace

bool SetBoardValue(TLineChannel& channel, const QString& letter, const QString& tag, double value,
                   double& echoed) {
  return SetBoardValueText(channel, letter, tag, FormatNumber(value), echoed);
}

QString SetCommandText(const QString& letter, const QString& valueText) {
  return letter + QLatin1Char(' ') + valueText;
}

bool SetBoardValueText(TLineChannel& channel, const QString& letter, const QString& tag,
                       const QString& valueText, double& echoed) {
  BeginTransaction(channel);
  channel.SendLine(SetCommandText(letter, valueText));
  bool result = false;
  // A nested command may have taken the answer and emptied the list meanwhile: then there is
  // no line to parse and the set counts as failed.
  if (channel.WaitForReply() && !channel.LineBuf->isEmpty()) {
    const QString line = channel.LineBuf->last();
    channel.FlushReceive();
    result = ParseTaggedValue(line, tag, echoed);
  }
  channel.FWaitRS232 = false;
  return result;
}

bool SetBoardValueTagged(TLineChannel& channel, const QString& letter, const QString& tag,
                         const QString& valueText, double& echoed) {
  BeginTransaction(channel);
  channel.SendLine(SetCommandText(letter, valueText));
  const std::optional<QString> line = channel.WaitForLineWith(tag);
  channel.FlushReceive();
  channel.FWaitRS232 = false;
  return line && ParseTaggedValue(*line, tag, echoed);
}

void ReadStatus(TLineChannel& channel, TPIDStatus& status) {
  status.Valid = false;
  BeginTransaction(channel);
  channel.SendLine(QStringLiteral("s"));
  if (!WaitForLines(channel, StatusLineCount, StatusPollLimit)) return;
  if (ParseStatusAnswer(*channel.LineBuf, status)) channel.FWaitRS232 = false;
}

bool ParseStatusAnswer(const QStringList& lines, TPIDStatus& status) {
  status.Valid = false;
  if (lines.size() < StatusLineCount) return false;
  for (const TStatusLine& s : StatusLines) {
    double v = 0;
    if (!ParseTaggedValue(lines.at(s.Line), QLatin1String(s.Tag), v)) return false;
    if (s.DoubleField)
      status.*s.DoubleField = v;
    else
      status.*s.IntField = RoundToInt32(v);
  }
  status.Valid = true;
  return true;
}

bool IsStatusAnswerStart(const QString& line) { return line.contains(QLatin1String(StatusLines[0].Tag)); }

// The board's oscillator clock: "o <n>" moves the command by 29,400,000 / n counts a second,
// so that a speed of v x 10 counts a second is 2,940,000 / v.
constexpr double kOscillatorClock = 29400000.0;

double OscillatorValue(int v) {
  if (v == 0) return 0;
  return RoundHalfEven(kOscillatorClock / 10 / double(v));
}

double OscillatorSpeed(double o) { return o == 0 ? 0 : kOscillatorClock / o; }

void ReadParameters(TLineChannel& channel, TPIDParams& params) {
  params.Valid = false;
  BeginTransaction(channel);
  channel.SendLine(QStringLiteral("l"));
  if (!WaitForLines(channel, ParametersLineCount, ParametersPollLimit)) return;

  double v = 0;
  if (!ParseTaggedValue(channel.LineBuf->at(2), QStringLiteral("servo enabled"), v)) return;
  params.Enabled = RoundToInt32(v);
  // Lines 3 to 16 in line order; the table's rows are in another order.
  for (int line = 3; line < ParametersLineCount; ++line) {
    const TParamRow& row = RowOfListLine(line);
    if (!ParseTaggedValue(channel.LineBuf->at(line), QLatin1String(row.Tag), v)) return;
    StoreAnswer(params, row, v);
  }
  params.Valid = true;
  channel.FWaitRS232 = false;
}

QList<TStepSample> StepResponseExchange(TLineChannel& channel, int prediv, int step, int ticksPerServo) {
  QList<TStepSample> samples;
  StepResponseExchange(channel, prediv, step, ticksPerServo,
                       [&](const TStepSample& s) { samples.append(s); });
  return samples;
}

void StepResponseExchange(TLineChannel& channel, int prediv, int step, int ticksPerServo,
                          const std::function<void(const TStepSample&)>& onSample) {
  channel.FlushReceive();
  const quint64 flushes = channel.FlushCount();
  channel.SendLine(QStringLiteral("r%1c%2ok1").arg(prediv).arg(step));
  if (!WaitForLines(channel, StepLineCount, StepAnswerPolls(prediv, ticksPerServo)))
    return;
  // Another exchange run during the wait (a click, a tick) emptied the list: the lines there
  // now are not this answer's own, and its lines before the break are gone.
  if (channel.FlushCount() != flushes) return;
  ParseStepAnswer(*channel.LineBuf, onSample);
}

int StepAnswerPolls(int prediv, int ticksPerServo) {
  // Every poll sleeps 1 ms, so counting one poll per millisecond waits at least that long
  // however busy the machine is, and the count does not depend on the clock.
  return qMax(StepPollLimit, StepAnswerTimeMs(prediv, ticksPerServo));
}

int StepAnswerTimeMs(int prediv, int ticksPerServo) {
  // In tenths of a millisecond, the servo cycle's unit, then rounded up to whole ms.
  const qint64 cycles = qint64(kStepTestSamples) * (qMax(prediv, 0) + 1);
  const qint64 boardTenths = cycles * qMax(ticksPerServo, 1);
  const qint64 wireMs = (qint64(StepLineCount) * StepLineBytes * 1000 + kWireBytesPerSecond - 1) /
                        kWireBytesPerSecond;
  return int((boardTenths + 9) / 10 + wireMs + StepAnswerMarginMs);
}

void ParseStepAnswer(const QStringList& lines,
                     const std::function<void(const TStepSample&)>& onSample) {
  const qsizetype end = std::min<qsizetype>(StepFirstSampleLine + 2 * kStepTestSamples, lines.size());
  for (qsizetype j = StepFirstSampleLine; j + 1 < end; j += 2) {
    TStepSample s;
    if (!ParseTaggedValue(lines.at(j), QStringLiteral("error"), s.Error)) break;
    if (!ParseTaggedValue(lines.at(j + 1), QStringLiteral("output"), s.Output)) break;
    onSample(s);
  }
}
