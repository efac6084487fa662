#include "tuning/suggest.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

#include "parameters/paramtable.h"
#include "tuning/fixedtext.h"

namespace {

// A settling index no run reaches: the run never settled, or it was given up.
constexpr int kNever = INT_MAX;

// The motors the gains must suit: the fitted one first, then gain and time constant each off
// by the mismatch, both ways.
std::vector<TMotorModel> Motors(const TMotorModel& m, double mismatch) {
  std::vector<TMotorModel> motors = {m};
  for (double gain : {1 - mismatch, 1 + mismatch})
    for (double tau : {1 - mismatch, 1 + mismatch}) {
      TMotorModel off = m;
      off.Gain *= gain;
      off.TimeConstant *= tau;
      motors.push_back(off);
    }
  return motors;
}

// Returns whether the loop's integral sum is part of the drive that holds a motor with a load.
// A loop without I sums its error all the same, but that sum drives nothing: where a load holds
// the motor off target it grows by that error every cycle, up to the write of new gains, and is
// no part of what holds the load under them. New gains whose integral does not take up a sum
// within the wait start with none of the load in it, P holding the drive with the error: their
// I must pull in the whole load.
bool SumHoldsLoad(const TLoopSettings& loop, bool loaded) { return loop.I != 0 || !loaded; }

// The test with other gains, started as the board starts it once they have come to rest: with
// the drive that held the motor before (against a load or friction), P x error + I x sum +
// FF0 x command. The board keeps the integral's sum when gains change: the new I at first drives
// with the old sum, and the loop pulls the sum to where it holds that drive with the motor on
// target. Where the new integral does that within the wait, the test starts on target holding
// that drive; where not, with the old sum, and P holds the rest of it with the error (a sum
// wound up under a loop without I, say, which any I turns into a push the wait does not undo).
// Nor where no load pulls the motor back and the old sum under the new I pushes beyond what
// held it by more than friction: the push carries the motor past the target, friction holds it
// there a count or two off, and the sum unwinds by those counts a cycle, not as the loop
// settles; a second after the write a board left sixteen counts off by a loop without I still
// had half its sum, and every step from there ended a count off with its integral winding.
TStepTestSetup WithGainsOf(TStepTestSetup setup, const TGains& gains, const TMotorModel& motor) {
  if (GainsOf(setup.Loop) == gains) return setup;
  const bool loaded = motor.LoadBeyondFriction(setup.Step);
  const double held = RestDrive(setup.Loop, setup.Start);
  const bool sumHolds = SumHoldsLoad(setup.Loop, loaded);
  setup.Loop = WithGains(setup.Loop, gains);
  TStepStart& start = setup.Start;
  const double fed = gains.FF0 * start.Command;
  const bool unwinds = loaded || std::abs(gains.I * start.ErrorI + fed - held) <= motor.Friction;
  if (SettlesWithinWait(gains, setup.Loop.Period) && unwinds) {
    start.Error = 0;
    start.ErrorI = (held - fed) / gains.I;
  } else if (gains.P > 0) {
    if (!sumHolds) start.ErrorI = 0;
    start.Error = (held - gains.I * start.ErrorI - fed) / gains.P;
  }
  return setup;
}

// How good one run is for the goal.
struct TScore {
  int Settling = kNever;  // the first sample from which the run stays in the 2 % band
  double Iae = 0;
  double SteadyError = 0;  // the mean error of the run's last tenth, as the step's figures take it
};

// The band a run must settle into to count as settled: the 2 % band less a count, when that
// leaves a count or more.
double ScoringBand(double target) {
  const double band = kSettlingBand * target;
  return band >= 2 ? band - 1 : band;
}

// Returns whether the output swings beyond the rest limit in the settled tail of a run (from
// settling, and not before the last quarter, as the step's figures take it): a loop that
// settles by whole counts may still kick its output from count to count, across the deadband,
// into a limit cycle against friction.
bool TailBuzzes(const std::vector<double>& outputs, int settling, double maxOutput) {
  const size_t n = outputs.size();
  const size_t from = std::max(n - n / 4, size_t(settling));
  if (from >= n || !(maxOutput > 0)) return false;
  const auto [low, high] = std::minmax_element(outputs.begin() + long(from), outputs.end());
  return (*high - *low) / maxOutput * 100 > kRestLimitPct;
}

// How a run is judged: on the motor as fitted it must settle a count inside the band, and a
// settled tail that buzzes beyond the rest limit never settles; on a motor at the edge of what
// the fit may be off by (mismatched gain and time constant, more or less friction) it settles
// in the band itself (friction there may hold it up to the band's edge), and where the edge is
// the friction's, quietly too.
enum class TJudge { Nominal, Edge, QuietEdge };

// Runs the samples of one step on the simulation and scores them. Gives up (settling kNever)
// as soon as the overshoot passes the limit, or the response is outside the band at sample
// settleLimit or later: it cannot then settle by settleLimit.
TScore ScoreSamples(TStepSimulation& simulation, const TStepTestSetup& setup, double step, double maxOvershootPct,
                    int settleLimit, TJudge judge) {
  const double target = std::abs(step);
  const double sign = step < 0 ? -1 : 1;
  const double band = judge == TJudge::Nominal ? ScoringBand(target) : kSettlingBand * target;
  const double ceiling = target * (1 + maxOvershootPct / 100);
  TScore score;
  int lastOutside = -1;
  double error = 0, output = 0;
  std::vector<double> outputs;
  outputs.reserve(size_t(setup.Samples));
  const int tail = std::max(1, (setup.Samples + 9) / 10);
  for (int k = 0; simulation.Next(error, output); ++k) {
    outputs.push_back(output);
    if (k >= setup.Samples - tail) score.SteadyError += sign * error;
    const double y = target - sign * error;
    // At the edges the overshoot is taken unrounded: there it is the margin the gains keep, and
    // in whole counts a fit a hair off flipped it across the limit, and the choice far away.
    const double peak = judge == TJudge::Nominal ? y : target - sign * simulation.UnroundedError();
    if (peak > ceiling) return {};
    score.Iae += std::abs(error);
    if (std::abs(y - target) <= band) continue;
    if (k >= settleLimit) return {};
    lastOutside = k;
  }
  score.Settling = lastOutside + 1 < setup.Samples ? lastOutside + 1 : kNever;
  score.SteadyError /= tail;
  const bool quiet = judge != TJudge::Edge;
  if (quiet && score.Settling != kNever && TailBuzzes(outputs, score.Settling, setup.Loop.MaxOutput)) return {};
  return score;
}

// Runs the step test and scores it (see ScoreSamples).
TScore ScoreRun(const TMotorModel& motor, const TStepTestSetup& setup, double maxOvershootPct, int settleLimit,
                TJudge judge = TJudge::Nominal) {
  TStepSimulation simulation(motor, setup);
  return ScoreSamples(simulation, setup, setup.Step, maxOvershootPct, settleLimit, judge);
}

// Returns whether the integral of the test's gains may wind at rest: where no load needs it
// held and no deadband stops it, friction may hold the motor a count off its target with the
// integral's sum against P (as the approach left it), and the sum then winds until the motor
// slips, past the target as often as onto it. Which the model cannot tell: it turns on the sum
// the approach leaves and on where within its count the motor stops.
bool WindsAtRest(const TMotorModel& motor, const TStepTestSetup& test) {
  return test.Loop.I > 0 && test.Loop.Deadband < 1 && !motor.LoadBeyondFriction(test.Step);
}

// Returns whether the run settled and ended within the steady-state goal: a count, or the
// deadband.
bool OnTarget(const TScore& score, const TStepTestSetup& setup) {
  return score.Settling != kNever && std::abs(score.SteadyError) <= std::max(1.0, setup.Loop.Deadband);
}

// How far past its target, in counts, the step back may come to rest where a spring lets go of
// the motor (the step's figures' mean error of the last tenth).
constexpr double kPastWhereFree = 0.5;

// Returns whether the step back of a test ends where the spring from a knee on has let go of the
// motor: nothing there holds back what the sum that held the spring pushes beyond friction.
bool BackEndsFree(const TMotorModel& motor, const TStepTestSetup& test) {
  return motor.LoadKnee && test.Loop.I > 0 && test.Loop.Deadband < 1 && std::abs(motor.Load) <= motor.Friction;
}

// Runs the step test and, from where it leaves the loop and the motor, the step back, as the
// board is measured; scores the step, and gives up when either misses the goal (settling, the
// overshoot, the rest in their tails, and with onTarget the steady-state goal). The step back
// starts with what the step left in the integral and where within its count the motor came to
// rest, and may end elsewhere. With onTarget, a step back that ends where a spring lets go must
// not come to rest past its target: the sum it unwinds held the spring, what is left of it
// pushes the motor past with no load to hold it, friction holds it there, and the sum winds back
// until the motor slips onto the edge of a count and rocks there (the model's gains rested a
// count past on such a board and rocked there in four rests of six).
TScore ScoreRunAndBack(const TMotorModel& motor, const TStepTestSetup& setup, double maxOvershootPct, int settleLimit,
                       bool onTarget) {
  TStepSimulation simulation(motor, setup);
  const TScore forward = ScoreSamples(simulation, setup, setup.Step, maxOvershootPct, settleLimit, TJudge::Nominal);
  if (forward.Settling == kNever || (onTarget && !OnTarget(forward, setup))) return {};
  simulation.StepAgain(-setup.Step);
  const TScore back = ScoreSamples(simulation, setup, -setup.Step, maxOvershootPct, setup.Samples, TJudge::Nominal);
  if (back.Settling == kNever || (onTarget && !OnTarget(back, setup))) return {};
  if (onTarget && BackEndsFree(motor, setup) && back.SteadyError < -kPastWhereFree) return {};
  return forward;
}

// The rank of gains that meet the goal on every motor: lower is better. Gains whose integral
// may wind at rest (WindsAtRest) come after those whose does not where they settle no sooner:
// the few counts of IAE their integral saves in the approach are no reason to leave the motor
// hunting at rest.
struct TRank {
  int Settling = kNever;       // on the fitted motor
  int WorstSettling = kNever;  // over the mismatched ones
  bool Winds = false;          // the integral may wind at rest
  double Iae = INFINITY;       // on the fitted motor

  bool operator<(const TRank& o) const {
    if (Settling != o.Settling) return Settling < o.Settling;
    if (WorstSettling != o.WorstSettling) return WorstSettling < o.WorstSettling;
    if (Winds != o.Winds) return o.Winds;
    return Iae < o.Iae;
  }
};

struct TCandidate {
  TGains Gains;
  TRank Rank;
};

// Returns the gains with D lowered as far as needed for the count jump to keep within maxPct;
// nothing when P and I alone pass it. Gains on the limit stay a hair inside it.
std::optional<TGains> WithinCountJump(TGains gains, const TLoopSettings& loop, double maxPct) {
  if (CountJumpPct(WithGains(loop, gains)) <= maxPct) return gains;
  const double room = maxPct / 100 * loop.MaxOutput - gains.P - gains.I;
  if (!(room > 0)) return std::nullopt;
  gains.D = std::min(gains.D, room * loop.Period * (1 - 1e-9));
  return gains;
}

// Friction is the least sure of the fitted constants: a run that saturates and then rests
// shows it only to within about a percent of drive (a slow motor's 1 % was fitted as 0.54 % and
// as 1.36 % from two starts), so gains must bring the motor within the steady-state goal (a
// count, or the deadband) by the run's end with the goal's margin more than the fit found,
// too. A loop that does so only on the model sits off target on a board with a little more
// friction, however well it settles. Where P alone does not, the integral must; its pull is
// simulated from the step on, as it gathers the error of the whole approach, not only of the
// last counts.

// A mismatched motor must settle within this many times the run: one a fifth slower than the
// fitted motor cannot settle within the run where the fitted one takes most of it, and gains
// that settle it just after the run's end are as safe as those that settle it just before.
constexpr int kCornerRuns = 2;

// Returns the test run longer by kCornerRuns.
TStepTestSetup Longer(TStepTestSetup setup) {
  setup.Samples *= kCornerRuns;
  return setup;
}

// Returns the test with the gains and the deadband they run with: that of setup, or a count
// where one count moves the output by more than a rest may and the gains do as well with it on
// the fitted motor. A motor at rest on the edge of a count, or an encoder's glitch, makes the
// count come and go now and then, in any run: beyond a deadband of a count each kicks the
// output beyond the rest limit, and whether a board shows it depends on where within its count
// the motor stopped, so that the same board gave a deadband one time and none the next. Within
// it the output stays. (Against friction a large D may instead kick the output each time the
// motor crosses the band's edge: then none.)
TStepTestSetup TestFor(const TMotorModel& motor, const TStepTestSetup& setup, const TGains& gains, const TTuningGoal& goal) {
  TStepTestSetup test = WithGainsOf(setup, gains, motor);
  if (setup.Loop.Deadband >= 1 || CountJumpPct(test.Loop) <= kRestLimitPct) return test;
  TStepTestSetup wider = setup;
  wider.Loop.Deadband = 1;
  wider = WithGainsOf(wider, gains, motor);
  const bool quiet =
      ScoreRunAndBack(motor, wider, goal.TargetOvershootPct, setup.Samples, goal.PullAgainstFriction).Settling != kNever;
  return quiet ? wider : test;
}

// Returns the motor with the friction the gains must also bring onto target.
TMotorModel WithFrictionMargin(TMotorModel motor, const TTuningGoal& goal) {
  motor.Friction += goal.FrictionMarginPct;
  return motor;
}

// The search: the motors, the test and the best few gains found so far, best first.
class TSearch {
 public:
  TSearch(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal, size_t keep = 1)
      : FMotors(Motors(motor, goal.Mismatch)), FSetup(setup), FGoal(goal), FKeep(keep) {}

  // Ranks the gains, their D lowered where the count jump asks for it; returns whether they
  // meet the goal and are among the best kept so far (the best when one is kept).
  bool Try(const TGains& wanted) {
    if (!(wanted.P >= 0 && wanted.I >= 0 && wanted.D >= 0)) return false;
    const std::optional<TGains> within = WithinCountJump(wanted, FSetup.Loop, FGoal.MaxCountJumpPct);
    if (!within) return false;
    const TGains& gains = *within;
    const TStepTestSetup setup = TestFor(FMotors[0], FSetup, gains, FGoal);
    const TScore nominal =
        ScoreRunAndBack(FMotors[0], setup, FGoal.TargetOvershootPct, Last().Settling, FGoal.PullAgainstFriction);
    if (nominal.Settling == kNever) return false;
    if (!FrictionEdgesHold(setup)) return false;
    TRank rank{nominal.Settling, 0, WindsAtRest(FMotors[0], setup), nominal.Iae};
    for (size_t i = 1; i < FMotors.size(); ++i) {
      const TScore corner =
          ScoreRun(FMotors[i], Longer(setup), CornerOvershootLimitPct(FGoal), Longer(setup).Samples, TJudge::Edge);
      if (corner.Settling == kNever) return false;
      rank.WorstSettling = std::max(rank.WorstSettling, corner.Settling);
    }
    if (!(rank < Last())) return false;
    const auto at = std::upper_bound(FTop.begin(), FTop.end(), rank, [](const TRank& r, const TCandidate& c) { return r < c.Rank; });
    FTop.insert(at, {gains, rank});
    if (FTop.size() > FKeep) FTop.pop_back();
    return true;
  }

  // Returns whether the gains also do on the fitted motor with the friction at the edges of
  // what the fit may be off by: with half a percent more, the motor on target by the run's end;
  // with half the friction, quiet. Less friction lets a motor hunt between two counts where a P
  // too weak to hold a load at either, or a coarse count, has it cross one and come back. With
  // a load that friction holds, whether it crosses once more late in the run turns on where
  // the load and the friction let it stop: at half the friction alone, fits of one board a few
  // hundredths of a percent apart passed gains a third bolder one time and not the next. There
  // the gains rest quietly also with a twentieth of the fitted friction more and less than half.
  bool FrictionEdgesHold(const TStepTestSetup& setup) const {
    if (!FGoal.PullAgainstFriction) return true;
    const double overshoot = CornerOvershootLimitPct(FGoal);
    if (!OnTarget(ScoreRun(WithFrictionMargin(FMotors[0], FGoal), setup, overshoot, FSetup.Samples, TJudge::Edge), setup))
      return false;
    const TMotorModel& fitted = FMotors[0];
    const bool held = (fitted.Load != 0 || fitted.LoadSlope != 0) && !fitted.LoadBeyondFriction(FSetup.Step);
    for (double share : {0.5, 0.45, 0.55}) {
      TMotorModel slack = fitted;
      slack.Friction *= share;
      if (ScoreRun(slack, setup, overshoot, FSetup.Samples, TJudge::QuietEdge).Settling == kNever) return false;
      if (!held) break;
    }
    return true;
  }

  bool Found() const { return !FTop.empty(); }
  const TCandidate& Best() const { return FTop.front(); }
  const std::vector<TCandidate>& Top() const { return FTop; }

  // Keeps only the candidate, and from now on only the best.
  void StartFrom(const TCandidate& start) {
    FTop = {start};
    FKeep = 1;
  }

 private:
  // The rank to beat: the last kept one's, once as many as kept are found.
  TRank Last() const { return FTop.size() < FKeep ? TRank{} : FTop.back().Rank; }

  std::vector<TMotorModel> FMotors;
  TStepTestSetup FSetup;
  TTuningGoal FGoal;
  size_t FKeep;
  std::vector<TCandidate> FTop;
};

// The natural sizes of the gains for a motor: P that makes the loop's crossover about one
// over the time constant, D that damps at that speed, I that integrates over a time constant.
struct TScales {
  double P, D, I;
};

TScales ScalesFor(const TMotorModel& motor, double period) {
  const double p = 1 / (motor.Gain * motor.TimeConstant);
  return {p, p * motor.TimeConstant, p * period / motor.TimeConstant};
}

// A grid over P, D and I, in steps of a factor 2^(1/4) for P and D and 4 for I; D beyond the
// count jump's limit is tried once, on the limit. Settling counts whole samples, so it is
// flat over most of the gains with narrow dips between: a grid in steps of sqrt(2) missed the
// dip of 8 samples of a fast motor, and the search around its best could not reach it.
void SearchGrid(TSearch& search, const TScales& s, const TLoopSettings& loop, double maxCountJumpPct) {
  for (int a = -12; a <= 28; ++a)
    for (int c = -4; c <= 2; ++c)
      for (int b = -22; b <= 16; ++b) {
        const double p = s.P * std::exp2(a / 4.0);
        const double d = b < -21 ? 0 : s.D * std::exp2(b / 4.0);
        const double i = c < -3 ? 0 : s.I * std::exp2(2.0 * c);
        search.Try({p, i, d, 0, 0});
        // Every larger D is lowered to the same one, at the count jump's limit.
        if (CountJumpPct(WithGains(loop, {p, i, d, 0, 0})) > maxCountJumpPct) break;
      }
}

// The gains a pattern search moves.
constexpr double TGains::*kSearched[] = {&TGains::P, &TGains::D, &TGains::I, &TGains::FF1};
constexpr int kSearchedCount = 4;

// Returns the gains with gain a scaled by step^ea and gain b by step^eb; false when that moves
// nothing, or moves a gain that is 0.
bool Moved(TGains& g, int a, int ea, int b, int eb, double step) {
  if (ea == 0 && eb == 0) return false;
  for (auto [gain, e] : {std::pair{kSearched[a], ea}, {kSearched[b], eb}}) {
    if (e == 0) continue;
    if (g.*gain == 0) return false;
    g.*gain *= std::pow(step, e);
  }
  return true;
}

// Moves each gain that is not 0 up and down by a factor, and each pair of them together, both
// the same way and against each other, narrowing the factor whenever no move helps: a pattern
// search around the best of the grid. The moves of a pair follow a ridge, such as the count
// jump's limit, along which P and D must trade.
void SearchAround(TSearch& search) {
  for (double step = std::sqrt(2.0); step > 1.01;) {
    bool moved = false;
    for (int a = 0; a < kSearchedCount; ++a)
      for (int b = a; b < kSearchedCount; ++b)
        for (int ea = -1; ea <= 1; ++ea)
          for (int eb = (a == b ? 0 : -1); eb <= (a == b ? 0 : 1); ++eb) {
            TGains g = search.Best().Gains;
            if (Moved(g, a, ea, b, eb, step)) moved |= search.Try(g);
          }
    if (!moved) step = std::sqrt(step);
  }
}

// Feed-forward of the command velocity kicks the first cycle of a step, as D does; tries
// kicks of a quarter to the whole output limit on top of the best gains.
void SearchKick(TSearch& search, const TStepTestSetup& setup) {
  const TGains best = search.Best().Gains;
  const double full = setup.Loop.MaxOutput * setup.Loop.Period / std::abs(setup.Step);
  bool kicked = false;
  for (double share : {0.25, 0.5, 1.0}) {
    TGains g = best;
    g.FF1 = share * full;
    kicked |= search.Try(g);
  }
  if (kicked) SearchAround(search);
}

// The pattern search moves no gain that is 0, so it cannot take away an integral that may wind
// at rest (TRank): tries the best gains without it, and searches around them where they do as
// well.
void SearchWithoutWinding(TSearch& search) {
  if (!search.Best().Rank.Winds) return;
  TGains g = search.Best().Gains;
  g.I = 0;
  if (search.Try(g)) SearchAround(search);
}

// The parameter table's row of a gain.
const TParamRow& RowOf(const char* fileKey) {
  for (const TParamRow& row : ParamTable())
    if (std::string(row.FileKey) == fileKey) return row;
  return ParamTable().front();
}

constexpr std::pair<const char*, double TGains::*> kGainRows[] = {
    {"P", &TGains::P}, {"I", &TGains::I}, {"D", &TGains::D}, {"FF0", &TGains::FF0}, {"FF1", &TGains::FF1}};

double RoundToDigits(double value, int digits, bool towardsZero) {
  if (value == 0) return 0;
  const double scale = std::pow(10.0, digits - 1 - std::floor(std::log10(std::abs(value))));
  return (towardsZero ? std::trunc(value * scale) : std::round(value * scale)) / scale;
}

// Gains with few digits read and type better: keeps the best at three significant digits
// (four if three lose the goal), rounded to the nearest or, where that passes the count
// jump's limit, towards 0; else as found. Each is then made a value the window's field shows
// exactly, so that what is predicted is what the board will run.
TGains Rounded(const TGains& best, const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal) {
  for (int digits : {3, 4})
    for (bool towardsZero : {false, true}) {
      const auto round = [&](double v) { return RoundToDigits(v, digits, towardsZero); };
      const TGains r = FieldGains({round(best.P), round(best.I), round(best.D), 0, round(best.FF1)}, towardsZero);
      if (CountJumpPct(WithGains(setup.Loop, r)) > goal.MaxCountJumpPct) continue;
      TSearch check(motor, setup, goal);
      if (check.Try(r)) return r;
    }
  return FieldGains(best, true);
}

// The best few gains of the grid each start a pattern search: the best of them may lie on a
// plateau of settling that a search around it cannot leave while the next best leads lower.
std::optional<TGains> Search(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal, bool refine) {
  constexpr size_t kStarts = 4;
  TSearch grid(motor, setup, goal, refine ? kStarts : 1);
  SearchGrid(grid, ScalesFor(motor, setup.Loop.Period), setup.Loop, goal.MaxCountJumpPct);
  if (!grid.Found()) return std::nullopt;
  if (!refine) return grid.Best().Gains;
  std::optional<TCandidate> best;
  for (const TCandidate& start : grid.Top()) {
    TSearch search = grid;
    search.StartFrom(start);
    SearchAround(search);
    SearchKick(search, setup);
    SearchWithoutWinding(search);
    if (!best || search.Best().Rank < best->Rank) best = search.Best();
  }
  return Rounded(best->Gains, motor, setup, goal);
}

// A prediv whose run lasts twice as long as the fastest move the motor can make: full drive
// to its top speed over the step, a time constant to get going and one to stop. Returns it
// when some gains meet the goal there (trying twice as long once more), else nothing.
std::optional<int> PredivThatSettles(const TMotorModel& motor, TStepTestSetup setup, const TTuningGoal& goal) {
  constexpr int kMaxPrediv = 50;
  const double topSpeed = motor.Gain * std::max(setup.Loop.MaxOutput - motor.Friction, 1e-9);
  const double fastest = std::abs(setup.Step) / topSpeed + 2 * motor.TimeConstant;
  const double cycles = 2 * fastest / (setup.Samples * setup.Loop.Period);
  int prediv = std::clamp(static_cast<int>(std::ceil(cycles)) - 1, setup.Prediv + 1, kMaxPrediv);
  for (int attempt = 0; attempt < 2; ++attempt, prediv = std::min(2 * prediv + 1, kMaxPrediv)) {
    setup.Prediv = prediv;
    if (Search(motor, setup, goal, false)) return prediv;
  }
  return std::nullopt;
}

// A number with the digits it needs: 20, 12.5.
std::string Plain(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

// The longest the integral of new gains may take to settle (its time constant, P x servo
// period / I) for the board to start its next test holding the drive it held before: suggest
// waits up to three seconds for the loop to come to rest after a write.
constexpr double kIntegralSettlesSeconds = 1;

bool SettlesWithinWait(const TGains& gains, double period) {
  return gains.I > 0 && gains.I > LeastIntegralWithinWait(gains.P, period);
}

double LeastIntegralWithinWait(double p, double period) { return std::max(0.0, p) * period / kIntegralSettlesSeconds; }

TGains FieldGains(const TGains& gains, bool towardsZero) {
  TGains shown = gains;
  for (const auto& [key, field] : kGainRows) {
    const TParamRow& row = RowOf(key);
    double value = FieldShownValue(row, gains.*field);
    if (towardsZero && std::abs(value) > std::abs(gains.*field)) {
      const double unit = std::pow(10.0, -row.Precision);
      value = FieldShownValue(row, std::trunc(gains.*field / unit) * unit);
    }
    shown.*field = value;
  }
  return shown;
}

double CornerOvershootLimitPct(const TTuningGoal& goal) { return goal.TargetOvershootPct + goal.CornerAllowancePct; }

TGains GainsOf(const TLoopSettings& loop) { return {loop.P, loop.I, loop.D, loop.FF0, loop.FF1}; }

double CountJumpPct(const TLoopSettings& loop) {
  if (!(loop.MaxOutput > 0)) return 0;
  return 100 * (std::abs(loop.P) + std::abs(loop.I) + std::abs(loop.D) / loop.Period) / loop.MaxOutput;
}

namespace {

// Both records name their gains alike.
template <class T>
T Replaced(T record, const TGains& gains) {
  record.P = gains.P;
  record.I = gains.I;
  record.D = gains.D;
  record.FF0 = gains.FF0;
  record.FF1 = gains.FF1;
  return record;
}

}  // namespace

TLoopSettings WithGains(TLoopSettings loop, const TGains& gains) { return Replaced(loop, gains); }

TPIDParams WithGains(TPIDParams params, const TGains& gains) { return Replaced(params, gains); }

TPrediction PredictStepTest(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal) {
  TPrediction p;
  const std::vector<TMotorModel> motors = Motors(motor, goal.Mismatch);
  for (size_t i = 0; i < motors.size(); ++i) {
    TStepSamples samples = SimulateStepTest(motors[i], i == 0 ? setup : Longer(setup));
    const TStepFigures figures = ComputeStepFigures(samples.Errors, samples.Outputs, setup.Step, setup.Loop.MaxOutput);
    if (i == 0) {
      p.Samples = std::move(samples);
      p.Figures = figures;
      p.WorstSettlingSamples = figures.SettlingSamples;
    }
    p.WorstOvershootPct = std::max(p.WorstOvershootPct, figures.OvershootPct);
    if (!figures.SettlingSamples || !p.WorstSettlingSamples) p.WorstSettlingSamples.reset();
    else p.WorstSettlingSamples = std::max(*p.WorstSettlingSamples, *figures.SettlingSamples);
  }
  return p;
}

// Returns whether the first gains, in their test, settle on the motor sooner than the second in
// theirs. Where friction holds the motor, gains that pull it onto the last count may exist only
// a hair inside the goal (a slow P whose integral just makes it), one fit finding them and the
// next not; the deadband a count wider then gave gains several times bolder. Taking the
// sooner of the two gives the same answer on both sides of that hair.
bool SettlesSooner(const TMotorModel& motor, const TStepTestSetup& first, const TGains& firstGains,
                   const TStepTestSetup& second, const TGains& secondGains, const TTuningGoal& goal) {
  const auto settling = [&](const TStepTestSetup& setup, const TGains& gains) {
    return ScoreRun(motor, TestFor(motor, setup, gains, goal), goal.TargetOvershootPct, setup.Samples).Settling;
  };
  return settling(first, firstGains) < settling(second, secondGains);
}

TSuggestion SuggestGains(const TMotorModel& motor, const TStepTestSetup& setup, const TTuningGoal& goal) {
  TSuggestion s;
  s.Deadband = setup.Loop.Deadband;
  std::optional<TGains> gains = Search(motor, setup, goal, true);
  // Where no gains that meet the goal rest quietly on target, a count more of deadband may:
  // friction may hold the motor up to it off target, and within it the integral stops, where it
  // kept creeping a motor held by friction across count after count, each kicking the output
  // by D. The steady-state goal is then the deadband, and the report says so; so too where gains
  // with the count more settle sooner than those without it (SettlesSooner). A deadband beyond
  // the settling band, or one more than a count beyond what the records ask for, is none: the
  // motor would rest too far off.
  TStepTestSetup chosen = setup;
  const double wider = std::floor(setup.Loop.Deadband) + 1;
  // A deadband the records asked for (against flicker or play) is widened only where nothing
  // else is found: a noisy count took the count more one run and not the next.
  const bool compare = setup.Loop.Deadband <= 0;
  if (goal.PullAgainstFriction && wider <= ScoringBand(std::abs(setup.Step)) && (!gains || compare)) {
    chosen.Loop.Deadband = wider;
    const std::optional<TGains> widerGains = Search(motor, chosen, goal, true);
    if (widerGains && (!gains || SettlesSooner(motor, chosen, *widerGains, setup, *gains, goal))) {
      s.Deadband = chosen.Loop.Deadband;
      s.Note = std::string(gains ? "gains that let the last count be settle sooner than any that pull the motor onto "
                                   "it against its friction"
                                 : "no gains that meet the goal rest quietly within a count of target (friction holds "
                                   "the motor, and an integral creeping it on kicks the output count by count)") +
               ": \"Deadband (b):\" is set to " + CountText(chosen.Loop.Deadband, 0, "count", "counts") +
               ", within which the motor rests";
      gains = widerGains;
    } else {
      chosen = setup;
    }
  }
  // Friction is what holds the motor off where gains exist for the same motor without it.
  bool frictionHolds = false;
  if (!gains && goal.PullAgainstFriction && motor.Friction > 0) {
    TMotorModel frictionless = motor;
    frictionless.Friction = 0;
    frictionHolds = Search(frictionless, setup, goal, false).has_value();
  }
  const bool presentWithinJump = CountJumpPct(setup.Loop) <= goal.MaxCountJumpPct;
  TSearch present(motor, setup, goal);
  const TScore found = gains ? ScoreRun(motor, TestFor(motor, chosen, *gains, goal), goal.TargetOvershootPct, setup.Samples) : TScore{};
  if (presentWithinJump && present.Try(GainsOf(setup.Loop)) && present.Best().Rank.Settling <= found.Settling) {
    const TStepTestSetup kept = TestFor(motor, setup, GainsOf(setup.Loop), goal);
    s.Found = s.Unchanged = true;
    s.Deadband = kept.Loop.Deadband;
    s.Gains = GainsOf(setup.Loop);
    s.Predicted = PredictStepTest(motor, kept, goal);
    return s;
  }
  if (gains) {
    const TStepTestSetup test = TestFor(motor, chosen, *gains, goal);
    s.Found = true;
    s.Gains = *gains;
    s.Deadband = test.Loop.Deadband;
    s.Predicted = PredictStepTest(motor, test, goal);
    return s;
  }
  if (setup.Loop.FaultError > 0 && std::abs(setup.Step) > setup.Loop.FaultError) {
    s.Problem = "the step is larger than \"Fault Error (f):\" (" + FixedText(setup.Loop.FaultError, 0) + "): the servo would switch off";
    s.Advice = "try a smaller step, or a larger fault error";
    return s;
  }
  if (frictionHolds) {
    s.Problem = "no gains that meet the goal, one count moving the output by at most " + Plain(goal.MaxCountJumpPct) +
                " % of \"Max Output (m):\", bring the motor within a count of target (or a count more of deadband) "
                "against its friction (" +
                FixedText(motor.Friction, 2) + " % as fitted, " + FixedText(goal.FrictionMarginPct, 1) +
                " % more as the fit may be off) by the end of the run, and without the friction some would: the motor "
                "would rest off target";
    s.Advice = "try a prediv that gives the integral longer, a larger --target-overshoot, or raise I by hand and check "
               "in repeated step tests that the motor comes onto target";
    return s;
  }
  const int mismatch = static_cast<int>(std::lround(goal.Mismatch * 100));
  s.Problem = "no gains settle within the run with at most " + FixedText(goal.TargetOvershootPct, 1) +
              " % overshoot, also with gain and time constant " + std::to_string(mismatch) +
              " % off (there with at most " + FixedText(CornerOvershootLimitPct(goal), 1) +
              " %), and one count moving the output by at most " + Plain(goal.MaxCountJumpPct) +
              " % of \"Max Output (m):\"";
  const std::optional<int> prediv = PredivThatSettles(motor, setup, goal);
  s.Advice = prediv ? "try a prediv that covers the settling: --prediv " + std::to_string(*prediv)
                    : "try a smaller step, a larger --target-overshoot or a larger --count-jump";
  return s;
}
