#include "tuning/verdict.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "tuning/fixedtext.h"

namespace {

// One step with the same step of the gains before; Before is null where only the goal judges.
struct TRunPair {
  const char* Name;
  const TStepFigures* Before;
  const TStepFigures& After;
};

double SteadyBound(double deadband) { return std::max(1.0, deadband); }

void Fail(std::vector<TFigureFailure>& out, const char* run, const char* figure, const std::string& why) {
  out.push_back({run, figure, std::string(figure) + " of the " + run + " step: " + why});
}

// Adds the failures of one step: beyond the goal (withinGoal) or worse than before.
void JudgeStep(std::vector<TFigureFailure>& out, const TRunPair& p, const TTuningGoal& goal, double deadband,
               bool withinGoal) {
  // Without gains before, the figures are compared with themselves: nothing is worse.
  const TStepFigures &b = p.Before ? *p.Before : p.After, &a = p.After;
  const bool settledBefore = b.SettlingSamples.has_value();
  if (!a.SettlingSamples && (withinGoal || settledBefore)) {
    Fail(out, p.Name, "settling", "the run never settled");
  } else if (a.SettlingSamples && settledBefore && *a.SettlingSamples > *b.SettlingSamples + 1) {
    Fail(out, p.Name, "settling",
         "later than before (sample " + std::to_string(*a.SettlingSamples) + " against " +
             std::to_string(*b.SettlingSamples) + ")");
  }
  const double overshootLimit = CornerOvershootLimitPct(goal);
  if (a.OvershootPct > overshootLimit && (withinGoal || a.OvershootPct > b.OvershootPct))
    Fail(out, p.Name, "overshoot",
         FixedText(a.OvershootPct, 1) + " %, beyond the goal of " + FixedText(overshootLimit, 1) + " %" +
             (a.OvershootPct > b.OvershootPct ? " and more than before (" + FixedText(b.OvershootPct, 1) + " %)" : ""));
  const double bound = SteadyBound(deadband);
  const double steady = std::abs(a.SteadyStateError), steadyBefore = std::abs(b.SteadyStateError);
  if (steady > bound && (withinGoal || steady > steadyBefore))
    Fail(out, p.Name, "steady-state error",
         FixedText(steady, 2) + " counts, beyond " + FixedText(bound, 0) +
             (p.Before ? " (before " + FixedText(steadyBefore, 2) + ")" : ""));
  // A run that never settled has no IAE of its gains: where a loop keeps swinging, its IAE is
  // where in its swing the step began and the record ended (the same gains gave a tenth of it
  // in one record and ten times it in the next), so new gains that settle are not held to it.
  const bool iaeOfGains = settledBefore || !a.SettlingSamples;
  if (iaeOfGains && a.Iae > b.Iae * 1.05 + 1)
    Fail(out, p.Name, "IAE", FixedText(a.Iae, 0) + ", worse than before (" + FixedText(b.Iae, 0) + ")");
}

// The failures of after, beyond the goal (withinGoal) or worse than before; before null: beyond
// the goal alone.
std::vector<TFigureFailure> Judge(const TBoardFigures* before, const TBoardFigures& after, const TTuningGoal& goal,
                                  double deadband, bool withinGoal) {
  std::vector<TFigureFailure> failures;
  JudgeStep(failures, {"forward", before ? &before->Forward : nullptr, after.Forward}, goal, deadband, withinGoal);
  JudgeStep(failures, {"reverse", before ? &before->Reverse : nullptr, after.Reverse}, goal, deadband, withinGoal);
  const std::optional<double> rest = RestOutputPpPct(after);
  const std::optional<double> restBefore = RestOutputPpPct(before ? *before : after);
  if (!rest) {
    if (withinGoal)
      failures.push_back({"rest", "rest peak-to-peak", "rest peak-to-peak could not be measured: no settled tail and no rest record"});
  } else if (*rest > kRestLimitPct && (withinGoal || *rest > restBefore.value_or(0))) {
    failures.push_back({"rest", "rest peak-to-peak",
                        "rest peak-to-peak of the output is " + FixedText(*rest, 1) + " % of \"Max Output (m):\", beyond " +
                            FixedText(kRestLimitPct, 0) + " %" +
                            (before && restBefore ? " (before " + FixedText(*restBefore, 1) + " %)" : std::string())});
  }
  return failures;
}

}  // namespace

std::optional<double> RestOutputPpPct(const TBoardFigures& f) {
  std::optional<double> worst;
  for (const std::optional<double>& v :
       {f.Forward.RestOutputPpPct, f.Reverse.RestOutputPpPct, f.Rest ? f.Rest->RestOutputPpPct : std::nullopt})
    if (v) worst = std::max(worst.value_or(0.0), *v);
  return worst;
}

std::vector<TFigureFailure> WorseFigures(const TBoardFigures& before, const TBoardFigures& after,
                                         const TTuningGoal& goal, double deadband) {
  return Judge(&before, after, goal, deadband, false);
}

std::vector<TFigureFailure> JudgeVerification(const TBoardFigures& before, const TBoardFigures& after,
                                              const TTuningGoal& goal, double deadband) {
  return Judge(&before, after, goal, deadband, true);
}

std::vector<TFigureFailure> FiguresBeyondGoal(const TBoardFigures& figures, const TTuningGoal& goal, double deadband) {
  return Judge(nullptr, figures, goal, deadband, true);
}

std::vector<TFigureFailure> JudgeVerifications(const TBoardFigures& before, const std::vector<TBoardFigures>& afters,
                                               const TTuningGoal& goal, double deadband,
                                               std::optional<double> restMarginPct) {
  std::vector<TFigureFailure> failures;
  const auto add = [&](const TFigureFailure& f) {
    const bool known = std::any_of(failures.begin(), failures.end(),
                                   [&](const TFigureFailure& o) { return o.Run == f.Run && o.Figure == f.Figure; });
    if (!known) failures.push_back(f);
  };
  for (const TBoardFigures& after : afters) {
    for (const TFigureFailure& f : Judge(&before, after, goal, deadband, true)) add(f);
    if (!restMarginPct) continue;
    const std::optional<double> rest = RestOutputPpPct(after);
    if (rest && *rest > *restMarginPct && *rest <= kRestLimitPct)
      add({"rest", "rest peak-to-peak",
           "rest peak-to-peak of the output is " + FixedText(*rest, 1) + " % of \"Max Output (m):\", within " +
               FixedText(kRestLimitPct, 0) + " % but beyond the " + FixedText(*restMarginPct, 1) +
               " % that gains whose one count beyond the deadband moves the output by more than a rest may keep to"});
  }
  return failures;
}
