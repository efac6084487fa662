#include "tuning/gainsearch.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tuning/fixedtext.h"
#include "tuning/looplaw.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The smallest move, as log2 of its factor (the first is a factor 2).
constexpr double kLastScale = 0.25;

// Verifications a search makes at most: the model's suggestion, the best found, and the next
// best where the best fails its verification.
constexpr int kMostJudgements = 3;
constexpr int kJudgeRuns = 3;
// A verification of gains whose one count beyond the deadband moves the output by more than a
// rest may: two steps each way and the rest record. Whether such a loop hunts across its
// deadband depends on where the motor stops (play, a spring, a load, a current limit), so one
// quiet step each way proves little; and a rest figure beyond half the limit fails it.
constexpr int kLoudJudgeRuns = 5;
constexpr double kLoudRestMarginPct = kRestLimitPct / 2;
// A verification on a machine with a load steps there and back twice before its rest record:
// whether the integral, wound up by the approach, leaves the motor hunting at the deadband's
// edge is a matter of where within its count the motor stops, which one step each way cannot
// tell.
constexpr int kLoadedJudgeRuns = 5;

// The longest move, as log2 of its factor, that a move repeated with success grows to.
constexpr double kLongestScale = 2;

// Moves that go on from a bolder trial which overshot, would not rest or was held past its
// target (more D, a count more of deadband, less I) before the search goes back to the best
// gains.
constexpr int kMostRepairs = 2;
// Where a load left the motor crossing to and fro on the edge of a count, with records of more
// than a servo cycle a sample, the same P and D are judged with I at this share of the rocking
// run's. Whether the motor comes to rest on the edge of a count is a matter of where it stops,
// and less I shifts where: measured over sixteen moves each on loaded machines at prediv 2, this
// share of I rested quietly in as many moves as the I that rocked, 1 s apart, and in more where
// the moves followed each other at once, as a verification's do (11 and 7 of 16 where the I
// that rocked rested in 5 and 0). With a sample a cycle (prediv 0) less I rocked as often or
// more, in half the moves or more.
constexpr double kLessIAfterRocking = 0.6;

// A step of the board's own gains that ends further off its target than this share of the step
// shows too little of the motor's motion to fit it on: the search fits it again on bolder runs.
constexpr double kFarOffShare = 0.25;

// A trial becomes the best only where it lowers the cost by more than this share: a move that
// changes nothing the runs can tell (a deadband the motor never reaches) is not followed.
constexpr double kLeastGain = 0.01;

// A swing counts as growing when it passes the one before by a tenth and a count.
constexpr double kGrowth = 1.1;

// Gains whose glitch kick reaches this share of the rest limit count as on its limit (the
// fields' three digits move them off it by a little).
constexpr double kRidgeKickShare = 0.97;
// The narrowest bracket of D over P the search along the kick limit halves.
constexpr double kRidgeNarrowest = 1.03;
// How far beyond the gains measured on one side of the band the search along the limit looks
// for the other: the square of the smallest move.
constexpr double kRidgeReach = 1.41;

double SignOf(double value) { return value < 0 ? -1 : 1; }

// Rounds to three significant digits, as the window's fields show the gains a suggestion writes.
double Significant(double value) {
  if (value <= 0) return 0;
  const double unit = std::pow(10.0, std::floor(std::log10(value)) - 2);
  return std::round(value / unit) * unit;
}

TSearchGains Shown(const TSearchGains& g) {
  const TGains shown = FieldGains({Significant(g.P), Significant(g.I), Significant(g.D), 0, 0});
  return {shown.P, shown.I, shown.D, std::round(g.Deadband)};
}

double CountJump(const TSearchGains& g, double period) { return g.P + g.I + g.D / period; }

// How many count jumps the output moves by where a load that friction does not hold lets the
// motor creep out of the deadband after a step: the error jumps from the deadband's 0 to a
// count beyond its edge. Where the drive reaches the motor at once, D brakes it as it crosses
// back and it comes to rest inside: the jump at one edge. Where the drive comes late (a lag, a
// delay) so does the brake, the motor may carry on across to the other edge, and gains a hair
// apart rested quietly on one machine and swung by twice their jump on the next: the swing
// across both edges. Holding a prompt drive to that too left loaded machines only gains too
// soft to settle, or to pull in the last counts against friction.
double EdgeSwing(const TSearchGains& g, const TIntegralSizing& z) {
  return (z.Prompt ? 1 : 2) * (std::floor(std::max(0.0, g.Deadband)) + 1);
}

// The first sample from which the response has reached its target once: the error has
// crossed zero or come within the settling band. A rest record has no approach.
size_t ReachedAt(const TStepRecord& r) {
  const double step = r.Setup.Step;
  if (step == 0) return 0;
  const double band = std::max(1.0, kSettlingBand * std::abs(step));
  for (size_t k = 0; k < r.Errors.size(); ++k)
    if (r.Errors[k] * SignOf(step) <= band) return k;
  return r.Errors.size();
}

// The largest |error| of each swing about the target after the approach, a swing ending
// where the error changes sign (errors of 0, inside a deadband, belong to no swing).
std::vector<double> Swings(const TStepRecord& r, size_t from) {
  std::vector<double> swings;
  double peak = 0, sign = 0;
  for (size_t k = from; k < r.Errors.size(); ++k) {
    const double e = r.Errors[k];
    if (e == 0) continue;
    if (sign != 0 && SignOf(e) != sign) swings.push_back(std::exchange(peak, 0.0));
    sign = SignOf(e);
    peak = std::max(peak, std::abs(e));
  }
  if (peak > 0) swings.push_back(peak);
  return swings;
}

bool GrowingSwings(const TStepRecord& r, size_t from) {
  const std::vector<double> s = Swings(r, from);
  const double least = std::max(3.0, kSettlingBand * std::abs(r.Setup.Step));
  for (size_t k = 3; k < s.size(); ++k) {
    bool growing = s[k] > least;
    for (size_t j = k - 2; j <= k && growing; ++j) growing = s[j] >= s[j - 1] * kGrowth && s[j] >= s[j - 1] + 1;
    if (growing) return true;
  }
  return false;
}

TSearchGains GainsOfLoop(const TLoopSettings& loop) { return {loop.P, loop.I, loop.D, loop.Deadband}; }

// "settles at sample 31, overshoot 2.1 %, error 0.4, output 3.2 % p-p": what a step's cost is made of.
std::string FiguresText(const TStepFigures& f) {
  std::string text = f.SettlingSamples ? "settles at sample " + std::to_string(*f.SettlingSamples) : "does not settle";
  text += ", overshoot " + FixedText(f.OvershootPct, 1) + " %, error " + FixedText(f.SteadyStateError, 1);
  if (f.RestOutputPpPct) text += ", output " + FixedText(*f.RestOutputPpPct, 1) + " % p-p";
  return text;
}

// "P 0.2 I 0 D 0.0015 deadband 0": gains as a reason names them.
std::string GainsText(const TSearchGains& g) {
  const auto number = [](double v) { return FormatNumber(v).toStdString(); };
  return "P " + number(g.P) + " I " + number(g.I) + " D " + number(g.D) + " deadband " + number(g.Deadband);
}

// Returns whether every pair of a verification's runs met the goal: both steps and the rest.
bool AllWithinGoal(const std::vector<TBoardFigures>& pairs, const TTuningGoal& goal, double deadband) {
  return !pairs.empty() && std::all_of(pairs.begin(), pairs.end(), [&](const TBoardFigures& p) {
    return StepWithinGoal(p.Forward, goal, deadband) && StepWithinGoal(p.Reverse, goal, deadband) &&
           RestOutputPpPct(p).value_or(0) <= kRestLimitPct;
  });
}

}  // namespace

TDanger DangerIn(const TStepRecord& r) {
  const TLoopSettings& loop = r.Setup.Loop;
  if (loop.FaultError > 0) {
    double worst = 0;
    for (double e : r.Errors) worst = std::max(worst, std::abs(e));
    if (worst > loop.FaultError) return TDanger::Tripped;
    if (worst > loop.FaultError / 2) return TDanger::FollowingError;
  }
  const size_t reached = ReachedAt(r);
  const double limit = std::clamp(loop.MaxOutput, 0.0, 100.0);
  if (limit > 0) {
    size_t held = 0;
    for (size_t k = reached; k < r.Outputs.size(); ++k) held += std::abs(r.Outputs[k]) >= limit - 1e-6;
    if (held * 10 > r.Outputs.size()) return TDanger::HeldAtLimit;
  }
  return GrowingSwings(r, reached) ? TDanger::Growing : TDanger::None;
}

std::string DangerText(TDanger danger) {
  switch (danger) {
    case TDanger::None: break;
    case TDanger::Growing: return "a growing oscillation";
    case TDanger::HeldAtLimit: return "the output held at its limit for more than a tenth of the record";
    case TDanger::FollowingError: return "a following error beyond half of \"Fault Error (f):\"";
    case TDanger::Tripped: return "a following error beyond \"Fault Error (f):\", which switched the servo off";
  }
  return "nothing dangerous";
}

// Samples a slip of a count spans: the count's edge may flicker as the motor crosses it.
constexpr size_t kTakeUpSamples = 4;

// Under a load, an approach that ends a count or two short of the target, friction holding the
// motor there, is finished by I a little later: the sum winds until the motor slips a count
// nearer, and D's kick at that count is the last of its settling, not a loop that hunts at rest
// (on a board left alone such gains rest quietly). The sum that let the motor slip barely holds
// it at the nearer count, and D's kick may throw it back across the edge for a sample or two,
// again and again, each stay at the nearer count longer as the sum winds on, until the sum holds
// it there (on a constant load, some forty servo cycles of such chatter a few tenths of a second
// after every move, and then a quiet rest). Returns the sample of the last such slip where the
// record's tail shows only these: the error on one side, each count nearer the target for good
// but for stays back across its edge shorter than a slip spans, ending within the steady-state
// bound, and where it chattered so, a rest after it. A motor that left the target, crossed it,
// or stayed back off a count it had reached hunts.
std::optional<size_t> LastTakeUp(const TStepRecord& r, const TStepFigures& f, double deadband) {
  const size_t n = std::min(r.Errors.size(), r.Outputs.size());
  const double band = std::max(0.0, deadband);
  const auto off = [&](size_t k) { return std::abs(r.Errors[k]) > band ? std::abs(r.Errors[k]) : 0.0; };
  size_t from = 0;
  if (r.Setup.Step != 0) {
    if (!f.SettlingSamples) return std::nullopt;
    from = std::max(n - n / 4, size_t(*f.SettlingSamples));
  }
  if (from >= n || off(n - 1) > std::max(1.0, band)) return std::nullopt;
  double nearest = off(from);
  size_t reached = from, last = from;  // where the nearest count was reached; the last change
  size_t back = 0;                     // samples in a row back off it
  bool chattered = false;              // back off it after the crossing's flicker
  for (size_t k = from + 1; k < n; ++k) {
    if (r.Errors[k] != r.Errors[k - 1]) last = k;
    if (off(k) > 0 && r.Errors[k] * r.Errors[from] <= 0) return std::nullopt;  // the other side
    if (off(k) < nearest) nearest = off(k), reached = k;
    back = off(k) > nearest ? back + 1 : 0;
    if (back >= kTakeUpSamples) return std::nullopt;  // went back off
    chattered = chattered || (back > 0 && k - reached >= kTakeUpSamples);
  }
  // Chatter that the record does not show ending in a rest may be a motor rocking on the edge.
  if (last == from || (chattered && last + 2 + kMinRestSamples > n)) return std::nullopt;
  return last;
}

// Whether a run found the motor at rest on the edge of a count with the output kicked beyond
// the rest limit: its settled tail (a rest record whole) reads two neighbouring counts on one
// side of the target (the deadband's 0 and the first count beyond it, or two counts beyond),
// and the output's peak-to-peak there passes the limit. Under a load the sum that holds the
// motor falls short of the load at the nearer count, P's count more at the further one pushes
// it back across, and D kicks the output at every crossing: the motor crosses to and fro until
// the sum alone holds the load, however long the sum takes to wind there.
bool KickedOnCountEdge(const TStepRecord& r, const TStepFigures& f, double deadband) {
  if (f.RestOutputPpPct.value_or(0) <= kRestLimitPct) return false;
  const size_t n = std::min(r.Errors.size(), r.Outputs.size());
  size_t from = 0;
  if (r.Setup.Step != 0) {
    if (!f.SettlingSamples) return false;
    from = std::max(n - n / 4, size_t(*f.SettlingSamples));
  }
  if (from >= n) return false;
  const auto [low, high] = std::minmax_element(r.Errors.begin() + long(from), r.Errors.begin() + long(n));
  if (*low == *high || *low * *high < 0) return false;
  const double nearer = std::min(std::abs(*low), std::abs(*high)), further = std::max(std::abs(*low), std::abs(*high));
  const double edge = std::floor(std::max(0.0, deadband)) + 1;  // the first count the loop acts on
  return nearer == 0 ? further == edge : further - nearer == 1;
}

// The share of P's drive at one count of error that the sum a run wound may hold at most for its
// I to count as none: a sum that small pushes no motor out of its rest, which friction and P at
// the first count hold against far more.
constexpr double kNegligibleSumShare = 0.1;

// Whether a run's I held too little of a sum to move the motor: its I times the largest sum
// the record reached, from the sum it began with (what the loops before wound up, a sluggish
// loop resting off target among them) and every error beyond the deadband it added (each
// sample for its servo cycles), is less than kNegligibleSumShare of what one count of error asks
// of P. Such a loop rocks on the edge of a count as one without I does, pushed there by a force
// at rest, not by its own sum.
bool SumNegligible(const TStepRecord& r, const TSearchGains& g) {
  if (!(g.I > 0)) return true;
  double sum = r.Setup.Start.ErrorI, largest = std::abs(sum);
  for (double e : r.Errors) {
    if (std::abs(e) > g.Deadband) sum += e * (r.Setup.Prediv + 1);
    largest = std::max(largest, std::abs(sum));
  }
  return g.I * largest < kNegligibleSumShare * g.P;
}

// Times a settled tail must show the motor leaving for the first count the loop acts on, on
// one side, to tell a force at rest from a glitch of the encoder, which comes now and then.
constexpr int kLeavesOfAForceAtRest = 3;

// Whether a run of gains without I (or whose sum held nothing, SumNegligible) found the motor
// pushed out of its rest again and again: it came to rest within the first half of the record, and
// its settled tail kicked on the edge of a count (KickedOnCountEdge), the count leaving for the
// further of the two at least kLeavesOfAForceAtRest times and on to the record's end (the stretch
// after the last leave no longer than the longest between two). A force at rest that friction does
// not hold where the motor stands (cogging, a detent) carries it from the deadband, or from its
// count, to the first count the loop acts on, whose drive pushes it back, and the force carries it
// out again: a count that comes and goes, as on a motor resting on the edge of a count, whatever
// the fit or the records before showed. A motor creeping in across the edge of a count at the end
// of its approach leaves it too, less and less often, and then rests. With I the loop makes such a
// force itself: the sum an approach wound up pushes the motor out of the deadband as a load would.
bool PushedOutAtRest(const TStepRecord& r, const TStepFigures& f, const TSearchGains& g) {
  if (!SumNegligible(r, g) || !KickedOnCountEdge(r, f, g.Deadband)) return false;
  if (r.Setup.Step != 0 && *f.SettlingSamples > kStepTestSamples / 2) return false;
  const size_t n = std::min(r.Errors.size(), r.Outputs.size());
  const size_t from = r.Setup.Step != 0 ? std::max(n - n / 4, size_t(*f.SettlingSamples)) : 0;
  double further = 0;
  std::vector<size_t> leaves;
  for (size_t k = from; k < n; ++k) further = std::max(further, std::abs(r.Errors[k]));
  for (size_t k = from + 1; k < n; ++k) {
    if (std::abs(r.Errors[k]) == further && std::abs(r.Errors[k - 1]) != further) leaves.push_back(k);
  }
  if (int(leaves.size()) < kLeavesOfAForceAtRest) return false;
  size_t longest = 0;
  for (size_t i = 1; i < leaves.size(); ++i) longest = std::max(longest, leaves[i] - leaves[i - 1]);
  return n - leaves.back() <= longest;
}

// The figures with the rest measured from two samples after the last slip of a take-up, where
// the record shows one and enough samples after it to judge the rest by.
TStepFigures FiguresAfterTakeUp(const TStepRecord& r, TStepFigures f, double deadband) {
  const size_t n = std::min(r.Errors.size(), r.Outputs.size());
  const std::optional<size_t> last = LastTakeUp(r, f, deadband);
  if (!f.RestOutputPpPct || !last || *last + 2 + kMinRestSamples > n) return f;
  const auto [low, high] = std::minmax_element(r.Outputs.begin() + long(*last + 2), r.Outputs.begin() + long(n));
  const double limit = r.Setup.Loop.MaxOutput > 0 ? r.Setup.Loop.MaxOutput : 100.0;
  f.RestOutputPpPct = std::min(*f.RestOutputPpPct, (*high - *low) / limit * 100);
  return f;
}

bool StepWithinGoal(const TStepFigures& f, const TTuningGoal& goal, double deadband) {
  return f.SettlingSamples && f.OvershootPct <= goal.TargetOvershootPct &&
         std::abs(f.SteadyStateError) <= std::max(1.0, deadband) && f.RestOutputPpPct.value_or(0) <= kRestLimitPct;
}

double StepCost(const TStepFigures& f, const TTuningGoal& goal, double deadband, double step, int samples) {
  const double speed = double(f.SettlingSamples.value_or(samples)) + 0.1 * f.Iae / std::max(1.0, std::abs(step));
  if (StepWithinGoal(f, goal, deadband)) return speed;
  const double n = samples;
  return 2 * n + speed + std::max(0.0, f.OvershootPct - goal.TargetOvershootPct) * n / 20 +
         std::max(0.0, std::abs(f.SteadyStateError) - std::max(1.0, deadband)) * n / 10 +
         std::max(0.0, f.RestOutputPpPct.value_or(0) - kRestLimitPct) * n / 50;
}

// The time a first-order motor from rest at full drive takes to cover the travel: x(t) =
// v (t - tau (1 - exp(-t / tau))), v its speed at full drive; infinite without a fitted speed.
double ReachSeconds(const TMotorModel& motor, double travel) {
  const double v = motor.Gain * 100, tau = std::max(0.0, motor.TimeConstant);
  if (!(v > 0) || !std::isfinite(v)) return kInfinity;
  const auto covered = [&](double t) { return v * (t - (tau > 0 ? tau * (1 - std::exp(-t / tau)) : 0)); };
  double low = 0, high = travel / v + tau;  // covered(high) >= travel
  for (int k = 0; k < 50; ++k) {
    const double mid = (low + high) / 2;
    (covered(mid) < travel ? low : high) = mid;
  }
  return high;
}

TIntegralSizing IntegralSizingFor(const TMotorModel& motor, double travel, double period, int prediv) {
  TIntegralSizing s;
  // A spring pressed in (a positive slope) asks for more drive along the step either way; a
  // load that pulls harder the further it goes (an arm past the horizontal) for less.
  s.LoadChange = motor.LoadChangeOver(travel);
  s.Friction = std::max(0.0, motor.Friction);
  // A first-order approach leaves about half its travel times the time constant as error; what
  // the output's limit holds back of that is not summed, which leaves this an upper estimate.
  s.WindupArea = std::abs(travel) * std::max(1.0, motor.TimeConstant / period) / 2;
  // Against a constant load a short travel is covered sooner than that: about the travel times
  // the time the motor takes to cover it from rest at full drive (speeding up, then braking onto
  // the target), which is what the steps of gains that settle within the goal wind up. A load
  // that changes all along the travel changes the approach too (and a slope the fit finds may be
  // cogging or a second mass as well as a spring or an arm): there the upper estimate stays. A
  // spring from a knee on, which the fit takes only where the runs show one, the motor runs
  // free up to and presses in at the step's end alone: the short estimate holds. With the upper
  // one, I came out a sixth of what the model chose for a spring, and the motor rested two
  // counts short of the target against it.
  if (motor.LoadSlope == 0 || motor.LoadKnee)
    s.WindupArea =
        std::min(s.WindupArea, std::abs(travel) * std::max(1.0, ReachSeconds(motor, std::abs(travel)) / period));
  s.SettleCycles = double(kStepTestSamples) / 2 * (prediv + 1);
  s.Prompt = motor.Lag <= 0 && motor.DelayCycles <= 0;
  s.Period = period;
  s.Travel = std::abs(travel);
  return s;
}

double WindupAreaFor(const TIntegralSizing& s, double p) {
  if (!(s.Limit > 0) || !(p > 0) || !(s.Travel > 0)) return s.WindupArea;
  return s.WindupArea * std::min(1.0, s.Limit / (p * s.Travel));
}

TIntegralRange IntegralRangeFor(const TIntegralSizing& s, double p, double deadband) {
  // The smallest error the loop acts on: a count beyond the deadband.
  const double edge = std::floor(std::max(0.0, deadband)) + 1;
  TIntegralRange r;
  const double windup = WindupAreaFor(s, p);
  // What the approach winds up, and what the error at the deadband's edge adds while the motor
  // settles, takes up the load's change beyond friction...
  r.Least = std::max(0.0, s.LoadChange - s.Friction) / (windup + edge * std::max(1.0, s.SettleCycles));
  // ...and what the approach winds up beyond that change pushes on past the target, where
  // friction and P at the deadband's far edge must hold it.
  r.Most = windup > 0 ? (s.Friction + std::max(0.0, p) * edge + s.LoadChange) / windup : kInfinity;
  // A sum that holds none of the load (a loop without I summed its error all the same, and that
  // sum drives nothing) leaves P holding the whole load with the error until I has taken it up:
  // a motor a few counts off target in every run after a restart. Where no I takes it up within
  // the wait without its windup carrying the motor past the deadband, the change alone sizes I.
  if (s.WholeLoad > 0) r.Least = std::max(r.Least, std::min(LeastIntegralWithinWait(p, s.Period), r.Most));
  return r;
}

std::optional<double> SizedIntegral(const TIntegralSizing& sizing, const TSearchGains& g, double present) {
  const TIntegralRange r = IntegralRangeFor(sizing, g.P, g.Deadband);
  if (r.Least > r.Most) return std::nullopt;
  const auto fits = [&](double i) { return i > 0 && i >= r.Least && i <= r.Most; };
  if (fits(present)) return present;
  if (fits(g.I)) return g.I;
  return std::clamp(g.I > 0 ? g.I : present > 0 ? present : r.Most / 8, r.Least, r.Most);
}

bool PromptDrive(const TMotorModel& motor, double period) {
  return motor.Lag + std::max(0, motor.DelayCycles) * period < period;
}

namespace {

// What sizes I on the fitted motor for the setup's step, where it carries a load; the whole
// load where the board's own loop has no I to hold it.
std::optional<TIntegralSizing> LoadSizingFor(const TSearchSetup& setup, const TMotorModel& m) {
  const double travel = double(setup.Step) * std::max(1, setup.Multiplier);
  if (!m.LoadBeyondFriction(travel)) return std::nullopt;
  TIntegralSizing z = IntegralSizingFor(m, travel, setup.Loop.Period, setup.Prediv);
  z.Prompt = PromptDrive(m, setup.Loop.Period);
  // A spring from a knee on the motor presses in at the step's end alone, and what the sum holds
  // there is what the approach wound up once P let the output off its limit: with I sized by the
  // whole travel's area, gains with P 0.7 to 1.3 rested two to four counts short against it.
  if (m.LoadKnee) z.Limit = std::clamp(setup.Loop.MaxOutput, 0.0, 100.0);
  if (setup.Loop.I == 0)
    z.WholeLoad = std::max(std::abs(m.Load), std::abs(m.LoadAt(m.LoadOrigin + travel))) - std::max(0.0, m.Friction);
  return z;
}

}  // namespace

void TakeRecordsInto(TSearchSetup& setup, const TIdentification& identification, const TPlantExtras& extras) {
  if (!identification.Usable) return;
  const double againstFlicker = DeadbandAgainstFlicker(extras);
  setup.DeadbandFloor = std::max(againstFlicker, DeadbandAgainstPlay(extras));
  setup.PlayCounts = extras.PlayCounts;
  // Only a count that flickers often (noise) holds the count jump to the rest limit: a glitch
  // now and then, or a motor resting on the edge of a count, is taken by the deadband, and
  // holding every gain to the rest limit for one such sample left loads and glitchy encoders
  // without gains that settle.
  // So does a count that a force moved at rest where the loop could not, or a force that
  // changes with where the motor stands: the motor may come to rest on the deadband's edge as
  // well as on a count's.
  setup.FlickerCounts = extras.FlickerEvents >= kNoisyFlickers ? extras.FlickerCounts
                        : extras.MovedAtRest || extras.ForceAlongTravel ? 1
                                                                        : 0;
  // A glitch of two counts or more, seen even once, comes again: gains whose kick at the
  // deadband's edge moves the output beyond the rest limit are not kept where it can (a count's
  // flicker of one is a motor resting on the edge of a count).
  setup.GlitchCounts = GlitchCounts(extras);
  setup.GlitchEvents = extras.GlitchEvents;
  setup.GlitchSeconds = extras.FlickerSeconds;
  setup.Integral = LoadSizingFor(setup, identification.Motor);
  setup.Loaded = setup.Integral.has_value();
}

void TakeModelGuessInto(TSearchSetup& setup, const TIdentification& identification, const TPlantExtras& extras,
                        const TStepTestSetup& test, double deadband) {
  if (setup.Guess || !identification.Usable || !ExtrasRefusal(extras).empty()) return;
  TTuningGoal goal = GoalAgainstFlicker(setup.Goal, extras);
  goal.PullAgainstFriction = false;
  const TSuggestion model = SuggestGains(identification.Motor, test, goal);
  if (!model.Found || model.Unchanged) return;
  const double i = model.Gains.I > 0 ? model.Gains.I : test.Loop.I;
  setup.Guess = TSearchGains{model.Gains.P, i, model.Gains.D, std::max(deadband, model.Deadband)};
}

TSearchBounds SearchBounds(const TSearchSetup& s) {
  TSearchBounds b;
  b.MaxCountJump = s.Goal.MaxCountJumpPct / 100 * std::clamp(s.Loop.MaxOutput, 0.0, 100.0);
  double least = s.Loop.P > 0 ? s.Loop.P : b.MaxCountJump;
  if (s.Guess && s.Guess->P > 0) least = std::min(least, s.Guess->P);
  b.PMin = Significant(least / 16);
  b.PMax = b.MaxCountJump;
  b.DMax = b.MaxCountJump * s.Loop.Period;
  b.IMax = b.MaxCountJump;
  const double band = kSettlingBand * std::abs(double(s.Step) * std::max(1, s.Multiplier));
  b.DeadbandMin = std::round(s.DeadbandFloor);
  // A count more than the flicker or play the records show: a motor resting at the deadband's
  // edge meets a glitch as the flicker's size plus that count; never beyond the settling band.
  const double beyondFloor = b.DeadbandMin > 0 ? std::min(b.DeadbandMin + 1, std::floor(band)) : 0;
  b.DeadbandMax = std::max({s.Loop.Deadband, b.DeadbandMin, beyondFloor, std::max(1.0, std::floor(band / 2))});
  b.QuietCountJump = kRestLimitPct / 100 * std::clamp(s.Loop.MaxOutput, 0.0, 100.0);
  return b;
}

int SmallStep(int step) {
  const int quarter = step / 4;
  return quarter != 0 ? quarter : (step < 0 ? -1 : 1);
}

TGainSearch::TGainSearch(const TSearchSetup& setup)
    : FSetup(setup), FBounds(SearchBounds(setup)), FLimit(setup.MaxRuns) {
  FPresent = FBest = GainsOfLoop(setup.Loop);
  TPoint& present = FPoints[FPresent];
  const double counts = double(setup.Step) * std::max(1, setup.Multiplier);
  const int samples = kStepTestSamples;
  present.Figures[1] = setup.Before.Forward;
  present.Figures[0] = setup.Before.Reverse;
  present.Cost[1] = StepCost(setup.Before.Forward, setup.Goal, FPresent.Deadband, counts, samples);
  present.Cost[0] = StepCost(setup.Before.Reverse, setup.Goal, FPresent.Deadband, counts, samples);
  present.Judged = true;
  if (FSetup.Integral) {
    // No P or deadband the search may try has an I that takes up the load's change in time
    // without winding up past the deadband (a load that pulls harder the further the motor
    // goes): no trial would show otherwise.
    const TIntegralRange widest = IntegralRangeFor(*FSetup.Integral, FBounds.PMax, FBounds.DeadbandMax);
    if (widest.Least > widest.Most) {
      FFailures = {{"", "integral",
                    "the load pulls " + FixedText(-FSetup.Integral->LoadChange, 1) +
                        " % of drive harder at the step's end than at its start, more than friction and P at the "
                        "deadband's edge hold: whatever I, the sum the approach winds up carries the motor past the "
                        "target"}};
      Finish(TSearchEnd::NoneBetter);
      return;
    }
    if (FSetup.Guess) {
      // A load that friction does not hold lets the motor creep out of the deadband: the guess
      // keeps to the deadband the records ask for (a wider one only makes the error's jump at
      // its edge larger), and its P and D come down to where the output's swing then stays
      // within the rest limit. The model's own deadband, chosen against a count that comes and
      // goes, took the guess to a quarter of the model's P and D, which overshot.
      TSearchGains& g = *FSetup.Guess;
      g.Deadband = FBounds.DeadbandMin;
      const double kick = CountJump(g, FSetup.Loop.Period) * EdgeSwing(g, *FSetup.Integral);
      if (kick > FBounds.QuietCountJump) {
        const double down = FBounds.QuietCountJump / kick;
        g.P *= down, g.D *= down, g.I *= down;
      }
      if (const std::optional<double> i = SizedIntegral(*FSetup.Integral, g, FPresent.I)) g.I = *i;
    }
  }
  // Where the records showed glitches, the guess comes down to gains whose kick a rest may show.
  if (FSetup.Guess) FSetup.Guess = WithinGlitchKick(*FSetup.Guess, *FSetup.Guess);
  // Where the records show a count that comes and goes (noise, or a force that moves the motor
  // at rest), no deadband quietens a loud guess (the motor may come to rest on the deadband's
  // edge) and loud gains are not kept; tried as chosen, a loud guess left the best gains loud
  // and the search no quiet move from them. Its P, I and D come down together to the count
  // jump a rest allows, as loud best gains do later.
  if (FSetup.Guess && !FSetup.Integral && FSetup.FlickerCounts > 0 && Loud(*FSetup.Guess))
    if (const std::optional<TSearchGains> quiet = QuietBalance(*FSetup.Guess)) FSetup.Guess = quiet;
  // The model's suggestion is tried as it was chosen, but with a deadband of a count where a
  // count that comes and goes would move its output by more than a rest may: whether the
  // motor stops on the edge of a count is a matter of where it stops, which its verification's
  // one rest record cannot tell.
  if (FSetup.Guess && !FSetup.Integral && !Within(Shown(*FSetup.Guess)) && Within(Shown(*FSetup.Guess), false) &&
      FSetup.Guess->Deadband < LoudDeadband())
    FSetup.Guess->Deadband = LoudDeadband();
  if (FSetup.Guess && Shown(*FSetup.Guess) != FPresent && Within(Shown(*FSetup.Guess), false)) {
    FPhase = TPhase::Probe;
    StartTrial(Shown(*FSetup.Guess));
    FPending = TPlannedRun{FTrials.back().Gains, SmallStep(setup.Step), TRunPurpose::Probe, FTrials.back().Number};
    return;
  }
  FPoll = MovesFor(FBest);
  if (!PlanMove()) ToJudge();
}

std::optional<TPlannedRun> TGainSearch::Next() {
  if (FPhase == TPhase::Over) return std::nullopt;
  return FPending;
}

void TGainSearch::LimitRuns(int runs) {
  // The limit follows the time left at the pace so far, and may rise again: the first runs of
  // a search (a verification's first step waits for rest twice) are slower than the rest.
  FLimit = std::min(FSetup.MaxRuns, int(FRuns.size()) + std::max(0, runs));
  // A search move that no longer leaves room for the verification gives way to it.
  if (FPhase == TPhase::Search && FPending && FTrials.back().Runs.empty() &&
      RunsLeft() < JudgeRunsFor(FBest) + 2 + SettleRuns(FTrials.back().Gains)) {
    FPoints.erase(FTrials.back().Gains);
    FTrials.pop_back();
    FPending.reset();
    FAfterSettle.reset();
    ToJudge();
  }
  // A verification that has not begun and no longer fits in the runs left is why nothing is
  // kept where the procedure stops here; where the limit rises again and it runs, its verdict
  // takes the place of this.
  if (FPhase == TPhase::Judge && FJudgeRuns.empty() && FJudgedGains && RunsLeft() < FJudgeTotal)
    FFailures = {{"", "time",
                  GainsText(*FJudgedGains) + " were left unverified: the " + std::to_string(FJudgeTotal) +
                      " step tests of their verification do not fit in the time left"}};
}

double TGainSearch::BoardI() const { return FRuns.empty() ? FPresent.I : FRuns.back().Plan.Gains.I; }

// On a machine with a load the integral's sum holds the load, and a new I rescales that drive:
// the motor is kicked and the loop takes seconds to gather the sum the new I holds the load
// with. A run of the search right after the change would judge the kick rather than the gains,
// so a rest record goes first. A small step of new gains is judged for danger alone and goes
// first itself; a verification starts from the board's own gains at rest, so that its gains
// meet the sum as they will once they stay (an I the sizing keeps from the board's own does
// not kick there).
int TGainSearch::SettleRuns(const TSearchGains& gains) const { return FSetup.Integral && gains.I != BoardI() ? 1 : 0; }

void TGainSearch::Plan(const TPlannedRun& run) {
  FAfterSettle.reset();
  if (run.Purpose == TRunPurpose::Search && SettleRuns(run.Gains)) {
    FAfterSettle = run;
    FPending = TPlannedRun{run.Gains, 0, TRunPurpose::Settle, run.Trial};
    return;
  }
  FPending = run;
}

int TGainSearch::RunsLeft() const { return FLimit - int(FRuns.size()); }

bool TGainSearch::Loud(const TSearchGains& gains) const {
  return CountJump(gains, FSetup.Loop.Period) > FBounds.QuietCountJump * (1 + 1e-9);
}

// The least deadband of gains whose one count beyond it moves the output by more than a rest
// may: a count, and where the fit shows play of two counts or more, its whole counts (within
// the bounds). A count beyond a narrower deadband kicks the motor, free within its play, across
// it hard enough to come out a count beyond on the other side: the loop hunts for good once
// started, and whether it starts is where in its play the motor stood, which the runs of a
// verification (each from the edge the last step left it at) need not show.
double TGainSearch::LoudDeadband() const {
  const double play = FSetup.PlayCounts >= 2 ? std::floor(FSetup.PlayCounts) : 1;
  return std::clamp(play, 1.0, std::max(1.0, FBounds.DeadbandMax));
}

double TGainSearch::Kick(const TSearchGains& g) const {
  return GlitchKick(g.P, g.I, g.D, g.Deadband, FSetup.Loop.Period, FSetup.GlitchCounts);
}

// The glitch's kick is P + I and D each times a number of counts: the kick of a unit of P (or
// I), and of a unit of D, with this deadband.
std::pair<double, double> TGainSearch::KickPerGain(double deadband) const {
  const double period = FSetup.Loop.Period;
  return {GlitchKick(1, 0, 0, deadband, period, FSetup.GlitchCounts), GlitchKick(0, 0, 1, deadband, period, FSetup.GlitchCounts)};
}

// Where the records showed a glitch, a rest record meets one sooner or later, with the motor at
// the deadband's edge as often as not: the kick it gives then is what the rest shows.
bool TGainSearch::QuietAgainstGlitches(const TSearchGains& g) const {
  return FSetup.GlitchCounts <= 0 || Kick(g) <= FBounds.QuietCountJump * (1 + 1e-9);
}

// Gains moved from others, brought back within the glitch's kick: D cut back where it went up
// (P and the deadband as moved), else P and D scaled down together, their balance kept.
TSearchGains TGainSearch::WithinGlitchKick(TSearchGains g, const TSearchGains& from) const {
  if (QuietAgainstGlitches(g)) return g;
  // What is left of the limit for D once P and I have taken theirs.
  const auto [perP, perD] = KickPerGain(g.Deadband);
  if (g.D > from.D && (g.P + g.I) * perP < FBounds.QuietCountJump) {
    g.D = (FBounds.QuietCountJump - (g.P + g.I) * perP) / perD;
    return g;
  }
  const double down = FBounds.QuietCountJump / Kick(g);
  g.P *= down, g.D *= down;
  return g;
}

// Why no gains were kept where the records showed glitches: their size and how often, the kick
// that held the gains tried, and what to check. Where the board's own gains kick beyond it and
// gains within it met the goal but did worse than before, the kick is what binds: the board's
// gains are quicker for the very P and D that a glitch at rest turns into a kick no rest may show.
std::string TGainSearch::GlitchText() const {
  const std::string seen = GlitchesSeenText(FSetup.GlitchCounts, FSetup.GlitchEvents, FSetup.GlitchSeconds) +
                           "; at rest such a glitch with the motor at the deadband's edge kicks the output by about " +
                           GlitchKickText(FSetup.GlitchCounts);
  const std::string within = "the " + FixedText(FBounds.QuietCountJump, 1) + " % of drive a rest may";
  const std::string check = ": check the encoder's wiring, shielding and supply";
  if (FMetButWorse == 0 || QuietAgainstGlitches(FPresent))
    return seen + ", and of the gains tried whose kick stays within " + within +
           ", none both met the goal and did no worse than before" + check;
  return seen + ", " + FixedText(Kick(FPresent), 1) + " % of drive with the board's own gains, which are quicker only "
         "by that kick: gains within " + within + " that met the goal approach more slowly and were not kept (trial " +
         std::to_string(FMetButWorse) + ": " + FWorseThanBefore.Text + ")" + check;
}

// Where the deadband is under a count, an I that finds the motor held by friction off its
// target at rest keeps winding until the motor slips, past the target as often as onto it: a
// slow hunt (or a rest a count or two off) that a short rest record shows only when it happens
// to catch the slip. A rest record of these gains that found the motor off its target tells.
std::optional<TFigureFailure> TGainSearch::WindingAtRest(const TSearchGains& gains) const {
  if (!(gains.I > 0) || gains.Deadband >= 1 || FSetup.Loaded) return std::nullopt;
  for (const TSearchRun& run : FRuns) {
    const TStepFigures& f = run.Figures;
    if (run.Plan.Purpose == TRunPurpose::Settle || run.Plan.Step != 0 || run.Plan.Gains != gains) continue;
    const double off = std::abs(f.SteadyStateError);
    if (f.RestOutputPpPct.value_or(INFINITY) <= kRestLimitPct && off >= 0.5)
      return TFigureFailure{"rest", "rest peak-to-peak",
                            "the motor came to rest " + FixedText(off, 1) + " counts off its target with I winding against the "
                            "friction that holds it, within no deadband: it slips and hunts at rest"};
  }
  return std::nullopt;
}

int TGainSearch::JudgeRunsFor(const TSearchGains& gains) const {
  return (FPosition != 0) + (Loud(gains) ? kLoudJudgeRuns : FSetup.Loaded ? kLoadedJudgeRuns : kJudgeRuns);
}

int TGainSearch::JudgeStep(int done) const {
  const int k = done - FJudgeLead;
  if (k < 0) return -FPosition;
  return k == FJudgeTotal - FJudgeLead - 1 ? 0 : (k % 2 == 0 ? FSetup.Step : -FSetup.Step);
}

// Returns whether the gains' integral takes up a change of the sum that holds the load within
// the wait for rest, as the model's choice takes it.
bool TGainSearch::TakesUpSum(const TSearchGains& gains) const {
  return SettlesWithinWait(TGains{gains.P, gains.I, gains.D}, FSetup.Loop.Period);
}

// Returns whether the board's own loop sums its error without I on a machine with a load: the
// sum then holds nothing, and grows by every cycle the motor rests off target.
bool TGainSearch::OwnSumWindsUp() const { return FSetup.Integral && FPresent.I == 0; }

// The first step of a verification after its lead starts from the board's own gains at rest,
// but not where their sum winds up and the gains judged take up a sum, P holding the motor
// within a count against friction meanwhile: those would start by working off a sum that their
// own loop never gathers once they stay (it holds the load there). They start from their own
// rest instead.
bool TGainSearch::FromOwnGains(const TSearchGains& gains, int done) const {
  if (done != FJudgeLead) return false;
  return !(OwnSumWindsUp() && TakesUpSum(gains) && gains.P >= FSetup.Integral->Friction);
}

// Where the board's own sum winds up, gains with an I too slow to take up a sum ran on what the
// board's own loop had wound up, by chance near what holds the load or not: after a restart
// or another write they would rest elsewhere.
std::optional<TFigureFailure> TGainSearch::OnWoundSum(const TSearchGains& gains) const {
  if (!OwnSumWindsUp() || !(gains.I > 0) || TakesUpSum(gains)) return std::nullopt;
  return TFigureFailure{"rest", "steady-state error",
                        "I takes up the sum that holds the load over " +
                            FixedText(gains.P * FSetup.Loop.Period / gains.I, 1) +
                            " s (P x servo period / I), and the board's own gains have no I: their sum holds nothing and "
                            "grows while the motor rests off target, and these gains ran on what it had grown to, which "
                            "they would not find again after a restart"};
}

// Returns why gains refused for the board's wound sum could not have been given an I that passes:
// the least I that takes up the sum within the wait, against the most the windup allows.
std::string TGainSearch::NoIntegralTakesUpSum(const TSearchGains& gains) const {
  const double least = LeastIntegralWithinWait(gains.P, FSetup.Loop.Period);
  const double most = IntegralRangeFor(*FSetup.Integral, gains.P, gains.Deadband).Most;
  const auto number = [](double v) { return FormatNumber(Shown({0, v, 0, 0}).I).toStdString(); };
  return "no I both takes up the sum the board's own gains wound up (they have no I) within the wait for rest, which "
         "asks for " + number(least) + " at least, and keeps its windup within the deadband, which allows " +
         number(most) + " at most (" + GainsText(gains) + ")";
}

// Without a load, a step of gains with I that came to rest past its target was carried there by
// the sum its approach wound up, friction holding it once it stopped. A verification runs its
// steps one after the other, and each starts with the sum the last one wound up the other way,
// which takes back part of the new approach's windup: such a step stops nearer than one from a
// loop left at rest, whose sum the motor held past its target has long worked off (the same
// gains stopped a count past in every step of a verification and two past in every step after a
// second at rest). Where a step of the verification began with a sum against it worth more drive
// than a count's P, and came to rest past its target within a count of the bound, the
// verification cannot tell that the gains keep to it.
std::optional<TFigureFailure> TGainSearch::OnSumAgainstStep(const TSearchGains& gains) const {
  if (FSetup.Loaded || !(gains.I > 0)) return std::nullopt;
  const double bound = std::max(1.0, gains.Deadband);
  for (int index : FJudgeRuns) {
    const TSearchRun& run = FRuns[size_t(index)];
    const double step = run.Record.Setup.Step, sum = run.Record.Setup.Start.ErrorI;
    const TStepFigures& f = run.Figures;
    if (step == 0 || sum * step >= 0 || gains.I * std::abs(sum) <= gains.P) continue;
    if (f.SteadyStateError >= 0 || -f.SteadyStateError <= bound - 1) continue;
    return TFigureFailure{SignOf(step) == SignOf(FSetup.Step) ? "forward" : "reverse", "steady-state error",
                          "the step came to rest " + FixedText(-f.SteadyStateError, 1) +
                              " counts past its target, carried by I's windup, and began with the sum the last step "
                              "wound up the other way holding back " + FixedText(gains.I * std::abs(sum), 2) +
                              " % of drive: from a loop left at rest it stops further past"};
  }
  return std::nullopt;
}

// Under a load, a step whose approach left the motor beyond the steady-state bound is pulled in
// by I a count at a time, friction holding it at each: the sum winds by the error every cycle,
// so each count nearer takes longer than the last, and how far off the approach left the motor
// depends on where it started (its place in its count, the sum the last step left). Where a
// step of the verification rested beyond the bound for a stretch after its approach and the
// record ended with the motor at the bound and the loop still acting on it (a count beyond the
// deadband), the sum had not taken up the load within the record: its error is where the record
// ended, not where the motor rests, and from another rest place it stops further off (the same
// gains ended a count off in every step of a verification and two off on a fresh board).
std::optional<TFigureFailure> TGainSearch::OnUnfinishedTakeUp(const TSearchGains& gains) const {
  if (!FSetup.Loaded || !(gains.I > 0)) return std::nullopt;
  const double bound = std::max(1.0, gains.Deadband);
  for (int index : FJudgeRuns) {
    const TSearchRun& run = FRuns[size_t(index)];
    const std::vector<double>& e = run.Record.Errors;
    if (run.Plan.Step == 0 || e.empty() || !run.Figures.SettlingSamples) continue;
    const double last = e.back();
    if (std::abs(last) <= gains.Deadband || std::abs(last) > bound) continue;
    // The longest rest beyond the bound after the approach, on the side the record ended.
    size_t held = 0, longest = 0;
    double heldAt = 0;
    for (size_t k = size_t(*run.Figures.SettlingSamples); k < e.size(); ++k) {
      const bool beyond = e[k] * last > 0 && std::abs(e[k]) > bound;
      held = !beyond ? 0 : held > 0 && e[k] == e[k - 1] ? held + 1 : 1;
      if (held > longest) longest = held, heldAt = std::abs(e[k]);
    }
    if (longest < size_t(kMinRestSamples)) continue;
    return TFigureFailure{SignOf(run.Plan.Step) == SignOf(FSetup.Step) ? "forward" : "reverse", "steady-state error",
                          "the step rested " + FixedText(heldAt, 0) + " counts " +
                              (last * run.Plan.Step < 0 ? "past" : "short of") + " its target for " +
                              std::to_string(longest) + " samples before I pulled it in to " +
                              CountText(std::abs(last), 0, "count", "counts") +
                              ", where the record ended with the sum still winding: from another rest place it "
                              "stops further off"};
  }
  return std::nullopt;
}

int TGainSearch::MostTrials() const { return int(FTrials.size()) + std::max(0, RunsLeft()); }

int TGainSearch::Direction() const { return FPosition * SignOf(FSetup.Step) > 0 ? -1 : 1; }

void TGainSearch::StartTrial(const TSearchGains& gains) {
  TSearchTrial trial;
  trial.Number = int(FTrials.size()) + 1;
  trial.Gains = gains;
  FTrials.push_back(trial);
  FPoints[gains];
}

void TGainSearch::Finish(TSearchEnd end) {
  FEnd = end;
  FPhase = TPhase::Over;
  FPending.reset();
}

void TGainSearch::Conclude(const std::string& verdict) {
  FTrials.back().Verdict = verdict;
  FCompleted = int(FTrials.size()) - 1;
}

double TGainSearch::CostOf(const TSearchGains& gains) const {
  const auto it = FPoints.find(gains);
  if (it == FPoints.end() || !it->second.Cost[0] || !it->second.Cost[1]) return kInfinity;
  return std::max(*it->second.Cost[0], *it->second.Cost[1]);
}

bool TGainSearch::Within(const TSearchGains& g, bool quiet) const {
  const TSearchBounds& b = FBounds;
  return g.P >= b.PMin && g.P <= b.PMax && g.D >= 0 && g.D <= b.DMax && g.I >= 0 && g.I <= b.IMax &&
         g.Deadband >= b.DeadbandMin && g.Deadband <= b.DeadbandMax &&
         CountJump(g, FSetup.Loop.Period) <= b.MaxCountJump * (1 + 1e-9) &&
         (!quiet || (g.Deadband >= LoudDeadband() && FSetup.FlickerCounts == 0 && !FSetup.Integral) ||
          CountJump(g, FSetup.Loop.Period) * (FSetup.Integral ? EdgeSwing(g, *FSetup.Integral) : 1) <= b.QuietCountJump) &&
         (!quiet || QuietAgainstGlitches(g)) && IntegralFits(g);
}

bool TGainSearch::IntegralFits(const TSearchGains& g) const {
  if (!FSetup.Integral) return true;
  // The gains as the fields show them round I to three digits: a hundredth either way fits.
  const TIntegralRange r = IntegralRangeFor(*FSetup.Integral, g.P, g.Deadband);
  return g.I > 0 && g.I >= r.Least * 0.99 && g.I <= r.Most * 1.01;
}

namespace {

// Returns whether two values of D are the same but for a hundredth: a move that rounds D to the
// digits the fields show may land a hair beside gains that ran dangerously, which a ringing
// mode tells no more apart than the fields do.
bool SameD(double a, double b) { return std::abs(a - b) <= 0.01 * std::max(std::abs(a), std::abs(b)); }

}  // namespace

bool TGainSearch::Excluded(const TSearchGains& g) const {
  for (const auto& [at, point] : FPoints)
    if (point.Dangerous && SameD(g.D, at.D) && g.Deadband == at.Deadband && g.P >= at.P && g.I >= at.I) return true;
  return false;
}

// Returns, under a load, the index of a run of gains no bolder in P and D (a hundredth either
// way, as the fields round them), with the same deadband, that left the motor on the edge of a
// count and kicking (I aside, but for the less I a rocking run is judged with, LessIThanRocked,
// and D where that run overshot first, OvershotIntoRock).
// More D kicks harder at each crossing, and more P makes the edge the place the motor comes to
// rest: P's count more than friction holds pushes it back across as often as the sum's
// shortfall lets it fall back. Less P with the same D lets friction hold the motor on one count
// more often; a count of deadband doubles the error's jump at the edge and so P's push there.
std::optional<int> TGainSearch::KickOnCountEdge(const TSearchGains& g) const {
  if (!FSetup.Integral) return std::nullopt;
  for (size_t k = 0; k < FRuns.size(); ++k) {
    const TSearchRun& run = FRuns[k];
    const TSearchGains& at = run.Plan.Gains;
    if (run.Plan.Purpose == TRunPurpose::Settle || at.Deadband != g.Deadband || g.P < at.P * 0.99 ||
        g.D < at.D * 0.99 || LessIThanRocked(at, g) || OvershotIntoRock(run, g))
      continue;
    if (KickedOnCountEdge(run.Record, run.Figures, at.Deadband)) return int(k);
  }
  return std::nullopt;
}

// Returns whether a run that rocked on the edge of a count overshot beyond the goal first and
// gains with more D than its own are judged: I brought that motor back to its target slowly
// from past it, creeping onto the edge, where D's kick at each crossing throws it back. More D
// keeps the approach from going so far past, and the rock tells nothing of where it stops.
bool TGainSearch::OvershotIntoRock(const TSearchRun& run, const TSearchGains& g) const {
  return run.Plan.Step != 0 && run.Figures.OvershootPct > FSetup.Goal.TargetOvershootPct &&
         g.D > run.Plan.Gains.D * 1.01;
}

// Returns, under a load with records of more than a servo cycle a sample, whether gains have
// at most kLessIAfterRocking of the I of those of a run (a hundredth aside, as the fields round
// it): that run's rocking on the edge of a count tells nothing of them.
bool TGainSearch::LessIThanRocked(const TSearchGains& rocked, const TSearchGains& g) const {
  return FSetup.Integral && FSetup.Prediv > 0 && rocked.I > 0 && g.I <= rocked.I * kLessIAfterRocking * 1.01;
}

// Whether a run under a load came to its target within the overshoot allowed (a rest record
// has none) and then left the motor crossing to and fro on the edge of a count.
bool TGainSearch::RockedOnCountEdge(const TSearchRun& run) const {
  const TStepFigures& f = run.Figures;
  return FSetup.Integral && run.Plan.Purpose != TRunPurpose::Settle &&
         (run.Plan.Step == 0 || (f.SettlingSamples && f.OvershootPct <= FSetup.Goal.TargetOvershootPct)) &&
         KickedOnCountEdge(run.Record, f, run.Plan.Gains.Deadband);
}

// Where gains under a load missed by their rest alone, and their verification or a run of gains
// no bolder rocked on the edge of a count, the same P and D are judged next with I at
// kLessIAfterRocking of the least I that rocked so, where the records allow it and a
// verification is left. Returns whether they are.
bool TGainSearch::JudgeWithLessI(const TSearchGains& missed) {
  if (!FSetup.Integral || FSetup.Prediv == 0 || FJudgements >= kMostJudgements) return false;
  if (!std::all_of(FFailures.begin(), FFailures.end(),
                   [](const TFigureFailure& f) { return f.Figure == "rest peak-to-peak"; }))
    return false;
  std::optional<double> rockedI;
  if (const std::optional<int> edge = KickOnCountEdge(missed)) rockedI = FRuns[size_t(*edge)].Plan.Gains.I;
  for (int index : FJudgeRuns)
    if (RockedOnCountEdge(FRuns[size_t(index)])) rockedI = std::min(rockedI.value_or(missed.I), missed.I);
  if (!rockedI) return false;
  TSearchGains g = missed;
  g.I = *rockedI * kLessIAfterRocking;
  g = Shown(g);
  if (!(g.I > 0) || FPoints.count(g) || Excluded(g) || RunsLeft() < JudgeRunsFor(g)) return false;
  Judge(g);
  return true;
}

// Why gains are not kept where a run of gains no bolder kicked on the edge of a count.
std::optional<TFigureFailure> TGainSearch::OnCountEdge(const TSearchGains& gains) const {
  const std::optional<int> index = KickOnCountEdge(gains);
  if (!index) return std::nullopt;
  const TSearchRun& run = FRuns[size_t(*index)];
  return TFigureFailure{"rest", "rest peak-to-peak",
                        "a run of " + std::string(run.Plan.Gains == gains ? "these gains" : "gains no bolder in P and D") +
                            " left the motor on the edge of a count against the load, crossing to and fro with the "
                            "output kicked by " + FixedText(run.Figures.RestOutputPpPct.value_or(0), 1) +
                            " % of \"Max Output (m):\" at each crossing, beyond " + FixedText(kRestLimitPct, 0) +
                            " %: P's count more pushes it back across until the sum alone holds the load"};
}

TDanger TGainSearch::Record(const TStepRecord& record) {
  FCompleted.reset();
  if (!FPending) return TDanger::None;
  const TPlannedRun plan = *FPending;
  FPending.reset();
  TStepFigures figures =
      ComputeStepFigures(record.Errors, record.Outputs, record.Setup.Step, record.Setup.Loop.MaxOutput);
  if (FSetup.Loaded) figures = FiguresAfterTakeUp(record, figures, plan.Gains.Deadband);
  TSearchRun run{plan, record, figures, DangerIn(record)};
  // From a run that found a force at rest pushing the motor to the edge of a count, the count
  // comes and goes as where the records before showed it: loud gains are not kept, and the
  // search keeps to quiet ones at the least deadband (a wider one only moves the edge the
  // force carries the motor to, and doubles the error's jump there).
  if (!FSetup.Integral && plan.Purpose != TRunPurpose::Settle && PushedOutAtRest(record, figures, plan.Gains))
    FSetup.FlickerCounts = std::max(FSetup.FlickerCounts, 1.0);
  FRuns.push_back(run);
  FTrials.back().Runs.push_back(int(FRuns.size()) - 1);
  FPosition += plan.Step;
  const TDanger danger = run.Danger;
  if (danger != TDanger::None) {
    FPoints[plan.Gains].Dangerous = true;
    FTrials.back().Danger = danger;
  }
  if (danger == TDanger::Tripped) {
    Conclude(DangerText(danger));
    Finish(TSearchEnd::Tripped);
    return danger;
  }
  // A settling rest record that shows nothing dangerous is no measurement of the gains.
  if (plan.Purpose == TRunPurpose::Settle && danger == TDanger::None) {
    FPending = std::exchange(FAfterSettle, std::nullopt);
    return danger;
  }
  FAfterSettle.reset();
  switch (FPhase) {
    case TPhase::Probe: AfterProbe(danger); break;
    case TPhase::Search: AfterSearchRun(danger); break;
    case TPhase::Judge: AfterJudgeRun(danger); break;
    case TPhase::Over: break;
  }
  return danger;
}

void TGainSearch::AfterProbe(TDanger danger) {
  const TSearchGains gains = FTrials.back().Gains;
  if (danger != TDanger::None) {
    Conclude("with the small step: " + DangerText(danger) + "; put back at once");
    FPhase = TPhase::Search;
    FPoll = MovesFor(FBest);
    if (!PlanMove()) ToJudge();
    return;
  }
  Conclude("safe with the small step");
  Judge(gains);
}

void TGainSearch::Judge(const TSearchGains& gains) {
  FPhase = TPhase::Judge;
  ++FJudgements;
  FJudgeRuns.clear();
  FJudgedGains = gains;
  FFailures.clear();
  StartTrial(gains);
  FTrials.back().Judged = true;
  // Measured as the present gains were: a step from where the search began, the step back
  // and a rest record there (the motor first brought back where it stands elsewhere), so that
  // a load, a spring or play that depends on where the motor is and whence it came acts on
  // both alike.
  FJudgeTotal = JudgeRunsFor(gains);
  FJudgeLead = FPosition != 0;
  Plan(TPlannedRun{gains, JudgeStep(0), TRunPurpose::Judge, FTrials.back().Number, FromOwnGains(gains, 0)});
}

void TGainSearch::AfterSearchRun(TDanger danger) {
  TSearchTrial& trial = FTrials.back();
  TPoint& point = FPoints[trial.Gains];
  const TSearchRun& run = FRuns.back();
  if (danger != TDanger::None) {
    Conclude(DangerText(danger) + "; put back at once");
    if (!PlanMove()) ToJudge();
    return;
  }
  const int side = SignOf(run.Plan.Step) == SignOf(FSetup.Step) ? 1 : 0;
  point.Cost[side] = StepCost(run.Figures, FSetup.Goal, trial.Gains.Deadband, run.Record.Setup.Step, int(run.Record.Errors.size()));
  point.Figures[side] = run.Figures;
  const TPoint& best = FPoints[FBest];
  if (!point.Cost[1 - side]) {
    // The centre the search goes on from is measured the other way whatever it cost this way.
    if (trial.Gains != FBest && best.Cost[side] && !WorthTheOtherWay(*point.Cost[side], side)) {
      Conclude(FiguresText(run.Figures) + ": cost " + FixedText(*point.Cost[side], 1) + ", no better than the best's " +
               FixedText(*best.Cost[side], 1) + " this way");
      Repair(trial.Gains, run.Figures);
      if (!PlanMove()) ToJudge();
      return;
    }
    Plan(TPlannedRun{trial.Gains, Direction() * FSetup.Step, TRunPurpose::Search, trial.Number});
    return;
  }
  trial.Cost = CostOf(trial.Gains);
  if (trial.Gains == FBest) {
    Conclude(FiguresText(run.Figures) + ": cost " + FixedText(*trial.Cost, 1) + ", the centre the search goes on from");
  } else if (*trial.Cost < CostOf(FBest) * (1 - kLeastGain)) {
    FBest = trial.Gains;
    trial.Better = true;
    // The same move again, twice as far: a start far from good gains gets there in fewer trials.
    if (FLastGood && FLastGood == FMoving && FRepairs == 0) FScale = std::min(kLongestScale, FScale * 2);
    FLastGood = FMoving;
    FPoll = MovesFor(FBest);
    FRepair.reset();
    FRepairs = 0;
    Conclude(FiguresText(run.Figures) + ": cost " + FixedText(*trial.Cost, 1) + ", the best so far");
  } else {
    Conclude(FiguresText(run.Figures) + ": cost " + FixedText(*trial.Cost, 1) + ", no better than the best's " +
             FixedText(CostOf(FBest), 1));
    Repair(trial.Gains, run.Figures);
  }
  if (!PlanMove()) ToJudge();
}

// Whether a trial measured one way is worth its step the other way: where it does better than
// the best gains this way, or where it meets the goal this way while the best gains miss it the
// other. A load that acts on one side of the step (a spring the step presses in, an arm it
// lifts) leaves the best gains held off target that way alone; a move meant for that side (more
// I) costs a few samples on the side it was not meant for, and judging it there alone dropped
// the very moves that pull the motor in against the load. Without a load the side a trial costs
// more on is as likely the one that tells, so there it must also do as well as the best this
// way: cogging, a spring or play the motor meets at one end of the step alone leave the best
// gains hunting at rest on that side only, and a move that cures it (less I, a count less of
// deadband) changes nothing on the side it is measured on first.
bool TGainSearch::WorthTheOtherWay(double cost, int side) const {
  const TPoint& best = FPoints.at(FBest);
  if (!best.Cost[side] || cost < *best.Cost[side]) return true;
  const double missed = 2.0 * kStepTestSamples;
  const bool bestMissesTheOtherWay = cost < missed && best.Cost[1 - side] && *best.Cost[1 - side] >= missed;
  return bestMissesTheOtherWay && (FSetup.Loaded || cost <= *best.Cost[side] * (1 + kLeastGain));
}

// A bolder trial that overshot goes on with more D, one whose output would not rest with a count
// more of deadband, and one with I that settled but was held past its target with less I: the
// approach's windup carried it there and friction holds it. A start that rang halved P until
// friction held the motor short of its target; the trial back up, P and D in the balance that
// settles, stopped three counts past with the I the soft gains had been given, and without it
// settled. A run that did not settle tells more of P and D than of I.
void TGainSearch::Repair(const TSearchGains& tried, const TStepFigures& f) {
  FRepair.reset();
  const bool bolder = FMoving && (*FMoving == TMove::PUp || *FMoving == TMove::Faster || *FMoving == TMove::IUp ||
                                  *FMoving == TMove::DDown || *FMoving == TMove::BandDown);
  if (!bolder || FRepairs >= kMostRepairs) return;
  if (f.OvershootPct > FSetup.Goal.TargetOvershootPct) FRepair = Moved(tried, TMove::DUp);
  else if (f.RestOutputPpPct.value_or(0) > kRestLimitPct) FRepair = Moved(tried, TMove::BandUp);
  else if (f.SettlingSamples && f.SteadyStateError < -std::max(1.0, tried.Deadband) && tried.I > 0)
    FRepair = Moved(tried, TMove::IDown);
}

void TGainSearch::AfterJudgeRun(TDanger danger) {
  TSearchTrial& trial = FTrials.back();
  TPoint& point = FPoints[trial.Gains];
  const TSearchRun& run = FRuns.back();
  FJudgeRuns.push_back(int(FRuns.size()) - 1);
  if (danger != TDanger::None) {
    FFailures = {{"", "danger", DangerText(danger) + " in the verification"}};
    Conclude(DangerText(danger) + " in the verification; put back at once");
    FPhase = TPhase::Search;
    FPoll = MovesFor(FBest);
    if (!PlanMove()) ToJudge();
    return;
  }
  if (std::abs(run.Plan.Step) == std::abs(FSetup.Step)) {
    const int side = SignOf(run.Plan.Step) == SignOf(FSetup.Step) ? 1 : 0;
    point.Cost[side] = StepCost(run.Figures, FSetup.Goal, trial.Gains.Deadband, run.Record.Setup.Step, int(run.Record.Errors.size()));
    point.Figures[side] = run.Figures;
  }
  const int done = int(FJudgeRuns.size());
  if (done < FJudgeTotal) {
    Plan(TPlannedRun{trial.Gains, JudgeStep(done), TRunPurpose::Judge, trial.Number, FromOwnGains(trial.Gains, done)});
    return;
  }
  Verdict();
}

void TGainSearch::Verdict() {
  TSearchTrial& trial = FTrials.back();
  TPoint& point = FPoints[trial.Gains];
  point.Judged = true;
  trial.Cost = CostOf(trial.Gains);
  const std::vector<TBoardFigures> pairs = JudgedPairs();
  FFailures = JudgeVerifications(FSetup.Before, pairs, FSetup.Goal, trial.Gains.Deadband,
                                 Loud(trial.Gains) ? std::optional<double>(kLoudRestMarginPct) : std::nullopt);
  // Failures of a verification whose every run met the goal are figures worse than before (a
  // rest within the limit but beyond a loud loop's margin aside): a slower approach.
  if (FMetButWorse == 0 && !FFailures.empty() && FFailures.front().Figure != "rest peak-to-peak" &&
      AllWithinGoal(pairs, FSetup.Goal, trial.Gains.Deadband))
    FMetButWorse = trial.Number, FWorseThanBefore = FFailures.front();
  // The model's suggestion is chosen for the loop law the model assumes: new gains exercise
  // what the old ones may not have (an I where there was none), so the law is checked again.
  if (FSetup.Guess && trial.Gains == Shown(*FSetup.Guess))
    for (int index : FJudgeRuns) {
      const TSearchRun& run = FRuns[index];
      if (run.Plan.Step == 0 || CheckLoopLaw(run.Record).Verdict != TLawVerdict::Differs) continue;
      FFailures.push_back({run.Plan.Step == FSetup.Step ? "forward" : "reverse", "loop law",
                           "the step with the suggested gains does not follow the loop law the model assumes"});
    }
  // Where the records showed a count that comes and goes, a count beyond the deadband comes
  // whenever the motor rests off its middle, whether the few records showed it or not: a glitch
  // kicks the output by its size on top of the deadband's edge, and a noisy count kicks a loud
  // loop beyond the rest limit.
  if (FFailures.empty() && !QuietAgainstGlitches(trial.Gains))
    FFailures.push_back({"rest", "rest peak-to-peak",
                         "a glitch of " + CountText(FSetup.GlitchCounts, 0, "count", "counts") +
                             " with the motor at the deadband's edge kicks the output by " +
                             FixedText(Kick(trial.Gains), 1) + " % of drive peak-to-peak, beyond the " +
                             FixedText(FBounds.QuietCountJump, 1) + " % a rest may"});
  if (FFailures.empty() && FSetup.FlickerCounts > 0 && Loud(trial.Gains))
    FFailures.push_back({"rest", "rest peak-to-peak",
                         "one count beyond the deadband moves the output by " +
                             FixedText(CountJump(trial.Gains, FSetup.Loop.Period), 1) + " % of drive, beyond the " +
                             FixedText(FBounds.QuietCountJump, 1) + " % a rest may, and the records show a count that "
                             "comes and goes by " + FixedText(FSetup.FlickerCounts, 0) + ": a glitch with the motor off "
                             "the middle of its deadband kicks it"});
  // A short rest record may miss what the search's own runs showed: whether the motor comes
  // to rest on the edge of a count (a load, cogging) or hunts across its friction is a matter
  // of where it stops, and a loop whose count moves the output no more, with no more I and
  // the same deadband, that did not rest quietly tells that these gains may not either.
  const double jump = CountJump(trial.Gains, FSetup.Loop.Period);
  for (size_t k = 0; k < FRuns.size() && FFailures.empty(); ++k) {
    const TSearchRun& run = FRuns[k];
    const TSearchGains& g = run.Plan.Gains;
    if (run.Plan.Purpose == TRunPurpose::Settle) continue;  // the kick of a new I, not the gains at rest
    // A less bold loop that came to rest a count or two off under a load and slipped nearer as
    // I wound tells nothing of these gains: more P holds the motor nearer its target.
    if (g != trial.Gains && FSetup.Loaded && LastTakeUp(run.Record, run.Figures, g.Deadband)) continue;
    // Without a load, a loop without I (or with one whose sum held nothing, SumNegligible) that
    // left the motor crossing to and fro on the edge of a count tells of gains with as much P and
    // as much D (a hundredth aside, as the fields round them), not of those with less of either: a
    // force at rest (cogging, a detent) carried the motor to the edge, and what pushed it back
    // across was P's count more or D's kick as it crossed. Gains a hair bolder in count jump but
    // with less of one had been refused for a run whose balance they do not share, on machines
    // where every quiet gains sit near one count jump.
    if (g != trial.Gains && !FSetup.Loaded && SumNegligible(run.Record, g) &&
        (trial.Gains.P < g.P * 0.99 || trial.Gains.D < g.D * 0.99) && KickedOnCountEdge(run.Record, run.Figures, g.Deadband))
      continue;
    // A step's tail counts where the motor settled within the first half of the record: a
    // later settling leaves motion in the tail, not the motor at rest. A run of these very
    // gains that reached its target within the first half and settled late only because it
    // swung about the target counts too: it hunted most of the record and rested no quieter.
    const bool swungAbout = g == trial.Gains && run.Figures.SettlingSamples &&
                            ReachedAt(run.Record) <= size_t(kStepTestSamples / 2);
    const bool resting = run.Plan.Step == 0 ||
                         run.Figures.SettlingSamples.value_or(kStepTestSamples) <= kStepTestSamples / 2 || swungAbout;
    if (!resting || run.Figures.RestOutputPpPct.value_or(0) <= kRestLimitPct || g.Deadband != trial.Gains.Deadband ||
        g.I > trial.Gains.I || CountJump(g, FSetup.Loop.Period) > jump * (1 + 1e-9))
      continue;
    FFailures.push_back({"rest", "rest peak-to-peak",
                         "rest peak-to-peak of the output was " + FixedText(*run.Figures.RestOutputPpPct, 1) +
                             " % of \"Max Output (m):\" in an earlier run of " +
                             (g == trial.Gains ? std::string("these gains") : "gains no bolder") + ", beyond " +
                             FixedText(kRestLimitPct, 0) + " %"});
  }
  if (FFailures.empty())
    if (const std::optional<TFigureFailure> edge = OnCountEdge(trial.Gains)) FFailures.push_back(*edge);
  if (FFailures.empty())
    if (const std::optional<TFigureFailure> winding = WindingAtRest(trial.Gains)) FFailures.push_back(*winding);
  if (FFailures.empty())
    if (const std::optional<TFigureFailure> wound = OnWoundSum(trial.Gains)) FFailures.push_back(*wound);
  if (FFailures.empty())
    if (const std::optional<TFigureFailure> against = OnSumAgainstStep(trial.Gains)) FFailures.push_back(*against);
  if (FFailures.empty())
    if (const std::optional<TFigureFailure> unfinished = OnUnfinishedTakeUp(trial.Gains)) FFailures.push_back(*unfinished);
  if (FFailures.empty()) {
    FKept = FBest = trial.Gains;
    Conclude("every figure within the goal and none worse than before: kept");
    Finish(TSearchEnd::Kept);
    return;
  }
  Conclude("verified: " + FFailures.front().Text);
  trial.Verdict += Refit();
  if (*trial.Cost < CostOf(FBest)) {
    FBest = trial.Gains;
    trial.Better = true;
  }
  if (JudgeWithLessI(trial.Gains)) return;
  FPhase = TPhase::Search;
  FPoll = MovesFor(FBest);
  if (!PlanMove()) ToJudge();
}

// Under a load, the motor fitted to the board's own runs may be fitted poorly where those gains
// hardly moved it: a sluggish loop that stops far short of its target against the load leaves
// the fit free to find a delay the drive does not have, and held the search to half the D that
// rests quietly. A verification's steps with bolder gains show the motor as it is, so the first
// one that fails has its steps fitted again, and where that fit can be used and still shows a
// load, it sizes I and the swing at the deadband's edge from then on. Returns what changed, for
// the trial's verdict; empty where nothing did.
std::string TGainSearch::Refit() {
  if (!FSetup.Integral || FRefitted) return "";
  FRefitted = true;
  const double counts = std::abs(double(FSetup.Step) * std::max(1, FSetup.Multiplier));
  const TBoardFigures& before = FSetup.Before;
  if (std::max(std::abs(before.Forward.SteadyStateError), std::abs(before.Reverse.SteadyStateError)) <=
      counts * kFarOffShare)
    return "";
  std::vector<TStepRecord> records;
  for (int index : FJudgeRuns)
    if (FRuns[size_t(index)].Plan.Step != 0) records.push_back(FRuns[size_t(index)].Record);
  const TIdentification refit = IdentifyMotor(records);
  if (!refit.Usable) return "";
  const std::optional<TIntegralSizing> sizing = LoadSizingFor(FSetup, refit.Motor);
  if (!sizing) return "";
  const bool prompt = FSetup.Integral->Prompt;
  FSetup.Integral = sizing;
  std::string text = "; I is sized from here on on the motor fitted again to these steps";
  if (sizing->Prompt != prompt)
    text += sizing->Prompt ? ", which takes the drive within a servo cycle: D is held to the swing at one edge of the "
                             "deadband"
                           : ", which takes the drive a servo cycle late or more: D is held to the swing across both "
                             "edges of the deadband";
  return text;
}

// The gains verified next: the cheapest measured both ways that beat the present gains, or with
// oneWay, of those measured one way only, the cheapest that met the goal that way (the
// verification steps both ways).
std::optional<TSearchGains> TGainSearch::ToBeJudged(bool oneWay) const {
  const int samples = kStepTestSamples;
  const double present = CostOf(FPresent);
  std::optional<TSearchGains> pick;
  double least = kInfinity;
  for (const auto& [gains, point] : FPoints) {
    const bool both = point.Cost[0] && point.Cost[1];
    if (oneWay == both || (!point.Cost[0] && !point.Cost[1])) continue;
    const double cost = both ? CostOf(gains) : point.Cost[0].value_or(*point.Cost[1]);
    // Gains as bold in P and D as some that rocked on the edge of a count under a load, or with
    // an I too slow to take up the sum the board's own loop wound up, would spend a
    // verification on gains the verdict does not keep.
    if (point.Dangerous || point.Judged || Excluded(gains) || cost >= 2 * samples || cost >= present ||
        cost >= least || KickOnCountEdge(gains) || OnWoundSum(gains))
      continue;
    pick = gains, least = cost;
  }
  return pick;
}

// Where no gains measured both ways are left to verify, gains that met the goal the one way they
// were measured are verified instead: a move left after one way for costing more than the best
// did there may be the best that can be kept once the best are ruled out, and the runs left
// may allow its verification but not its other step first.
void TGainSearch::ToJudge() {
  std::optional<TSearchGains> pick = ToBeJudged(false);
  if (!pick) pick = ToBeJudged(true);
  if (!pick || FJudgements >= kMostJudgements || RunsLeft() < JudgeRunsFor(*pick)) {
    if (FRuns.empty() && FFailures.empty())
      FFailures = {{"", "bounds",
                    "no gains next to the present ones keep within the count jump, a quiet rest and an I that suits "
                    "the load the fit shows"}};
    if (FFailures.empty())
      if (const std::optional<TFigureFailure> none = NothingVerified()) FFailures.push_back(*none);
    if (FSetup.GlitchCounts > 0) FFailures.push_back({"rest", "glitches", GlitchText()});
    return Finish(TSearchEnd::NoneBetter);
  }
  Judge(*pick);
}

// Why a search that verified nothing kept nothing: none of its trials met the goal both ways
// (or none measured both ways ran safely), with what the nearest missed by; or, where the
// nearest met it, what kept them from a verification.
std::optional<TFigureFailure> TGainSearch::NothingVerified() const {
  const TSearchGains* nearest = nullptr;
  int tried = 0, dangerous = 0;
  for (const auto& [gains, point] : FPoints) {
    if (gains == FPresent) continue;
    ++tried;
    dangerous += point.Dangerous;
    if (point.Dangerous || !point.Figures[0] || !point.Figures[1]) continue;
    if (!nearest || CostOf(gains) < CostOf(*nearest)) nearest = &gains;
  }
  if (tried == 0) return std::nullopt;
  std::string none = "none of the " + CountText(tried, 0, "gains", "gains") + " tried met the goal both ways" +
                     (dangerous > 0 ? " (" + std::to_string(dangerous) + " ran dangerously)" : "");
  if (!nearest) return TFigureFailure{"", "search", none};
  const std::string gains = GainsText(*nearest);
  const TPoint& point = FPoints.at(*nearest);
  const std::vector<TFigureFailure> beyond =
      FiguresBeyondGoal({*point.Figures[1], *point.Figures[0], std::nullopt}, FSetup.Goal, nearest->Deadband);
  if (!beyond.empty()) {
    const std::string bolder = beyond.front().Figure == "steady-state error" ? WithMorePText(*nearest) : "";
    return TFigureFailure{"", "search", none + "; the nearest, " + gains + ": " + beyond.front().Text + bolder};
  }
  std::string why = "the step tests the time allows ran out before their verification";
  if (const std::optional<TFigureFailure> edge = OnCountEdge(*nearest)) why = edge->Text;
  else if (OnWoundSum(*nearest)) why = NoIntegralTakesUpSum(*nearest);
  else if (Excluded(*nearest)) why = "a run of gains with the same D and deadband and no more P nor I was dangerous";
  else if (CostOf(*nearest) >= CostOf(FPresent)) why = "their steps do no better than the board's own gains";
  return TFigureFailure{"", "search", gains + " met the goal both ways in the search but were not verified: " + why};
}

// Returns what the trials with more P than the nearest gains missed by, where friction held the
// nearest off target: "; with more P, P 0.21 I 0 D 0.0013 deadband 0: overshoot of the forward
// step: ...", the one nearest the goal of them, or that every one ran dangerously. More P pulls a
// motor in against friction, and where the trials that had it rang, overshot or grew (a resonance
// beyond the motor, say) the two bind each other: no P both holds the motor on target and keeps
// it calm. Empty where no trial had more P.
std::string TGainSearch::WithMorePText(const TSearchGains& nearest) const {
  const auto cost = [](const TPoint& point) {
    return std::max(point.Cost[0].value_or(0.0), point.Cost[1].value_or(0.0));
  };
  const TSearchGains* bolder = nullptr;
  int more = 0, dangerous = 0;
  for (const auto& [gains, point] : FPoints) {
    if (gains.P <= nearest.P * (1 + 1e-9)) continue;
    ++more;
    dangerous += point.Dangerous;
    if (point.Dangerous || (!point.Figures[0] && !point.Figures[1])) continue;
    if (!bolder || cost(point) < cost(FPoints.at(*bolder))) bolder = &gains;
  }
  if (more == 0) return "";
  if (!bolder) return "; every trial with more P ran dangerously";
  // A side measured alone stands for both, and its own failure is the one told.
  const TPoint& point = FPoints.at(*bolder);
  const int side = point.Figures[1] ? 1 : 0;
  const TStepFigures& one = *point.Figures[side];
  const TBoardFigures figures{point.Figures[1].value_or(one), point.Figures[0].value_or(one), std::nullopt};
  const char* run = side == 1 ? "forward" : "reverse";
  for (const TFigureFailure& f : FiguresBeyondGoal(figures, FSetup.Goal, bolder->Deadband))
    if ((point.Figures[0] && point.Figures[1]) || f.Run == run)
      return "; with more P, " + GainsText(*bolder) + ": " + f.Text +
             (dangerous > 0 ? " (" + std::to_string(dangerous) + " with more P ran dangerously)" : "");
  return "";
}

bool TGainSearch::PlanMove() {
  // A move may take two runs, and a rest record before them where it changes I under a load.
  if (RunsLeft() < JudgeRunsFor(FBest) + 2 + (FSetup.Integral ? 1 : 0)) return false;
  WidenIntegralWhereShort();
  if (const std::optional<TSearchGains> repair = std::exchange(FRepair, std::nullopt);
      repair && !Excluded(*repair) && !FPoints.count(*repair)) {
    ++FRepairs;
    StartTrial(*repair);
    Plan(TPlannedRun{*repair, Direction() * FSetup.Step, TRunPurpose::Search, FTrials.back().Number});
    return true;
  }
  FRepairs = 0;
  if (FRidging) return PlanRidgeMove();
  if (PlanQuietMove()) return true;
  for (;;) {
    if (FPoll.empty()) {
      FScale /= 2;
      if (FScale < kLastScale) {
        if (FSetup.GlitchCounts > 0) return PlanRidgeMove();
        if (!Recentre()) return false;
        if (!FPoints.at(FBest).Cost[0] || !FPoints.at(FBest).Cost[1]) return PlanOtherWay();
      }
      FPoll = MovesFor(FBest);
    }
    const TMove move = FPoll.front();
    FPoll.erase(FPoll.begin());
    const std::optional<TSearchGains> next = Moved(FBest, move);
    // Under a load, gains as bold in P and D as some that rocked on the edge of a count are
    // never kept: a run of them spends the step tests the gains that may be kept need.
    if (!next || Excluded(*next) || FPoints.count(*next) || KickOnCountEdge(*next)) continue;
    FMoving = move;
    StartTrial(*next);
    Plan(TPlannedRun{*next, Direction() * FSetup.Step, TRunPurpose::Search, FTrials.back().Number});
    return true;
  }
}

// Where the best gains cannot be kept (their verification failed, under a load a run as bold in P
// and D rocked on the edge of a count, or their I is too slow for the board's wound sum) and the
// moves around them are spent, the search goes on from the gains that cost least of those that may
// still be kept: measured both ways, or one way only where that way met the goal (a move that cured
// what the best gains showed on one side may have been left after that side for costing more than
// they did). Each becomes the centre once, with the first poll's moves; the verdict's rules are the
// same for whatever it finds.
// Gains that rocked on the edge of a count, and met the goal but for that rest, come last.
// Gains ready to be verified go first: the verification tells more than a poll.
bool TGainSearch::Recentre() {
  FCentres.insert(FBest);
  if (FBest == FPresent || (!FPoints.at(FBest).Judged && !KickOnCountEdge(FBest) && !OnWoundSum(FBest))) return false;
  if (FJudgements >= kMostJudgements || ToBeJudged(false)) return false;
  const double missed = 2.0 * kStepTestSamples, present = CostOf(FPresent);
  std::optional<TSearchGains> pick;
  // Gains no run has shown rocking go first; those it has, where nothing else is left.
  for (const bool rocked : {false, true}) {
    double least = kInfinity;
    for (const auto& [gains, point] : FPoints) {
      if (point.Dangerous || point.Judged || FCentres.count(gains) || Excluded(gains) ||
          KickOnCountEdge(gains).has_value() != rocked)
        continue;
      const double cost = CentreCost(gains, point);
      if (cost <= 0 || cost >= missed || cost >= present || cost >= least) continue;
      pick = gains, least = cost;
    }
    if (pick) break;
  }
  if (!pick) return false;
  FBest = *pick;
  FCentres.insert(FBest);
  FScale = 1;
  FLastGood.reset();
  FMoving.reset();
  return true;
}

// Returns what gains cost as a centre to go on from: the worse of the ways they were measured.
// Gains as bold as some that rocked on the edge of a count under a load are never kept, but the
// moves from them to less P, D or I may be: a way that missed the goal by its rest alone counts
// at what it cost without it. A search whose other gains all missed the goal one way had ended
// there with half its step tests unused, next to quieter gains that settle as these did.
double TGainSearch::CentreCost(const TSearchGains& gains, const TPoint& point) const {
  const bool rocked = KickOnCountEdge(gains).has_value();
  double cost = 0;
  for (int side = 0; side < 2; ++side) {
    if (!point.Cost[side]) continue;
    double c = *point.Cost[side];
    if (rocked && point.Figures[side]) {
      TStepFigures quiet = *point.Figures[side];
      quiet.RestOutputPpPct.reset();
      if (!StepWithinGoal(quiet, FSetup.Goal, gains.Deadband)) return kInfinity;
      c = StepCost(quiet, FSetup.Goal, gains.Deadband, FSetup.Step * std::max(1, FSetup.Multiplier), kStepTestSamples);
    }
    cost = std::max(cost, c);
  }
  return cost;
}

// Measures the centre, known one way, the other way: the step that brings the motor back
// towards where the search began goes first where it is the way already measured.
bool TGainSearch::PlanOtherWay() {
  FPoll = MovesFor(FBest);
  StartTrial(FBest);
  Plan(TPlannedRun{FBest, Direction() * FSetup.Step, TRunPurpose::Search, FTrials.back().Number});
  return true;
}

// The approach's windup is an estimate from the fitted motor (a spring or an arm the model holds
// only in part): where the best gains, with I at the most it allows, still leave the motor short
// of its target beyond the deadband and nowhere past it, the sum they wound up took up less of the
// load than estimated. The estimate comes down to what leaves room for a move of I up (a factor
// 4), so that the search spends its runs on the I the load asks for rather than on P and D.
void TGainSearch::WidenIntegralWhereShort() {
  if (!FSetup.Integral) return;
  const auto it = FPoints.find(FBest);
  if (it == FPoints.end() || !(FBest.I > 0) || it->second.Dangerous) return;
  TIntegralSizing& z = *FSetup.Integral;
  const TIntegralRange r = IntegralRangeFor(z, FBest.P, FBest.Deadband);
  if (FBest.I < r.Most * 0.99) return;
  const double bound = std::max(1.0, FBest.Deadband);
  bool shortOf = false;
  for (const std::optional<TStepFigures>& f : it->second.Figures) {
    if (!f || f->SteadyStateError < -bound || f->OvershootPct > FSetup.Goal.TargetOvershootPct) return;
    shortOf = shortOf || f->SteadyStateError > bound;
  }
  if (!shortOf) return;
  z.WindupArea *= r.Most / (4 * FBest.I);
  FPoll = MovesFor(FBest);
}

// Where the glitches' kick holds the gains, the quiet gains that settle lie along its limit within
// a narrow band of D over P, narrower than the search's smallest move: too little D and the motor
// overshoots or stops past the target, too much and friction holds it short. Gains measured
// along the limit bracket that band (the largest D over P that went past the target, the
// smallest that stopped short above it), and the next trial halves the bracket on the limit,
// until gains within it stop on target or the bracket is as narrow as the gains' three digits
// tell apart.
bool TGainSearch::PlanRidgeMove() {
  FRidging = true;
  FMoving.reset();
  // Along the limit I stays where a load needs it, else none (an I winds the motor past where
  // friction would hold it), and the deadband stays the best's (or the least the records ask).
  const double i = FSetup.Integral ? FBest.I : 0;
  const double band = std::max(FBest.Deadband, FBounds.DeadbandMin);
  // Each gains on the limit: D over P, and whether their steps went past the target (1) or
  // stopped short of it (-1).
  std::vector<std::pair<double, int>> sides;
  for (const auto& [g, point] : FPoints) {
    if (point.Dangerous || g.P <= 0 || g.I != i || g.Deadband != band ||
        Kick(g) < FBounds.QuietCountJump * kRidgeKickShare)
      continue;
    const double bound = std::max(1.0, g.Deadband);
    bool past = false, shortOf = false, settled = true;
    for (const std::optional<TStepFigures>& f : point.Figures) {
      settled = settled && f && f->SettlingSamples;
      if (!f) continue;
      past = past || f->SteadyStateError < -bound || f->OvershootPct > FSetup.Goal.TargetOvershootPct;
      shortOf = shortOf || f->SteadyStateError > bound;
    }
    // Gains that go past one way and stop short the other tell nothing of the side.
    if (past != shortOf) sides.emplace_back(g.D / g.P, past ? 1 : -1);
    else if (!past && settled) return false;  // on the ridge already: judged next
  }
  std::optional<double> low, high;  // the bracket: went past below, stopped short above
  for (const auto& [ratio, side] : sides)
    if (side < 0 && (!high || ratio < *high)) high = ratio;
  for (const auto& [ratio, side] : sides)
    if (side > 0 && (!high || ratio < *high) && (!low || ratio > *low)) low = ratio;
  // Gains on one side only: a step of the smallest move's square beyond them; none measured on
  // the limit: the best's own balance of D and P brought onto it.
  double ratio = FBest.P > 0 ? FBest.D / FBest.P : 0;
  if (low && high) ratio = *high / *low < kRidgeNarrowest ? 0 : std::sqrt(*low * *high);
  else if (low) ratio = *low * kRidgeReach;
  else if (high) ratio = *high / kRidgeReach;
  if (ratio <= 0) return false;
  const std::optional<TSearchGains> next = OnKickLimit(i, band, ratio);
  if (!next || FPoints.count(*next) || Excluded(*next) || !Within(*next)) return false;
  StartTrial(*next);
  Plan(TPlannedRun{*next, Direction() * FSetup.Step, TRunPurpose::Search, FTrials.back().Number});
  return true;
}

// Where the records show a count that comes and goes and the best gains are loud (one count
// beyond the deadband moves the output by more than a rest may: the model's suggestion, tried
// as chosen), the next trial is the same balance of P, I and D brought down to the count jump
// a rest allows, at the least deadband the records ask for. Such loud gains are never kept
// where a count comes and goes, and the moves from them (a count more of deadband, less D,
// less P with D kept) stay loud or lose D's damping. A force at rest that friction does not
// hold (cogging, a detent) carries the motor across a deadband to its edge, where the count
// beyond kicks the output and the loop hunts, the harder the wider the deadband (on cogging
// machines the same gains rested quietly without one, and hunted by 35-42 % of the output's
// limit with one count and 58-76 % with two); without it the loop holds the motor by P from
// the first count.
bool TGainSearch::PlanQuietMove() {
  if (FSetup.Integral || FSetup.FlickerCounts <= 0 || !Loud(FBest)) return false;
  const std::optional<TSearchGains> g = QuietBalance(FBest);
  if (!g || FPoints.count(*g) || Excluded(*g)) return false;
  FMoving.reset();
  StartTrial(*g);
  Plan(TPlannedRun{*g, Direction() * FSetup.Step, TRunPurpose::Search, FTrials.back().Number});
  return true;
}

// The gains with the same balance of P, I and D as loud ones, brought down to the count jump a
// rest allows at the least deadband, as the fields show them; none where they leave the bounds.
std::optional<TSearchGains> TGainSearch::QuietBalance(const TSearchGains& loud) const {
  const double jump = CountJump(loud, FSetup.Loop.Period);
  for (double limit = FBounds.QuietCountJump; limit > FBounds.QuietCountJump * kRidgeKickShare; limit *= 0.995) {
    TSearchGains g = loud;
    g.P *= limit / jump, g.I *= limit / jump, g.D *= limit / jump;
    g.Deadband = FBounds.DeadbandMin;
    g = Shown(WithinGlitchKick(g, g));
    if (Within(g)) return g;
  }
  return std::nullopt;
}

// The gains with this I and deadband and D over P as given whose glitch kick is the limit, as
// the fields show them: the three digits taken where they keep the kick within it.
std::optional<TSearchGains> TGainSearch::OnKickLimit(double i, double band, double ratio) const {
  const auto [perP, perD] = KickPerGain(band);
  for (double limit = FBounds.QuietCountJump; limit > FBounds.QuietCountJump * kRidgeKickShare; limit *= 0.995) {
    TSearchGains g = FBest;
    g.I = i, g.Deadband = band;
    g.P = (limit - i * perP) / (perP + ratio * perD);
    g.D = ratio * g.P;
    g = Shown(g);
    if (g.P > 0 && QuietAgainstGlitches(g)) return g;
  }
  return std::nullopt;
}

std::vector<TGainSearch::TMove> TGainSearch::MovesFor(const TSearchGains& at) const {
  const TPoint& point = FPoints.at(at);
  const int worse = point.Cost[0].value_or(kInfinity) >= point.Cost[1].value_or(kInfinity) && point.Figures[0] ? 0 : 1;
  std::vector<TMove> order;
  if (FLastGood) order.push_back(*FLastGood);
  if (const std::optional<TStepFigures>& f = point.Figures[worse]) {
    const double bound = std::max(1.0, at.Deadband);
    const double band = std::max(bound, kSettlingBand * std::abs(double(FSetup.Step) * FSetup.Multiplier));
    const bool buzz = f->RestOutputPpPct.value_or(0) > kRestLimitPct;
    const bool over = f->OvershootPct > FSetup.Goal.TargetOvershootPct;
    const bool beyond = f->SteadyStateError < -bound;             // held past the target
    const bool near = f->SteadyStateError > bound && f->SteadyStateError <= 2 * band;  // held short of it
    const bool slow = !f->SettlingSamples && f->SteadyStateError > 2 * band;            // far from it at the end
    if (buzz) order.insert(order.end(), {TMove::BandUp, TMove::DDown, TMove::PDown, TMove::IDown});
    if (over) order.insert(order.end(), {TMove::DUp, TMove::Calmer, TMove::PDown, TMove::IDown});
    if (beyond) order.insert(order.end(), {TMove::IDown, TMove::DUp, TMove::BandUp});
    if (slow) order.insert(order.end(), {TMove::PUp, TMove::Faster, TMove::DDown, TMove::IUp});
    if (near) order.insert(order.end(), {TMove::IUp, TMove::PUp, TMove::BandUp});
    if (!f->SettlingSamples) order.insert(order.end(), {TMove::PUp, TMove::Faster, TMove::DUp, TMove::IDown});
    order.insert(order.end(), {TMove::Faster, TMove::PUp, TMove::DDown, TMove::DUp, TMove::BandDown, TMove::IDown});
  }
  order.insert(order.end(), {TMove::PUp, TMove::DUp, TMove::PDown, TMove::DDown, TMove::Faster, TMove::Calmer,
                             TMove::IUp, TMove::IDown, TMove::BandUp, TMove::BandDown});
  std::vector<TMove> moves;
  for (TMove m : order)
    if (std::find(moves.begin(), moves.end(), m) == moves.end()) moves.push_back(m);
  return moves;
}

std::optional<TSearchGains> TGainSearch::Moved(const TSearchGains& at, TMove move) const {
  const double f = std::exp2(FScale), half = std::exp2(FScale / 2);
  const double period = FSetup.Loop.Period;
  // Where a gain of 0 starts: D whose jump is half of P's; I as FirstIntegral sizes it.
  const double firstD = at.P * period / 2;
  const double firstI = FirstIntegral(at);
  TSearchGains g = at;
  switch (move) {
    case TMove::PUp: g.P *= f; break;
    case TMove::PDown: g.P /= f; break;
    case TMove::DUp: g.D = at.D > 0 ? at.D * f : firstD; break;
    case TMove::DDown: g.D = at.D / f < firstD / 8 ? 0 : at.D / f; break;
    case TMove::IUp: g.I = at.I > 0 ? at.I * f * f : firstI; break;
    case TMove::IDown: g.I = at.I / (f * f) < firstI ? 0 : at.I / (f * f); break;
    case TMove::BandUp: g.Deadband += 1; break;
    case TMove::BandDown: g.Deadband -= 1; break;
    case TMove::Faster: g.P *= f, g.D = at.D > 0 ? at.D * half : firstD; break;
    case TMove::Calmer: g.P /= half, g.D = at.D > 0 ? at.D * half : firstD; break;
  }
  // A move beyond the count jump the gains may have stops at its edge: D where D went up, else
  // P, which also brings the board's own gains within it where they pass it.
  const double allowed = FSetup.Integral       ? FBounds.QuietCountJump / EdgeSwing(g, *FSetup.Integral)
                         : FSetup.FlickerCounts > 0 ? FBounds.QuietCountJump
                                                    : FBounds.MaxCountJump;
  if (const double room = allowed - CountJump(g, period); room < 0) {
    if (g.D > at.D) g.D = std::max(0.0, g.D + room * period);
    else g.P = std::max(0.0, g.P + room);
  }
  g.P = std::min(g.P, FBounds.PMax);
  g.Deadband = std::max(g.Deadband, FBounds.DeadbandMin);
  g = WithinGlitchKick(g, at);
  // A move of P, D or the deadband under a load keeps I where it suits the new gains.
  if (FSetup.Integral && move != TMove::IUp && move != TMove::IDown) {
    std::optional<double> i = SizedIntegral(*FSetup.Integral, g, at.I);
    // A load that pulls harder the further the motor goes needs P to hold what the approach
    // winds up: the least P that lets the present I (or the least that takes up the load) stay.
    const TIntegralSizing& z = *FSetup.Integral;
    const double keep = std::max({IntegralRangeFor(z, g.P, g.Deadband).Least, at.I, FPresent.I});
    if (!i && keep > 0) {
      const double edge = std::floor(g.Deadband) + 1;
      g.P = std::max(g.P, (keep * WindupAreaFor(z, g.P) - z.Friction - z.LoadChange) / edge * 1.01);
      i = SizedIntegral(z, g, at.I);
    }
    if (i) g.I = *i;
  }
  if (!FSetup.Integral && CountJump(g, period) > FBounds.QuietCountJump) g.Deadband = std::max(g.Deadband, LoudDeadband());
  g = Shown(g);
  if (g == at || !Within(g)) return std::nullopt;
  return g;
}

// The I a move starts from where the gains have none, and the least one it comes down to
// before none: P's drive added once over a record's cycles, or less where runs without I and
// with a P near these came to rest a few counts short of the target. Friction held those runs
// off by their error, so it takes about P times that error, and the sum the approach winds up
// (the error summed over the run, every servo cycle) times I takes that up. A motor whose
// approach is long (a soft belt, a current limit) winds up a sum far beyond what friction
// needs with the larger I, which carried it past the target, and the move down from there
// went straight to none. A run far from the target at its end tells how slow the gains were,
// not the friction.
double TGainSearch::FirstIntegral(const TSearchGains& at) const {
  const double cycles = FSetup.Prediv + 1;
  const double first = at.P / (kStepTestSamples * cycles);
  const double band = std::max(1.0, kSettlingBand * std::abs(double(FSetup.Step) * FSetup.Multiplier));
  double measured = 0;
  for (const auto& [g, point] : FPoints) {
    if (g.I > 0 || point.Dangerous || g.P < at.P / 2 || g.P > at.P * 2) continue;
    for (const std::optional<TStepFigures>& f : point.Figures)
      if (f && f->Iae > 0 && f->SteadyStateError > std::max(1.0, g.Deadband) && f->SteadyStateError <= 2 * band)
        measured = std::max(measured, g.P * f->SteadyStateError / (f->Iae * cycles));
  }
  return measured > 0 ? std::min(first, measured) : first;
}

std::vector<TBoardFigures> TGainSearch::JudgedPairs() const {
  std::vector<TStepFigures> forward, reverse;
  std::optional<TStepFigures> rest;
  for (int index : FJudgeRuns) {
    const TSearchRun& run = FRuns[index];
    if (run.Plan.Step == 0) rest = run.Figures;
    else if (std::abs(run.Plan.Step) == std::abs(FSetup.Step))
      (SignOf(run.Plan.Step) == SignOf(FSetup.Step) ? forward : reverse).push_back(run.Figures);
  }
  std::vector<TBoardFigures> pairs;
  if (forward.empty() || reverse.empty()) return pairs;
  for (size_t k = 0; k < std::max(forward.size(), reverse.size()); ++k)
    pairs.push_back({forward[std::min(k, forward.size() - 1)], reverse[std::min(k, reverse.size() - 1)], rest});
  return pairs;
}

std::optional<TBoardFigures> TGainSearch::JudgedFigures() const {
  if (!FJudgedGains || FJudgeRuns.size() < size_t(FJudgeTotal)) return std::nullopt;
  const std::vector<TBoardFigures> pairs = JudgedPairs();
  if (pairs.empty()) return std::nullopt;
  return pairs.front();
}
