#include "tuning/looplaw.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Samples that must be compared, with something in them that tells laws apart, before the
// check says anything.
constexpr int kDecisiveSamples = 10;

struct TReplay {
  TLoopLawCheck Check;
  int Telling = 0;  // compared samples where the law had something to do

  void Compare(int k, double replayed, double recorded, bool telling) {
    ++Check.Checked;
    if (telling) ++Telling;
    const double deviation = std::abs(replayed - recorded);
    if (deviation > Check.WorstDeviation) {
      Check.WorstDeviation = deviation;
      Check.WorstSample = k;
    }
  }

  TLoopLawCheck Finish(double tolerance) {
    if (Check.WorstDeviation > tolerance) Check.Verdict = TLawVerdict::Differs;
    else if (Telling >= kDecisiveSamples) Check.Verdict = TLawVerdict::Matches;
    else Check.Verdict = TLawVerdict::Undecided;
    return Check;
  }
};

double Limit(const TLoopSettings& loop) { return std::clamp(loop.MaxOutput, 0.0, 100.0); }

// Every cycle sampled: the replay of the whole law.
TLoopLawCheck ReplayEveryCycle(const TStepRecord& r, double tolerance) {
  const TLoopSettings& loop = r.Setup.Loop;
  const double limit = Limit(loop);
  const double command = r.Setup.Start.Command + r.Setup.Step;
  TReplay replay;
  replay.Check.How = "every cycle replayed (prediv 0)";
  std::optional<double> integral;  // before the sample's cycle
  const size_t n = std::min(r.Errors.size(), r.Outputs.size());
  for (size_t k = 1; k < n; ++k) {
    const double e = r.Errors[k], out = r.Outputs[k];
    const double withoutI = loop.P * e + loop.D * (e - r.Errors[k - 1]) / loop.Period + loop.FF0 * command;
    if (loop.I == 0) integral = 0;
    if (!integral) {
      // The first output off the limit tells the integral before its cycle.
      if (std::abs(out) < limit - tolerance) integral = (out - withoutI) / loop.I - e;
      else continue;
    }
    const double raw = withoutI + loop.I * (*integral + e);
    const double replayed = std::clamp(raw, -limit, limit);
    replay.Compare(int(k), replayed, out, e != 0 || r.Errors[k - 1] != 0);
    if (raw == replayed) *integral += e;
  }
  return replay.Finish(tolerance);
}

// Returns whether a deviation is what a count that came and went between two samples makes:
// whole D kicks of one count (D / period each), give or take the integral of a few counts.
bool FlickeredUnseen(double deviation, const TLoopSettings& loop, double cycles, double tolerance) {
  if (loop.D == 0) return false;
  const double kick = loop.D / loop.Period;
  const double kicks = std::round(deviation / kick);
  return kicks != 0 && std::abs(deviation - kicks * kick) <= tolerance + 2 * std::abs(loop.I) * cycles;
}

// Samples prediv + 1 cycles apart: only where the error held still over three samples.
TLoopLawCheck ReplayStillStretches(const TStepRecord& r, double tolerance) {
  const TLoopSettings& loop = r.Setup.Loop;
  const double limit = Limit(loop);
  const double cycles = r.Setup.Prediv + 1;
  TReplay replay;
  replay.Check.How = "samples " + std::to_string(r.Setup.Prediv + 1) +
                     " cycles apart: the output's growth by I x error per cycle replayed where the error held "
                     "still; P and D are replayed exactly only at prediv 0";
  const size_t n = std::min(r.Errors.size(), r.Outputs.size());
  for (size_t k = 2; k < n; ++k) {
    const double e = r.Errors[k];
    const bool still = e == r.Errors[k - 1] && e == r.Errors[k - 2];
    const bool offLimit = std::abs(r.Outputs[k]) < limit - tolerance && std::abs(r.Outputs[k - 1]) < limit - tolerance;
    if (!still || !offLimit) continue;
    const double replayed = r.Outputs[k - 1] + loop.I * cycles * e;
    if (FlickeredUnseen(r.Outputs[k] - replayed, loop, cycles, tolerance)) continue;
    replay.Compare(int(k), replayed, r.Outputs[k], e != 0 && loop.I != 0);
  }
  return replay.Finish(tolerance);
}

}  // namespace

TLoopLawCheck CheckLoopLaw(const TStepRecord& record, double tolerance) {
  return record.Setup.Prediv == 0 ? ReplayEveryCycle(record, tolerance) : ReplayStillStretches(record, tolerance);
}
