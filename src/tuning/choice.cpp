#include "tuning/choice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tuning/fixedtext.h"

namespace {

// The least friction margin, % of drive.
constexpr double kLeastFrictionMarginPct = 0.1;

std::string Shortest(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

// Returns why the board's loop is another one than the model's, from the first record whose
// outputs the law does not replay; empty when none.
std::string LawRefusal(const std::vector<TLoopLawCheck>& law) {
  for (const TLoopLawCheck& check : law) {
    if (check.Verdict != TLawVerdict::Differs) continue;
    return "the board's outputs do not follow the loop law the model assumes (sample " + std::to_string(check.WorstSample) +
           " is off by " + Shortest(check.WorstDeviation) +
           " % of full drive): this board's loop is another one, and a suggestion cannot be trusted on it";
  }
  return {};
}

// Why the records hold the count jump below the one asked for: the encoder's glitches, whose
// kick at the deadband's edge must stay within the rest limit, or its noise, a flicker passing
// the deadband moving the output no more than a rest may (GoalAgainstFlicker).
std::string HoldCause(const TPlantExtras& extras) {
  if (const int glitch = GlitchCounts(extras))
    return GlitchesSeenText(glitch, extras.GlitchEvents, extras.FlickerSeconds) +
           ", which holds one count to what keeps such a glitch's kick at the deadband's edge within the rest limit";
  return "the count flickers as noise does (by " + CountText(extras.FlickerCounts, 0, "count", "counts") + ", " +
         CountText(extras.FlickerEvents, 0, "time", "times") + "), which holds one count to what a rest may move the output";
}

// Returns why nothing was found where the records held the count jump below the one asked for
// and some gains within the one asked for meet the goal: then the hold is what binds, whatever
// else the suggestion names (friction, say, which gains that may push harder pull against).
// Empty where the hold is not what binds.
std::string HoldRefusal(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& held,
                        const TTuningGoal& asked, const TPlantExtras& extras) {
  if (held.MaxCountJumpPct >= asked.MaxCountJumpPct) return {};
  TTuningGoal lifted = held;
  lifted.MaxCountJumpPct = asked.MaxCountJumpPct;
  if (!SuggestGains(motor, setup, lifted).Found) return {};
  return HoldCause(extras) + ", " + Shortest(held.MaxCountJumpPct) + " % of \"Max Output (m):\": no gains within that "
         "meet the goal, and some that move it by up to " + Shortest(asked.MaxCountJumpPct) + " % would";
}

}  // namespace

TStepStart StateAfter(const TBoardRecords& records) {
  if (!records.Rest) return records.Steps.empty() ? TStepStart{} : records.Steps.front().Setup.Start;
  const TStepRecord& rest = *records.Rest;
  TStepStart state = rest.Setup.Start;
  const double limit = rest.Setup.Loop.MaxOutput;
  for (size_t k = 0; k < rest.Errors.size() && k < rest.Outputs.size(); ++k)
    if (std::abs(rest.Outputs[k]) < limit) state.ErrorI += rest.Errors[k];
  if (!rest.Errors.empty()) state.Error = rest.Errors.back();
  return state;
}

TChoice ChooseGains(const TBoardRecords& records, const TChoiceRequest& request) {
  TChoice c;
  for (const TStepRecord& record : records.Steps) c.Law.push_back(CheckLoopLaw(record));
  c.Refusal = LawRefusal(c.Law);
  if (!c.Refusal.empty()) return c;
  c.Identification = IdentifyMotor(records.Steps);
  if (!c.Identification.Usable) {
    c.Refusal = "the fit is poor: " + c.Identification.Problem;
    c.Advice = c.Identification.Advice;
    return c;
  }
  c.Extras = EstimateExtras(records.Steps, records.Rest, c.Identification);
  if (const std::string refusal = ExtrasRefusal(c.Extras); !refusal.empty()) {
    c.Refusal = refusal;
    c.Advice = "try a smaller step or a larger prediv";
    return c;
  }
  const TMotorModel& motor = c.Identification.Motor;
  c.Deadband = std::max({request.Present.Deadband, DeadbandAgainstFlicker(c.Extras), DeadbandAgainstPlay(c.Extras)});
  TTuningGoal goal = GoalAgainstFlicker(request.Goal, c.Extras);
  // The friction the gains must also pull against: what the fit may be off by, twice its
  // standard error, between a tenth and half a percent of drive. A step and a step back that
  // show friction well (it held the motor off target in both) need not pay for half a percent.
  goal.FrictionMarginPct = std::clamp(2 * c.Identification.FrictionSpread, kLeastFrictionMarginPct, request.Goal.FrictionMarginPct);
  c.CountJumpInForcePct = goal.MaxCountJumpPct;
  c.Setup.Loop = LoopSettings(request.Present);
  c.Setup.Loop.Deadband = c.Deadband;
  c.Setup.Step = request.Step;
  c.Setup.Prediv = request.Prediv;
  c.Setup.Start = StateAfter(records);
  TStepTestSetup present = c.Setup;
  present.Loop.Deadband = request.Present.Deadband;
  c.PresentPredicted = PredictStepTest(motor, present, goal);
  c.Suggestion = SuggestGains(motor, c.Setup, goal);
  if (c.Suggestion.Found) c.Deadband = c.Setup.Loop.Deadband = c.Suggestion.Deadband;
  // Kept gains with a new deadband are a change to write all the same.
  if (c.Suggestion.Unchanged && c.Deadband != request.Present.Deadband) c.Suggestion.Unchanged = false;
  if (!c.Suggestion.Found) {
    c.Refusal = c.Suggestion.Problem;
    c.Advice = c.Suggestion.Advice;
    if (std::string held = HoldRefusal(motor, c.Setup, goal, request.Goal, c.Extras); !held.empty()) {
      c.Refusal = std::move(held);
      c.Advice = "check the encoder's wiring, shielding and supply: a cleaner count lets one count push harder";
    }
  }
  return c;
}
