#include "motion/movefigures.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

// The speed is read between the commands a fifth of the way in from each end of the move:
// samples on time lie on both sides of those points, whatever the first and last ones were.
constexpr double kChordFrom = 0.2;

using TPoint = std::pair<double, double>;

// Returns the lower hull of points: from the lowest first value to the highest, the points no
// straight line between two others passes below; of points with one first value, the lowest.
std::vector<TPoint> LowerHull(std::vector<TPoint> points) {
  std::sort(points.begin(), points.end());
  std::vector<TPoint> hull;
  for (const TPoint& p : points) {
    if (!hull.empty() && hull.back().first == p.first) continue;
    while (hull.size() >= 2) {
      const TPoint& a = hull[hull.size() - 2];
      const TPoint& b = hull.back();
      if ((b.first - a.first) * (p.second - a.second) - (b.second - a.second) * (p.first - a.first) > 0) break;
      hull.pop_back();  // b lies on or above the straight line from a to p
    }
    hull.push_back(p);
  }
  return hull;
}

// Returns the hull's second value at first value x, from its two points either side of x (at
// least two points).
double HullAt(const std::vector<TPoint>& hull, double x) {
  size_t k = 1;
  while (k + 1 < hull.size() && hull[k].first < x) ++k;
  const auto& [x0, y0] = hull[k - 1];
  const auto& [x1, y1] = hull[k];
  return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

// Returns the speed from samples that all know the latest time their values can have been
// read, or nothing when they do not tell it. The board read each command on the line the
// command moved along; that latest time lies on the line, or later by the board's reply delay
// and a servo cycle for a sample on time, and by however long a busy machine took to take the
// answer in for one late: never earlier. The lowest times over the commands (their lower hull)
// therefore keep to the line wherever samples on time are near, and a chord across them gives
// the speed, however many samples came in late and wherever in the move. A board that comes
// to a request late reads a later command, on the same line.
std::optional<double> SpeedBelowTheLateOnes(const std::vector<const TStatusSample*>& samples) {
  std::vector<TPoint> readings;  // command, read by
  for (const TStatusSample* s : samples) readings.emplace_back(s->Status.Command, s->ReadBySeconds);
  const std::vector<TPoint> hull = LowerHull(std::move(readings));
  if (hull.size() < 2) return std::nullopt;
  const double span = hull.back().first - hull.front().first;
  const double from = hull.front().first + kChordFrom * span, to = hull.back().first - kChordFrom * span;
  const double seconds = HullAt(hull, to) - HullAt(hull, from);
  if (seconds == 0) return std::nullopt;
  return (to - from) / seconds;
}

// The speed the command moved at: below the samples taken in late where every sample knows when
// its values were read by, else the least-squares slope of the command over the times the board
// read it, from the samples whose reading is known closely; none below two.
std::optional<double> CommandSlope(const std::vector<const TStatusSample*>& samples) {
  const bool readBy =
      std::all_of(samples.begin(), samples.end(), [](const TStatusSample* s) { return s->ReadBySeconds > 0; });
  if (readBy)
    if (const std::optional<double> speed = SpeedBelowTheLateOnes(samples)) return speed;
  const std::vector<const TStatusSample*> moving = TimelySamples(samples);
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
