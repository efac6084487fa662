#include "tuning/extras.h"

#include <algorithm>
#include <cmath>

#include "stepfigures/stepfigures.h"
#include "tuning/fixedtext.h"
#include "tuning/verdict.h"

namespace {

// A drive held at rest counts as below friction where it is below this share of the fitted
// friction: a fit's friction is off by a tenth or so, and a motor on the edge of breaking away
// may move under the loop's own drive.
constexpr double kHeldShareOfFriction = 0.9;

// Whether the count's one-sample turn at k is the crest of a swing, not a jump out and back:
// the count ran towards it the sample before and on away from it the sample after. A loop that
// oscillates at rest (a belt's resonance excited by D) passes its crests in a sample, by two or
// three counts either side, which read as glitches held every trial to a glitch's kick; an
// encoder's glitch leaves a count that stood still and comes back to stand still.
bool CrestOfSwing(const std::vector<double>& errors, size_t k) {
  if (k < 2 || k + 2 >= errors.size()) return false;
  const double in = errors[k - 1] - errors[k - 2], up = errors[k] - errors[k - 1];
  const double back = errors[k + 1] - errors[k], out = errors[k + 2] - errors[k + 1];
  return in * up > 0 && out * back > 0;
}

// One-sample excursions of the count: e[k] differs from e[k-1] and e[k+1] is back at e[k-1];
// with the drive the loop held before each, read where the count last stood still a sample (a
// change of the count adds D's kick to the output of its own sample, which the motor had not
// felt as it moved).
void CountFlicker(const std::vector<double>& errors, const std::vector<double>& outputs, size_t from, double period,
                  TPlantExtras& x) {
  if (errors.size() > from) x.FlickerSeconds += double(errors.size() - from) * period;
  for (size_t k = std::max<size_t>(from, 1); k + 1 < errors.size(); ++k) {
    if (errors[k] == errors[k - 1] || errors[k + 1] != errors[k - 1]) continue;
    // A crest of two counts or more is motion (a count's crest is a flicker's as often).
    if (std::abs(errors[k] - errors[k - 1]) >= 2 && CrestOfSwing(errors, k)) continue;
    ++x.FlickerEvents;
    size_t still = k - 1;
    while (still > from && still > 0 && errors[still] != errors[still - 1]) --still;
    if (still < outputs.size() && still > 0 && errors[still] == errors[still - 1])
      x.FlickerDrive = std::max(x.FlickerDrive, std::abs(outputs[still]));
    const int counts = int(std::lround(std::abs(errors[k] - errors[k - 1])));
    x.GlitchEvents += counts >= 2;
    x.FlickerCounts = std::max(x.FlickerCounts, counts);
  }
}

// The turns of direction of a record by at least the least swing: a zigzag with that
// hysteresis, each turn where the record stood furthest before it turned back.
std::vector<size_t> Turns(const std::vector<double>& r, double least) {
  std::vector<size_t> turns;
  size_t high = 0, low = 0;
  int direction = 0;
  for (size_t k = 1; k < r.size(); ++k) {
    if (r[k] > r[high]) high = k;
    if (r[k] < r[low]) low = k;
    if (direction >= 0 && r[k] <= r[high] - least) {
      turns.push_back(high);
      direction = -1;
      low = k;
    } else if (direction <= 0 && r[k] >= r[low] + least) {
      turns.push_back(low);
      direction = 1;
      high = k;
    }
  }
  return turns;
}

// The residual's swings: turns of direction by at least the least swing (a zigzag with that
// hysteresis, and more than a flicker of the count can make). Fills the ringing when there
// are enough of them: kRingingSwings turns, or one turn fewer where the typical swing is a
// count beyond the least and the turns lie within the record's first quarter. A resonance
// that dies down within a few periods shows its last swing or not as the count falls, one run
// seeing it and the next not; a model's mismatch swings as slowly as the motor moves, over
// the record.
void FindRinging(const std::vector<double>& r, double samplePeriod, TPlantExtras& x) {
  const double least = std::max(kRingingMinCounts, 2.0 * x.FlickerCounts + 1);
  const std::vector<size_t> turns = Turns(r, least);
  if (int(turns.size()) < kRingingSwings - 1) return;
  std::vector<double> swings;
  for (size_t i = 1; i < turns.size(); ++i) swings.push_back(std::abs(r[turns[i]] - r[turns[i - 1]]));
  std::sort(swings.begin(), swings.end());
  const double typical = swings[swings.size() / 2];
  const bool diesDown = typical >= least + 1 && 4 * turns.back() <= r.size();
  if (int(turns.size()) < kRingingSwings && !diesDown) return;
  // The frequency from the spacings of the turns, each half a period, near the typical one
  // (within half to twice it, as a count's rounding shifts a turn by a sample): a record that
  // rings fast for a few periods, then swings slowly (a resonance, then cogging's pull) has no
  // frequency of its turns over their whole span.
  std::vector<size_t> spacings;
  for (size_t i = 1; i < turns.size(); ++i) spacings.push_back(turns[i] - turns[i - 1]);
  std::sort(spacings.begin(), spacings.end());
  const double median = double(spacings[spacings.size() / 2]);
  double near = 0, sum = 0;
  for (size_t spacing : spacings)
    if (2 * double(spacing) >= median && double(spacing) <= 2 * median) ++near, sum += double(spacing);
  const double halfPeriod = sum / near * samplePeriod;
  if (halfPeriod <= 0 || typical <= x.RingingCounts) return;
  x.RingingHz = 1 / (2 * halfPeriod);
  x.RingingCounts = typical;
}

// The measured error less the model's, the model driven by the outputs the board applied (every
// cycle sampled): what the motor did that the model cannot, whatever the loop made of it.
std::vector<double> OpenLoopResidual(const TStepRecord& r, const TMotorModel& motor) {
  TStepSimulation model(motor, r.Setup);
  std::vector<double> residual;
  double error = 0, output = 0;
  for (size_t k = 0; k < r.Outputs.size() && k < r.Errors.size() && model.NextDrivenBy(r.Outputs[k], error, output); ++k)
    residual.push_back(r.Errors[k] - error);
  return residual;
}

// A ring no faster than this many times the swing of the loop the model predicts is the
// model's mismatch riding on that swing, not a ring beyond the model.
constexpr double kBeyondLoopSwing = 1.5;

// The frequency the fitted motor's loop swings at about the target in the record's step test,
// from the spacings of its turns after the first (each half a period); 0 where it swings out
// and back less than once.
double LoopSwingHz(const TMotorModel& motor, const TStepTestSetup& setup) {
  TStepSimulation loop(motor, setup);
  std::vector<double> errors;
  double error = 0, output = 0;
  while (loop.Next(error, output)) errors.push_back(error);
  const std::vector<size_t> turns = Turns(errors, kRingingMinCounts);
  if (turns.size() < 4) return 0;
  std::vector<size_t> spacings;
  for (size_t i = 2; i < turns.size(); ++i) spacings.push_back(turns[i] - turns[i - 1]);
  std::sort(spacings.begin(), spacings.end());
  return 1 / (2 * double(spacings[spacings.size() / 2]) * SamplePeriod(setup));
}

// Finds ringing in the residual of a step record sampled every cycle, and takes it where it
// swings faster than the loop the model predicts. A force that changes with where the motor
// stands (cogging, a detent) is no part of the model: replayed with the outputs the board
// applied, the model drifts from the motor as the loop carries it to and fro across the
// force's ripple, and the residual turns as the motion does, at the loop's own swing; taken for
// a resonance, it refused a model that holds the rest of the motion. A resonance rings faster
// than the loop swings. Such a force may also push the motor at rest to the edge of a count.
void FindRingingBeyondLoop(const TStepRecord& r, const TMotorModel& motor, TPlantExtras& x) {
  TPlantExtras found;
  found.FlickerCounts = x.FlickerCounts;
  found.RingingCounts = x.RingingCounts;
  FindRinging(OpenLoopResidual(r, motor), SamplePeriod(r.Setup), found);
  if (found.RingingHz <= 0) return;
  if (found.RingingHz <= kBeyondLoopSwing * LoopSwingHz(motor, r.Setup)) {
    x.ForceAlongTravel = true;
    return;
  }
  x.RingingHz = found.RingingHz;
  x.RingingCounts = found.RingingCounts;
}

}  // namespace

TPlantExtras EstimateExtras(std::vector<TStepRecord> steps, const std::optional<TStepRecord>& rest,
                            const TIdentification& fit) {
  const TMotorModel& motor = fit.Motor;
  for (size_t i = 0; i < steps.size() && i < fit.Starts.size(); ++i) steps[i].Setup.Start = fit.Starts[i];
  TPlantExtras x;
  for (const TStepRecord& r : steps) {
    const TStepFigures f = ComputeStepFigures(r.Errors, r.Outputs, r.Setup.Step, r.Setup.Loop.MaxOutput);
    if (f.SettlingSamples) CountFlicker(r.Errors, r.Outputs, size_t(*f.SettlingSamples), r.Setup.Loop.Period, x);
  }
  if (rest) CountFlicker(rest->Errors, rest->Outputs, 0, rest->Setup.Loop.Period, x);
  if (!steps.empty()) x.MovedAtRest = CountMovedAtRest(x, motor, steps.front().Setup.Step);
  for (const TStepRecord& r : steps)
    if (r.Setup.Prediv == 0) FindRingingBeyondLoop(r, motor, x);
  x.PlayCounts = motor.Play;
  if (rest) {
    const TStepFigures f = ComputeStepFigures(rest->Errors, rest->Outputs, 0, rest->Setup.Loop.MaxOutput);
    x.RestOutputPpPct = f.RestOutputPpPct.value_or(0);
    x.RestErrorPp = f.RestErrorPp.value_or(0);
    // A flicker drives its own buzz; a swing with few flickers is the loop hunting.
    x.HuntsAtRest = x.RestOutputPpPct > 10 && x.FlickerEvents * 10 < int(rest->Errors.size());
  }
  if (x.FlickerEvents > 0)
    x.Findings.push_back("the count flickers by " + std::to_string(x.FlickerCounts) + " at rest (" +
                         CountText(x.FlickerEvents, 0, "time", "times") + "): " +
                         (x.FlickerEvents >= kNoisyFlickers ? "encoder noise"
                          : x.MovedAtRest ? "a force beyond friction moving the motor at rest where the loop could not "
                                            "(cogging, a detent), or an encoder jittering on the edge of a count"
                                          : "glitches of the encoder, or a motor on the edge of a count"));
  if (x.HuntsAtRest)
    x.Findings.push_back("the loop hunts at rest, the output swinging " + FixedText(x.RestOutputPpPct, 0) +
                         " % of its limit over " + CountText(x.RestErrorPp, 0, "count", "counts") +
                         ": play or friction the model does not hold");
  if (x.PlayCounts > 0)
    x.Findings.push_back("the count lags the motor by a dead zone of about " + FixedText(x.PlayCounts, 1) +
                         " counts where the motion reverses, the output moving and the count not: play between "
                         "motor and encoder");
  if (x.ForceAlongTravel)
    x.Findings.push_back("the motor departs from the model as the loop swings it to and fro, and back as it swings "
                         "back: a force that changes with where the motor stands (cogging, a detent)");
  if (x.RingingHz > 0)
    x.Findings.push_back("the response rings at about " + FixedText(x.RingingHz, 0) + " Hz by " +
                         CountText(x.RingingCounts, 0, "count", "counts") + ", which a motor of one time constant cannot do: "
                         "a resonance, play or a delay");
  return x;
}

bool CountMovedAtRest(const TPlantExtras& extras, const TMotorModel& motor, double travel) {
  if (extras.FlickerCounts != 1 || extras.FlickerEvents >= kNoisyFlickers) return false;
  if (motor.LoadBeyondFriction(travel)) return false;
  return extras.FlickerDrive < kHeldShareOfFriction * motor.Friction;
}

double DeadbandAgainstPlay(const TPlantExtras& extras) { return extras.PlayCounts > 0 ? 1 : 0; }

double DeadbandAgainstFlicker(const TPlantExtras& extras) {
  // A count that came and went now and then asks for nothing of its own: a motor may rest on
  // the edge of a count in any run, seen or not, and taken from one run and not the next it
  // made the same board's answer flip between gains with a deadband, none, and no gains at
  // all. Nor does a glitch: a deadband of its size let the motor rest at its edge, where the
  // glitch met the loop as twice its size.
  if (extras.FlickerEvents < kNoisyFlickers) return 0;
  return extras.FlickerCounts;
}

int GlitchCounts(const TPlantExtras& extras) {
  return extras.FlickerCounts >= 2 && extras.FlickerEvents < kNoisyFlickers ? extras.FlickerCounts : 0;
}

double GlitchKick(double p, double i, double d, double deadband, double period, double glitch) {
  // The motor rests a count off at most, or at the deadband's edge (the error there counts as
  // 0): the glitch takes the error to that edge and the glitch. Without a deadband the motor may
  // rest on the edge of a count, the error 1, and step across it while the glitch lasts: the
  // error jumps by the glitch and falls back by a count more.
  const double band = std::floor(std::max(0.0, deadband));
  const double reach = std::max(1.0, band) + glitch;
  const double up = band < 1 ? glitch : reach;
  return (p + i) * reach + d / period * (up + reach);
}

std::string GlitchesSeenText(double glitch, int events, double seconds) {
  return "the encoder's count jumps for a sample by as much as " + CountText(glitch, 0, "count", "counts") + " (" +
         CountText(events, 0, "jump", "jumps") + " of two counts or more in " + FixedText(seconds, 2) + " s of records)";
}

std::string GlitchKickText(double glitch) {
  return "(P + I + 2 D / servo period) x (the deadband or a count, + " + FixedText(glitch, 0) + ")";
}

double GlitchCountJumpPct(double glitch, double deadband) {
  return kRestLimitPct / (2 * (std::max(1.0, std::floor(std::max(0.0, deadband))) + glitch));
}

TTuningGoal GoalAgainstGlitches(const TTuningGoal& goal, const TPlantExtras& extras) {
  TTuningGoal held = GoalAgainstFlicker(goal, extras);
  if (const int glitch = GlitchCounts(extras)) {
    const double deadband = std::max(DeadbandAgainstFlicker(extras), DeadbandAgainstPlay(extras));
    held.MaxCountJumpPct = std::min(held.MaxCountJumpPct, GlitchCountJumpPct(glitch, deadband));
  }
  return held;
}

TTuningGoal GoalAgainstFlicker(const TTuningGoal& goal, const TPlantExtras& extras) {
  TTuningGoal flicker = goal;
  if (extras.FlickerEvents >= kNoisyFlickers) flicker.MaxCountJumpPct = std::min(goal.MaxCountJumpPct, kRestLimitPct);
  return flicker;
}

std::string ExtrasRefusal(const TPlantExtras& extras) {
  if (extras.RingingHz > 0)
    return "the step response rings at about " + FixedText(extras.RingingHz, 0) +
           " Hz, which the model of the motor cannot produce: gains chosen on it cannot be trusted";
  return {};
}
