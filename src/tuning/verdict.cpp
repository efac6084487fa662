#include "tuning/verdict.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "tuning/fixedtext.h"

namespace {

struct TRunPair {
  const char* Name;
  const TStepFigures& Before;
  const TStepFigures& After;
};

double SteadyBound(double deadband) { return std::max(1.0, deadband); }

void Fail(std::vector<TFigureFailure>& out, const char* run, const char* figure, const std::string& why) {
  out.push_back({run, figure, std::string(figure) + " of the " + run + " step: " + why});
}

void JudgeStep(std::vector<TFigureFailure>& out, const TRunPair& p, const TTuningGoal& goal, double deadband) {
  const TStepFigures &b = p.Before, &a = p.After;
  if (!a.SettlingSamples) Fail(out, p.Name, "settling", "the run never settled");
  else if (a.SettlingSamples.value_or(INT_MAX) > b.SettlingSamples.value_or(INT_MAX - 1) + 1)
    Fail(out, p.Name, "settling",
         "later than before (sample " + std::to_string(*a.SettlingSamples) + " against " +
             (b.SettlingSamples ? std::to_string(*b.SettlingSamples) : std::string("never")) + ")");
  const double overshootLimit = CornerOvershootLimitPct(goal);
  if (a.OvershootPct > overshootLimit)
    Fail(out, p.Name, "overshoot",
         FixedText(a.OvershootPct, 1) + " %, beyond the goal of " + FixedText(overshootLimit, 1) + " %" +
             (a.OvershootPct > b.OvershootPct ? " and more than before (" + FixedText(b.OvershootPct, 1) + " %)" : ""));
  const double bound = SteadyBound(deadband);
  if (std::abs(a.SteadyStateError) > bound)
    Fail(out, p.Name, "steady-state error",
         FixedText(std::abs(a.SteadyStateError), 2) + " counts, beyond " + FixedText(bound, 0) + " (before " +
             FixedText(std::abs(b.SteadyStateError), 2) + ")");
  if (a.Iae > b.Iae * 1.05 + 1)
    Fail(out, p.Name, "IAE", FixedText(a.Iae, 0) + ", worse than before (" + FixedText(b.Iae, 0) + ")");
}

}  // namespace

std::optional<double> RestOutputPpPct(const TBoardFigures& f) {
  std::optional<double> worst;
  for (const std::optional<double>& v :
       {f.Forward.RestOutputPpPct, f.Reverse.RestOutputPpPct, f.Rest ? f.Rest->RestOutputPpPct : std::nullopt})
    if (v) worst = std::max(worst.value_or(0.0), *v);
  return worst;
}

std::vector<TFigureFailure> JudgeVerification(const TBoardFigures& before, const TBoardFigures& after,
                                              const TTuningGoal& goal, double deadband) {
  std::vector<TFigureFailure> failures;
  JudgeStep(failures, {"forward", before.Forward, after.Forward}, goal, deadband);
  JudgeStep(failures, {"reverse", before.Reverse, after.Reverse}, goal, deadband);
  const std::optional<double> rest = RestOutputPpPct(after);
  const std::optional<double> restBefore = RestOutputPpPct(before);
  if (!rest)
    failures.push_back({"rest", "rest peak-to-peak", "rest peak-to-peak could not be measured: no settled tail and no rest record"});
  else if (*rest > kRestLimitPct)
    failures.push_back({"rest", "rest peak-to-peak",
                        "rest peak-to-peak of the output is " + FixedText(*rest, 1) + " % of \"Max Output (m):\", beyond " +
                            FixedText(kRestLimitPct, 0) + " %" +
                            (restBefore ? " (before " + FixedText(*restBefore, 1) + " %)" : std::string())});
  return failures;
}
