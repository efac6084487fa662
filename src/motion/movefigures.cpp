#include "motion/movefigures.h"

#include <algorithm>
#include <cmath>

namespace {

// A sample whose read span (the time within which the board read its values, as the wire
// makes certain) is this many times the usual one was kept waiting by a busy machine on its
// way out or back: when within it the board read its values is too loosely known to count.
constexpr double kSlowExchange = 1.5;

// Returns how long the span is within which the board read the sample's values: from the
// request's arrival to the answer's start where the wire times were kept, else from its sending
// to its answer.
double ReadSpan(const TStatusSample& s) {
  if (s.ReadBySeconds > 0) return s.ReadBySeconds - s.ReadAfterSeconds;
  return s.AnsweredSeconds - s.Seconds;
}

// Returns when the board read the sample's values, as closely as the line tells: the latest it
// can have, where the wire times were kept, else when its request went out. The latest is the
// board's own reply delay after the reading, the same for every answer, unless the tool read the
// answer late; a request sent late or read late by the board moves it with the reading.
double ReadSeconds(const TStatusSample& s) { return s.ReadBySeconds > 0 ? s.ReadBySeconds : s.Seconds; }

// Returns the samples whose values were read within a span no wider than kSlowExchange times
// the median one. Samples without an answer time are all kept.
std::vector<const TStatusSample*> TimelySamples(const std::vector<const TStatusSample*>& samples) {
  std::vector<double> spans;
  for (const TStatusSample* s : samples)
    if (s->AnsweredSeconds > 0) spans.push_back(ReadSpan(*s));
  if (spans.size() < samples.size() || spans.empty()) return samples;
  std::nth_element(spans.begin(), spans.begin() + spans.size() / 2, spans.end());
  const double limit = kSlowExchange * spans[spans.size() / 2];
  std::vector<const TStatusSample*> timely;
  for (const TStatusSample* s : samples)
    if (ReadSpan(*s) <= limit) timely.push_back(s);
  return timely;
}

// How much later than the line the command moved along a sample may have been read before it
// counts as read late: this many times the samples' usual distance from their middle one, and
// never less than a millisecond (the board's values are up to a servo cycle old, and at speed a
// count passes in a fraction of a millisecond).
constexpr double kLateSpread = 3;
constexpr double kLateFloorSeconds = 1e-3;

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Returns the samples read on the line the command moved along, of samples that all know the
// latest time their values can have been read. A busy machine that takes an answer in late
// makes that time late, never early, and by more than on-time samples scatter: such a sample
// is left out, whether or not the board itself came to the request late (which moves the
// command read with the time). The line's speed is the median of the speeds between pairs of
// samples, which the late ones do not move while most are on time.
std::vector<const TStatusSample*> ReadOnTheLine(const std::vector<const TStatusSample*>& samples) {
  std::vector<double> speeds;
  for (size_t j = 0; j < samples.size(); ++j)
    for (size_t k = j + 1; k < samples.size(); ++k)
      if (const double dt = ReadSeconds(*samples[k]) - ReadSeconds(*samples[j]); dt > 0)
        speeds.push_back((samples[k]->Status.Command - samples[j]->Status.Command) / dt);
  if (speeds.empty()) return samples;
  const double speed = Median(speeds);
  if (speed == 0) return samples;
  // When each sample was read, less when the line passed its command: the same for every
  // sample on time.
  std::vector<double> late, spread;
  for (const TStatusSample* s : samples) late.push_back(ReadSeconds(*s) - s->Status.Command / speed);
  const double usual = Median(late);
  for (double l : late) spread.push_back(std::abs(l - usual));
  const double limit = usual + std::max(kLateSpread * Median(spread), kLateFloorSeconds);
  std::vector<const TStatusSample*> onTime;
  for (size_t k = 0; k < samples.size(); ++k)
    if (late[k] <= limit) onTime.push_back(samples[k]);
  return onTime;
}

// The least-squares slope of the command over the times the board read it, from the samples
// whose reading is known closely; none below two.
std::optional<double> CommandSlope(const std::vector<const TStatusSample*>& samples) {
  const bool readBy =
      std::all_of(samples.begin(), samples.end(), [](const TStatusSample* s) { return s->ReadBySeconds > 0; });
  const std::vector<const TStatusSample*> moving = readBy ? ReadOnTheLine(samples) : TimelySamples(samples);
  if (moving.size() < 2) return std::nullopt;
  double st = 0, sc = 0;
  for (const TStatusSample* s : moving) {
    st += ReadSeconds(*s);
    sc += s->Status.Command;
  }
  const double n = double(moving.size()), mt = st / n, mc = sc / n;
  double stt = 0, stc = 0;
  for (const TStatusSample* s : moving) {
    const double t = ReadSeconds(*s) - mt;
    stt += t * t;
    stc += t * (s->Status.Command - mc);
  }
  if (stt <= 0) return std::nullopt;
  return stc / stt;
}

TAtSpeedValue Over(const std::vector<const TStatusSample*>& samples, size_t from, double TPIDStatus::*field) {
  double sum = 0, lo = INFINITY, hi = -INFINITY;
  for (size_t k = from; k < samples.size(); ++k) {
    const double v = samples[k]->Status.*field;
    sum += v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return {sum / double(samples.size() - from), hi - lo};
}

// Returns the first sample from which every error stays within the band around the mean of
// the errors from there on: found from the second half's mean, then again from each new
// start's mean until the start holds still.
size_t SettledFrom(const std::vector<const TStatusSample*>& moving) {
  size_t from = moving.size() / 2;
  for (int round = 0; round < 10; ++round) {
    double mean = 0;
    for (size_t k = from; k < moving.size(); ++k) mean += moving[k]->Status.Error;
    mean /= double(moving.size() - from);
    const double band = std::max(kSettleFraction * std::abs(mean), kSettleFloorCounts);
    size_t start = moving.size();
    while (start > 0 && std::abs(moving[start - 1]->Status.Error - mean) <= band) --start;
    if (start == from || start >= moving.size()) return start;
    from = start;
  }
  return from;
}

}  // namespace

std::optional<TAtSpeed> TMoveFigures::AtSpeed() const {
  if (!SettleSeconds || !Speed) return std::nullopt;
  return TAtSpeed{*Speed, Error.Mean, Output.Mean, Command};
}

TMoveFigures MoveFigures(const std::vector<TStatusSample>& samples, double startSeconds, double stopSeconds,
                         double expectedSpeed) {
  TMoveFigures f;
  f.ExpectedSpeed = expectedSpeed;
  std::vector<const TStatusSample*> moving;
  for (const TStatusSample& s : samples) {
    if (s.Seconds < startSeconds) continue;
    if (!s.Status.Enabled) f.Tripped = true;
    f.LargestError = std::max(f.LargestError, std::abs(s.Status.Error));
    if (s.Seconds <= stopSeconds) moving.push_back(&s);
  }
  f.Samples = int(moving.size());
  if (moving.empty()) return f;
  f.SampleInterval = (stopSeconds - startSeconds) / double(moving.size());
  f.Speed = CommandSlope(moving);
  f.Travel = moving.back()->Status.Command - moving.front()->Status.Command;
  if (f.Tripped) return f;
  const size_t from = SettledFrom(moving);
  if (moving.size() - from < size_t(kFewestSettledSamples)) return f;
  f.SettleSeconds = moving[from]->Seconds - startSeconds;
  f.SettleEarliest = (from > 0 ? moving[from - 1]->Seconds : startSeconds) - startSeconds;
  f.SettleLatest = std::max(moving[from]->Seconds, moving[from]->AnsweredSeconds) - startSeconds;
  f.SettledSamples = int(moving.size() - from);
  f.Error = Over(moving, from, &TPIDStatus::Error);
  f.Output = Over(moving, from, &TPIDStatus::Output);
  double command = 0;
  for (size_t k = from; k < moving.size(); ++k) command += moving[k]->Status.Command;
  f.Command = command / double(f.SettledSamples);
  return f;
}

TRipple RippleOf(const TStepRun& record) {
  TRipple r;
  if (const std::optional<double> period = SamplePeriodMs(record)) r.Milliseconds = *period * double(record.Errors.size());
  auto peakToPeak = [](const std::vector<double>& v) {
    if (v.empty()) return 0.0;
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return *hi - *lo;
  };
  r.ErrorPeakToPeak = peakToPeak(record.Errors);
  r.OutputPeakToPeak = peakToPeak(record.Outputs);
  return r;
}
