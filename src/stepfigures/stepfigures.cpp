#include "stepfigures/stepfigures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// The mirrored position response: rises towards Target (|step|) whatever the step's sign.
struct TMirrored {
  std::span<const double> Errors;
  double Sign;
  double Target;

  size_t Size() const { return Errors.size(); }
  double Y(size_t k) const { return Target - Sign * Errors[k]; }
};

// Returns where y first reaches level, interpolated between the samples around it; a response
// already past the level at sample 0 crosses it at 0. Empty when it never gets there.
std::optional<double> FirstCrossing(const TMirrored& r, double level) {
  for (size_t k = 0; k < r.Size(); ++k) {
    const double y = r.Y(k);
    if (y < level) continue;
    if (k == 0) return 0.0;
    const double before = r.Y(k - 1);
    return double(k - 1) + (level - before) / (y - before);
  }
  return std::nullopt;
}

std::optional<double> RiseSamples(const TMirrored& r) {
  const std::optional<double> low = FirstCrossing(r, 0.1 * r.Target);
  const std::optional<double> high = FirstCrossing(r, 0.9 * r.Target);
  if (!low || !high) return std::nullopt;
  return *high - *low;
}

// The first sample from which the response stays inside the band to the end.
std::optional<int> SettlingSamples(const TMirrored& r) {
  const double band = kSettlingBand * r.Target;
  size_t from = r.Size();
  while (from > 0 && std::fabs(r.Y(from - 1) - r.Target) <= band) --from;
  if (from == r.Size()) return std::nullopt;
  return int(from);
}

double SteadyStateError(const TMirrored& r) {
  const size_t tail = std::max<size_t>(1, (r.Size() + 9) / 10);
  double sum = 0;
  for (size_t k = r.Size() - tail; k < r.Size(); ++k) sum += r.Sign * r.Errors[k];
  return sum / double(tail);
}

// The peak-to-peak of values[from, end).
double PeakToPeak(std::span<const double> values, size_t from) {
  const auto [low, high] = std::minmax_element(values.begin() + std::ptrdiff_t(from), values.end());
  return *high - *low;
}

// Fills the rest figures from the tail that starts at from.
void RestFigures(TStepFigures& f, std::span<const double> errors, std::span<const double> outputs, size_t from,
                 std::optional<double> maxOutput) {
  const size_t n = std::min(errors.size(), outputs.size());
  if (from >= n || n - from < size_t(kMinRestSamples)) return;
  const double limit = maxOutput && *maxOutput > 0 ? *maxOutput : 100.0;
  f.RestOutputPpPct = PeakToPeak(outputs.first(n), from) / limit * 100.0;
  f.RestErrorPp = PeakToPeak(errors.first(n), from);
}

// Where a step response's settled tail starts: the last quarter, or from settling on when the
// run settled later; the end when it never settled.
size_t RestTailStart(const TStepFigures& f, size_t size) {
  if (!f.SettlingSamples) return size;
  return std::max(size - size / 4, size_t(*f.SettlingSamples));
}

// The figures of a rest record: the loop left where it stood.
TStepFigures RestRecordFigures(std::span<const double> errors, std::span<const double> outputs,
                               std::optional<double> maxOutput) {
  TStepFigures f;
  const TMirrored r{errors, 1.0, 0.0};
  f.SteadyStateError = SteadyStateError(r);
  for (double e : errors) f.Iae += std::fabs(e);
  for (double out : outputs) f.PeakOutput = std::max(f.PeakOutput, std::fabs(out));
  f.Saturated = maxOutput && !outputs.empty() && f.PeakOutput >= *maxOutput;
  RestFigures(f, errors, outputs, 0, maxOutput);
  return f;
}

}  // namespace

TStepFigures ComputeStepFigures(std::span<const double> errors, std::span<const double> outputs,
                                double step, std::optional<double> maxOutput) {
  TStepFigures f;
  if (errors.empty()) return f;
  if (step == 0) return RestRecordFigures(errors, outputs, maxOutput);
  const TMirrored r{errors, step < 0 ? -1.0 : 1.0, std::fabs(step)};
  f.RiseSamples = RiseSamples(r);
  double peak = r.Y(0);
  for (size_t k = 0; k < r.Size(); ++k) {
    if (r.Y(k) > peak) {
      peak = r.Y(k);
      f.PeakSample = int(k);
    }
    f.Iae += std::fabs(errors[k]);
  }
  f.OvershootPct = std::max(0.0, (peak - r.Target) / r.Target * 100.0);
  f.SettlingSamples = SettlingSamples(r);
  f.SteadyStateError = SteadyStateError(r);
  for (double out : outputs) f.PeakOutput = std::max(f.PeakOutput, std::fabs(out));
  f.Saturated = maxOutput && !outputs.empty() && f.PeakOutput >= *maxOutput;
  RestFigures(f, errors, outputs, RestTailStart(f, errors.size()), maxOutput);
  return f;
}

TStepTimes StepTimes(const TStepFigures& figures, double samplePeriodMs) {
  TStepTimes t;
  if (figures.RiseSamples) t.RiseMs = *figures.RiseSamples * samplePeriodMs;
  t.PeakMs = figures.PeakSample * samplePeriodMs;
  if (figures.SettlingSamples) t.SettlingMs = *figures.SettlingSamples * samplePeriodMs;
  return t;
}
