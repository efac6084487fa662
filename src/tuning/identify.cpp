#include "tuning/identify.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>

#include "tuning/fixedtext.h"
#include "tuning/neldermead.h"

namespace {

// A run shorter than this, or one that moved the motor less than this many counts, shows too
// little of the motor to fit it.
constexpr int kMinSamples = 20;
constexpr double kMinTravel = 20;
// A usable fit replays each run within this % of its step (root mean square) and pins gain
// and time constant down within this relative standard error.
constexpr double kMaxFitPct = 2.5;
// A misfit of this many counts or less is the encoder's rounding and what it hides, not a
// machine the model does not hold: a larger step makes it a smaller share of the step.
constexpr double kRoundingMisfit = 1.5;
constexpr double kMaxSpread = 0.10;
// The variance a whole-count encoder adds to every position, counts squared: the least the
// residuals can be trusted to.
constexpr double kQuantisationVariance = 1.0 / 12;
// The delays (servo cycles) and lags (in servo cycles) the first guesses try; a lag below the
// least here is none: samples a cycle apart cannot show a lag of a quarter cycle, and a fit that
// found one of a twentieth moved the choice from a P of 3 to one of 0.5 by a hair of overshoot.
constexpr int kMaxDelayCycles = 3;
constexpr double kGuessLagCycles[] = {0, 1.5, 4, 10};
constexpr double kNegligibleLagCycles = 0.25;
// First guesses a full fit starts from.
constexpr size_t kRefinedGuesses = 2;
// Fits driven by the worked-out drive that go on to the model's own loop.
constexpr size_t kOwnLoopStarts = 1;
// A time constant this many times the run's length is none the run shows: the motor never
// nears its speed, and gain and time constant are one number (their ratio) to it.
constexpr double kMaxTauPerRun = 10;

using TVector = std::vector<double>;

// What the fit compares in one run: the measured travel, the samples to use, and how to
// drive the model.
struct TRunData {
  const TStepRecord* Record;
  TVector Travel;
  std::vector<bool> Use;  // a sample inside the deadband reports 0 and tells no position
  // The used samples in stretches that read the same count: [begin, end) each; every used
  // sample on its own where the model runs its own loop.
  std::vector<std::pair<size_t, size_t>> Stretches, Samples;
  bool OpenLoop;          // every cycle was sampled: drive the model with the measured outputs
  TVector Drive;          // the drive of every cycle, worked out where not every cycle was sampled
  double Fraction = 0.5;  // where within its encoder count the motor started the run
  double PlaySide = 0;    // where the motor started within the play, -1 to 1
  // The speed the run starts with, as the run before it ended (0: it starts at rest), and
  // whether the fit finds it.
  double PriorSpeed = 0;
  bool SpeedFitted = false;
};

// The runs and what the parameters of a fit are measured against: the delay (whole cycles, not
// searched by the simplex), where the load is taken, and the scales of the load's change and
// of the start speeds.
struct TFitData {
  std::vector<TRunData> Runs;
  int Delay = 0;
  double LoadOrigin = 0;
  double Period = 4e-4;
  // Whether runs not sampled every cycle are replayed with the model running its own loop, or
  // driven by the drive worked out from the record (the first guesses and the simplex from
  // them: the loop on a model a little off takes another path through whole counts each time,
  // and the cost jumps with it).
  bool OwnLoop = false;
  double StepScale = 1;  // counts: the first run's step
  double RunTime = 1;    // s: the first run's length
  // The parameters the simplex moves, by their index in the whole; the others keep the values
  // of Fixed (a load only where the runs move both ways, a start speed only where the run
  // before ended moving).
  std::vector<size_t> Active;
  std::vector<double> Fixed;

  // Returns the whole parameter vector with the moved ones from x.
  std::vector<double> Whole(const std::vector<double>& x) const {
    std::vector<double> whole = Fixed;
    for (size_t i = 0; i < Active.size(); ++i) whole[Active[i]] = x[i];
    return whole;
  }
  // Returns the moved parameters of a whole vector.
  std::vector<double> Moved(const std::vector<double>& whole) const {
    std::vector<double> x;
    for (size_t i : Active) x.push_back(whole[i]);
    return x;
  }
};

// The parameters the simplex moves: gain, time constant and lag on a log scale, friction, the
// load, its change over a step, the play, where the load's change begins (in steps from where
// the load is taken, the way the first run steps), and the speed each run starts with (in
// steps per run time).
enum : size_t { kLogGain, kLogTau, kFriction, kLogLag, kLoad, kLoadChange, kPlay, kKnee, kFirstSpeed };

bool Moves(const TFitData& data, size_t parameter) {
  return std::find(data.Active.begin(), data.Active.end(), parameter) != data.Active.end();
}

TMotorModel ModelAt(const TVector& x, const TFitData& data) {
  TMotorModel m;
  m.Gain = std::exp(x[kLogGain]);
  m.TimeConstant = std::exp(x[kLogTau]);
  m.Friction = std::abs(x[kFriction]);
  // Lag and time constant give the same response to a drive; the longer one is the motor's.
  double lag = std::exp(x[kLogLag]);
  if (lag > m.TimeConstant) std::swap(lag, m.TimeConstant);
  m.Lag = lag < kNegligibleLagCycles * data.Period ? 0 : lag;
  m.DelayCycles = data.Delay;
  m.Load = x[kLoad];
  m.LoadSlope = x[kLoadChange] / data.StepScale;
  m.LoadOrigin = data.LoadOrigin;
  if (Moves(data, kKnee)) {
    const double way = data.Runs.front().Record->Setup.Step < 0 ? -1 : 1;
    m.LoadKnee = data.LoadOrigin + way * x[kKnee] * data.StepScale;
  }
  m.Play = std::max(0.0, x[kPlay]);
  return m;
}

double StartSpeed(const TVector& x, const TFitData& data, size_t run) {
  return x[kFirstSpeed + run] * data.StepScale / data.RunTime;
}

// The model's travel at each sample, placed like the measured one: the encoder reports
// whole counts, so a count is measured on average half a count below the true position.
TVector ModelTravel(const TMotorModel& motor, const TRunData& run, double fraction, double speed, bool ownLoop) {
  const TStepRecord& record = *run.Record;
  const size_t n = record.Errors.size();
  TStepTestSetup setup = record.Setup;
  setup.Samples = static_cast<int>(n);
  setup.Start.PositionFraction = fraction;
  setup.Start.Velocity = speed;
  setup.Start.PlaySide = run.PlaySide;
  TStepSimulation simulation(motor, setup);
  TVector travel(n);
  double error = 0, output = 0;
  for (size_t k = 0; k < n; ++k) {
    // With every cycle sampled the drive is known; otherwise the loop model works it out, as
    // mixing measured and modelled cycles would let a derivative kick land twice.
    if (run.OpenLoop) simulation.NextDrivenBy(record.Outputs[k], error, output);
    else if (ownLoop) simulation.Next(error, output);
    else simulation.NextDrivenByCycles(&run.Drive[k * size_t(setup.Prediv + 1)], error, output);
    travel[k] = simulation.SampledTravel() - 0.5;
  }
  return travel;
}

// Model minus measured travel at the samples used, split by stretch of samples that read
// the same count: the encoder's rounding is one error shared by the whole stretch, so its
// mean residual counts once, as one reading, while how the model moves within the stretch
// counts at every sample. A motor at rest for most of a run would otherwise be counted as
// many readings of where it stopped, and the fit would bend friction to that one count. The
// stretches' means are less their mean (where within its count the motor started is not
// known), held within half a count.
TVector RunResiduals(const TMotorModel& motor, const TRunData& run, double fraction, double speed, bool ownLoop) {
  const TVector model = ModelTravel(motor, run, fraction, speed, ownLoop);
  TVector residuals, means;
  for (const auto& [begin, end] : ownLoop && !run.OpenLoop ? run.Samples : run.Stretches) {
    double sum = 0;
    for (size_t k = begin; k < end; ++k) sum += model[k] - run.Travel[k];
    const double mean = sum / static_cast<double>(end - begin);
    for (size_t k = begin + 1; k < end; ++k) residuals.push_back(model[k] - run.Travel[k] - mean);
    means.push_back(mean);
  }
  if (means.empty()) return residuals;
  const double offset = std::clamp(std::accumulate(means.begin(), means.end(), 0.0) / static_cast<double>(means.size()), -0.5, 0.5);
  for (double mean : means) residuals.push_back(mean - offset);
  return residuals;
}

// The runs of consecutive used samples that read the same travel, where the model is driven
// by a given drive (sameCount); else every used sample on its own: a model that runs its own
// loop gets a drive that depends on where it stands at each sample, and tried on a slow motor
// sampled every other cycle, one count's weight per stretch let a model with three times the
// friction and a fifth more gain replay the run better than the motor itself.
std::vector<std::pair<size_t, size_t>> SameCountStretches(const TVector& travel, const std::vector<bool>& use,
                                                          bool sameCount) {
  std::vector<std::pair<size_t, size_t>> stretches;
  for (size_t k = 0; k < travel.size();) {
    size_t end = k + 1;
    while (sameCount && end < travel.size() && use[k] == use[end] && travel[end] == travel[k]) ++end;
    if (use[k]) stretches.emplace_back(k, end);
    k = end;
  }
  return stretches;
}

// The residuals of all runs, one after the other, for the whole parameter vector x.
TVector Residuals(const TVector& x, const TFitData& data) {
  const TMotorModel motor = ModelAt(x, data);
  TVector all;
  for (size_t i = 0; i < data.Runs.size(); ++i) {
    const TVector r = RunResiduals(motor, data.Runs[i], data.Runs[i].Fraction, StartSpeed(x, data, i), data.OwnLoop);
    all.insert(all.end(), r.begin(), r.end());
  }
  return all;
}

double SumOfSquares(const TVector& v) { return std::inner_product(v.begin(), v.end(), v.begin(), 0.0); }

double Cost(const TVector& x, const TFitData& data) { return SumOfSquares(Residuals(x, data)); }

// Solves a x = b by Gaussian elimination with partial pivoting; false when a is singular.
bool Solve(std::vector<TVector> a, TVector b, TVector& x) {
  const size_t n = b.size();
  for (size_t col = 0; col < n; ++col) {
    size_t pivot = col;
    for (size_t row = col + 1; row < n; ++row)
      if (std::abs(a[row][col]) > std::abs(a[pivot][col])) pivot = row;
    if (!(std::abs(a[pivot][col]) > 1e-300)) return false;
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    for (size_t row = col + 1; row < n; ++row) {
      const double f = a[row][col] / a[col][col];
      for (size_t k = col; k < n; ++k) a[row][k] -= f * a[col][k];
      b[row] -= f * b[col];
    }
  }
  x.assign(n, 0);
  for (size_t row = n; row-- > 0;) {
    double sum = b[row];
    for (size_t k = row + 1; k < n; ++k) sum -= a[row][k] * x[k];
    x[row] = sum / a[row][row];
  }
  return true;
}

// The travel of a motor of gain 1 without friction (time constant, lag and delay as given)
// under the given drive per servo cycle, the cycles before the run at the drive `before`: a
// linear response, so the constants that scale drives follow from it by linear least squares.
TVector UnitResponse(const TVector& drive, double before, const TMotorModel& unit, const TStepRecord& record) {
  const TMotorCycle cycle(unit, record.Setup.Loop.Period);
  const size_t cycles = static_cast<size_t>(record.Setup.Prediv + 1);
  TVector travel(drive.size() / cycles);
  TMotorState state;
  state.Drive = before;
  std::vector<double> delayed(static_cast<size_t>(unit.DelayCycles), before);
  size_t next = 0;
  for (size_t j = 0; j < drive.size(); ++j) {
    if (j % cycles == cycles - 1) travel[j / cycles] = state.Position;
    double applied = drive[j];
    if (!delayed.empty()) {
      std::swap(applied, delayed[next]);
      next = (next + 1) % delayed.size();
    }
    cycle.Advance(state, applied);
  }
  return travel;
}

// Returns the values per sample held over each sample's servo cycles.
TVector PerCycle(const TVector& perSample, const TStepRecord& record) {
  const size_t cycles = static_cast<size_t>(record.Setup.Prediv + 1);
  TVector held;
  held.reserve(perSample.size() * cycles);
  for (double v : perSample) held.insert(held.end(), cycles, v);
  return held;
}

// The drive of every servo cycle of a run: recorded where every cycle was sampled; otherwise
// the loop's law on the errors of CycleErrors. Held at the sampled output instead, the drive of
// a run with D kicks was off by more than the friction in the cycles between, and the first
// guess of a motor with 2 % friction had no gain at all.
TVector RunDrive(const TStepRecord& record) {
  if (record.Setup.Prediv == 0) return record.Outputs;
  const TLoopSettings& loop = record.Setup.Loop;
  const TStepStart& start = record.Setup.Start;
  const double command = start.Command + record.Setup.Step;
  const TVector errors = CycleErrors(record);
  TVector drive;
  drive.reserve(errors.size());
  double last = std::abs(start.Error) <= loop.Deadband ? 0 : start.Error, integral = start.ErrorI;
  for (double e : errors) {
    const double raw = loop.P * e + loop.D * (e - last) / loop.Period + loop.FF0 * command + loop.I * (integral + e);
    const double limited = std::clamp(raw, -loop.MaxOutput, loop.MaxOutput);
    if (limited == raw) integral += e;
    drive.push_back(limited);
    last = e;
  }
  return drive;
}

// The speed a motor of the time constant starts a run with carries it this far by each sample.
TVector CoastResponse(double tau, const TStepRecord& record, size_t samples) {
  TVector travel(samples);
  for (size_t k = 0; k < samples; ++k) {
    const double t = (double(k) * (record.Setup.Prediv + 1) + record.Setup.Prediv) * record.Setup.Loop.Period;
    travel[k] = tau * (1 - std::exp(-t / tau));
  }
  return travel;
}

// The direction the motor moves at each sample, from the measured travel.
TVector MotionDirection(const TVector& travel) {
  TVector direction(travel.size(), 0.0);
  for (size_t k = 1; k + 1 < travel.size(); ++k) {
    const double change = travel[k + 1] - travel[k - 1];
    direction[k] = change > 0 ? 1 : (change < 0 ? -1 : 0);
  }
  return direction;
}

// The used samples of v less their mean: the runs' offsets drop out of a linear fit.
TVector Centred(const TVector& v, const std::vector<bool>& use) {
  TVector used;
  for (size_t k = 0; k < v.size(); ++k)
    if (use[k]) used.push_back(v[k]);
  const double mean = used.empty() ? 0 : std::accumulate(used.begin(), used.end(), 0.0) / static_cast<double>(used.size());
  for (double& u : used) u -= mean;
  return used;
}

struct TGuess {
  TVector Point;
  int Delay = 0;
  double Cost = INFINITY;
};

// The regressors of one run for the linear first guess, each centred: the responses to the
// recorded drive, to the direction of motion (friction), to a constant drive (load), to the
// position (a load that changes with it), and the coast of a start speed.
struct TRegressors {
  std::vector<TVector> Columns;
  TVector Travel;
};

TRegressors RegressorsOf(const TRunData& run, const TMotorModel& unit, const TFitData& data, size_t runIndex) {
  const TStepRecord& r = *run.Record;
  const auto active = [&](size_t parameter) { return std::count(data.Active.begin(), data.Active.end(), parameter) > 0; };
  const double startPosition = r.Setup.Start.Command - r.Setup.Start.Error - data.LoadOrigin;
  TRegressors g;
  g.Columns.push_back(Centred(UnitResponse(RunDrive(r), RestDrive(r.Setup.Loop, r.Setup.Start), unit, r), run.Use));
  g.Columns.push_back(Centred(UnitResponse(PerCycle(MotionDirection(run.Travel), r), 0, unit, r), run.Use));
  if (active(kLoad)) g.Columns.push_back(Centred(UnitResponse(PerCycle(TVector(run.Travel.size(), 1.0), r), 1, unit, r), run.Use));
  if (active(kLoadChange)) {
    TVector position(run.Travel.size());
    for (size_t k = 0; k < position.size(); ++k) position[k] = startPosition + run.Travel[k];
    g.Columns.push_back(Centred(UnitResponse(PerCycle(position, r), startPosition, unit, r), run.Use));
  }
  for (size_t i = 0; i < data.Runs.size(); ++i)
    if (data.Runs[i].SpeedFitted)
      g.Columns.push_back(i == runIndex ? Centred(CoastResponse(unit.TimeConstant, r, run.Travel.size()), run.Use)
                                        : TVector(g.Columns[0].size(), 0.0));
  g.Travel = Centred(run.Travel, run.Use);
  return g;
}

// First guesses for one time constant, lag and delay by linear least squares on the motor
// without stiction: travel = gain x (response to the drive - friction x response to the
// direction - load x response to 1 - slope x response to the position) + start speed x coast,
// with the terms the fit moves; and the drive alone, without friction. A run that moves one way
// shows drive and friction much alike, and the first was off by a motor's whole friction when
// the drive between samples was not recorded.
std::vector<TGuess> GuessesFor(double tau, double lag, int delay, TFitData& data) {
  data.Delay = delay;
  const TMotorModel unit{1, tau, 0, lag, delay};
  std::vector<TRegressors> runs;
  for (size_t i = 0; i < data.Runs.size(); ++i) runs.push_back(RegressorsOf(data.Runs[i], unit, data, i));
  const size_t n = runs.front().Columns.size();
  std::vector<TGuess> guesses;
  for (size_t used : {n, size_t(1)}) {
    std::vector<TVector> normal(used, TVector(used, 0.0));
    TVector right(used, 0.0), x;
    for (const TRegressors& g : runs)
      for (size_t k = 0; k < g.Travel.size(); ++k)
        for (size_t i = 0; i < used; ++i) {
          right[i] += g.Columns[i][k] * g.Travel[k];
          for (size_t j = 0; j < used; ++j) normal[i][j] += g.Columns[i][k] * g.Columns[j][k];
        }
    if (!Solve(normal, right, x) || !(x[0] > 0)) continue;
    x.resize(n, 0.0);
    TGuess guess{data.Fixed, delay};
    guess.Point[kLogGain] = std::log(x[0]);
    guess.Point[kLogTau] = std::log(tau);
    guess.Point[kFriction] = std::max(0.0, -x[1] / x[0]);
    guess.Point[kLogLag] = std::log(lag > 0 ? lag : kNegligibleLagCycles * data.Period / 4);
    size_t column = 2;
    for (size_t parameter : {size_t(kLoad), size_t(kLoadChange)})
      if (std::count(data.Active.begin(), data.Active.end(), parameter))
        guess.Point[parameter] = -x[column++] / x[0] * (parameter == kLoadChange ? data.StepScale : 1);
    for (size_t i = 0; i < data.Runs.size(); ++i)
      if (data.Runs[i].SpeedFitted) guess.Point[kFirstSpeed + i] = x[column++] * data.RunTime / data.StepScale;
    guess.Cost = Cost(guess.Point, data);
    if (std::isfinite(guess.Cost)) guesses.push_back(std::move(guess));
  }
  return guesses;
}

// Nelder-Mead from the guess (a whole parameter vector) over the parameters the fit moves,
// started again from its result until that gains no more: a simplex can stall on the small
// steps that whole encoder counts put into the cost. Returns the whole vector.
TMinimum Refine(const TVector& start, const TFitData& data) {
  const auto cost = [&](const TVector& x) { return Cost(data.Whole(x), data); };
  TVector whole(start.size(), 0.3);
  whole[kLogGain] = 0.2;
  whole[kFriction] = 0.3 + 0.3 * start[kFriction];
  whole[kLogLag] = 1;
  whole[kLoad] = 0.5 + 0.3 * std::abs(start[kLoad]);
  whole[kLoadChange] = 0.5 + 0.3 * std::abs(start[kLoadChange]);
  whole[kPlay] = 1;
  const TVector steps = data.Moved(whole);
  const int calls = 300 * static_cast<int>(steps.size());
  TMinimum best = NelderMead(cost, data.Moved(start), steps, 1e-3, calls);
  for (int restart = 0; restart < 4; ++restart) {
    const TMinimum again = NelderMead(cost, best.Point, steps, 1e-3, calls);
    if (!(again.Value < best.Value * (1 - 1e-3))) break;
    best = again;
  }
  best.Point = data.Whole(best.Point);
  // Lag and time constant give the same response: the longer is the time constant.
  if (best.Point[kLogLag] > best.Point[kLogTau]) std::swap(best.Point[kLogLag], best.Point[kLogTau]);
  return best;
}

// Standard errors of gain and time constant (relative) and of friction (% of drive) from the
// residuals' sensitivity to every parameter the fit moves and the run shows (a lag too small to
// matter is left out, as the run cannot show it).
std::array<double, 3> Spreads(const TVector& x, const TFitData& data, double sumOfSquares) {
  std::vector<size_t> shown;
  for (size_t i : data.Active)
    if (i != kLogLag || ModelAt(x, data).Lag > 0) shown.push_back(i);
  std::vector<TVector> jacobian;
  size_t frictionColumn = SIZE_MAX;
  for (size_t i : shown) {
    const double step = i == kLogGain || i == kLogTau || i == kLogLag ? 0.01 : 0.02;
    TVector up = x, down = x;
    up[i] += step;
    down[i] -= step;
    const TVector ru = Residuals(up, data), rd = Residuals(down, data);
    TVector column(ru.size());
    for (size_t k = 0; k < ru.size(); ++k) column[k] = (ru[k] - rd[k]) / (2 * step);
    // A parameter the residuals do not react to at all here (friction on a step of whole
    // counts) tells nothing of the others' spread, and would leave no inverse.
    if (i > kLogTau && SumOfSquares(column) == 0) continue;
    if (i == kFriction) frictionColumn = jacobian.size();
    jacobian.push_back(std::move(column));
  }
  const size_t n = jacobian.size();
  std::vector<TVector> normal(n, TVector(n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      normal[i][j] = std::inner_product(jacobian[i].begin(), jacobian[i].end(), jacobian[j].begin(), 0.0);
  const double samples = static_cast<double>(jacobian[0].size());
  const double variance = std::max(sumOfSquares / std::max(samples - double(n), 1.0), kQuantisationVariance);
  std::array<double, 3> spread{};
  for (size_t k = 0; k < 3; ++k) {
    const size_t i = k < 2 ? k : frictionColumn;
    if (i >= n) {
      spread[k] = INFINITY;
      continue;
    }
    TVector unit(n, 0.0), column;
    unit[i] = 1;
    spread[k] = Solve(normal, unit, column) && column[i] > 0 ? std::sqrt(variance * column[i]) : INFINITY;
  }
  return spread;
}

// The prediv whose run lasts about five time constants: at least one more than now, at most
// the largest the tool's "Prediv:" field takes.
int PredivCovering(double tau, const TStepRecord& record) {
  constexpr int kMaxPrediv = 50;
  const double cycles = 5 * tau / record.Setup.Loop.Period / static_cast<double>(record.Errors.size());
  return static_cast<int>(std::clamp(std::ceil(cycles) - 1, record.Setup.Prediv + 1.0, double(kMaxPrediv)));
}

TIdentification Refused(TIdentification result, std::string problem, std::string advice) {
  result.Usable = false;
  result.Problem = std::move(problem);
  result.Advice = std::move(advice);
  return result;
}

// Returns whether a run cannot show the motor, with the refusal, before any fitting.
bool RunUnfit(const TStepRecord& record, const TVector& travel, TIdentification& refusal) {
  const TLoopSettings& loop = record.Setup.Loop;
  if (record.Errors.size() < static_cast<size_t>(kMinSamples) || record.Outputs.size() != record.Errors.size()) {
    refusal = Refused({}, "the run has only " + std::to_string(record.Errors.size()) + " samples",
                      "run a complete step test");
    return true;
  }
  const auto tripped = [&](double e) { return loop.FaultError > 0 && std::abs(e) > loop.FaultError; };
  if (std::any_of(record.Errors.begin(), record.Errors.end(), tripped)) {
    refusal = Refused({}, "the servo switched off: the error passed \"Fault Error (f):\" (" + FixedText(loop.FaultError, 0) + ")",
                      "try a smaller step, or a larger fault error");
    return true;
  }
  double moved = 0;
  for (double t : travel) moved = std::max(moved, std::abs(t));
  if (moved < kMinTravel) {
    refusal = Refused({}, "the motor moved only " + CountText(moved, 0, "count", "counts"), "try a larger step");
    return true;
  }
  return false;
}

// The speed at the end of a run: its travel over the last tenth of the run (at least five
// samples), per second; 0 where that is less than two counts, as of a motor at rest whose count
// flickers.
double EndSpeed(const TRunData& run) {
  const size_t n = run.Travel.size();
  const size_t span = std::max<size_t>(5, n / 10);
  if (n <= span) return 0;
  const double moved = run.Travel[n - 1] - run.Travel[n - 1 - span];
  return std::abs(moved) < 2 ? 0 : moved / (double(span) * SamplePeriod(run.Record->Setup));
}

// Chooses what the fit moves besides gain, time constant, friction and lag: the speed a run
// starts with where it starts where the run before it (the runs come in the order they were
// taken) left the command and that run ended moving (a step back taken before the step came to
// rest).
void ChooseParameters(TFitData& data) {
  data.Active = {kLogGain, kLogTau, kFriction, kLogLag};
  data.Fixed.assign(kFirstSpeed + data.Runs.size(), 0.0);
  for (size_t i = 1; i < data.Runs.size(); ++i) {
    const TStepTestSetup& before = data.Runs[i - 1].Record->Setup;
    if (before.Start.Command + before.Step != data.Runs[i].Record->Setup.Start.Command) continue;
    data.Runs[i].PriorSpeed = EndSpeed(data.Runs[i - 1]);
    data.Runs[i].SpeedFitted = data.Runs[i].PriorSpeed != 0;
    data.Fixed[kFirstSpeed + i] = data.Runs[i].PriorSpeed * data.RunTime / data.StepScale;
    if (data.Runs[i].SpeedFitted) data.Active.push_back(kFirstSpeed + i);
  }
}

// The first guesses over time constants, lags and delays, best first.
std::vector<TGuess> FirstGuesses(TFitData& data) {
  std::vector<TGuess> guesses;
  for (int delay = 0; delay <= kMaxDelayCycles; ++delay)
    for (double lagCycles : kGuessLagCycles)
      for (double tau = data.Period / 2; tau < 2 * data.RunTime; tau *= 1.6) {
        const double lag = lagCycles * data.Period;
        if (lag >= tau) continue;
        for (TGuess& guess : GuessesFor(tau, lag, delay, data)) guesses.push_back(std::move(guess));
      }
  std::sort(guesses.begin(), guesses.end(), [](const TGuess& a, const TGuess& b) { return a.Cost < b.Cost; });
  return guesses;
}

// What a load, or play, must take away of the misfit of the fit without it to be believed: a
// share of it, and so much per residual (counts squared). Friction holds a motor off target
// both ways, as a spring around the start would, and the two replay runs that end resting about
// equally well: a load must explain much. A motor without play gains a few hundredths of a
// count squared per residual from a play of a count, the encoder's rounding, while 3 counts of
// play on the simulator's motor take a third or more of the misfit away (where friction and a
// lag took up much of it, 6 counts squared over a step and a step back, 0.016 per residual). With play, the fit must also replay the runs within the encoder's rounding:
// a noisy count's misfit is cut by a fifth by a play of a few counts, but much of it stays.
struct TMustExplain {
  double Share;
  double PerResidual;
  double Leaves = INFINITY;  // the most the fit with it may leave per residual, counts squared
};
constexpr TMustExplain kLoadMustExplain{0.5, 0.1};
constexpr TMustExplain kPlayMustExplain{0.2, 0.012, kQuantisationVariance};
// A longer delay must take away this much of the misfit of a shorter one.
constexpr TMustExplain kDelayMustExplain{0.05, 0.01};
// The lag, in cycles for each cycle of delay left out, at which a fit with a shorter delay only
// stands in for the longer one.
constexpr double kLagForDelay = 0.9;

// Returns whether the runs move both ways: one way, friction and a load are one force to them.
bool BothWays(const TFitData& data) {
  bool up = false, down = false;
  for (const TRunData& run : data.Runs) (run.Record->Setup.Step > 0 ? up : down) = true;
  return up && down;
}

TMinimum FitFromGuesses(TFitData& data);
bool ExplainsMore(const TMinimum& with, const TMinimum& without, const TFitData& data, const TMustExplain& must);

// The fit with the given load terms added, with the data it was made on: the better of the
// fit from first guesses with them and of the fit without them refined with them.
std::pair<TMinimum, TFitData> FitWithTerms(const TFitData& data, const TMinimum& without, std::initializer_list<size_t> terms) {
  TFitData loaded = data;
  for (size_t term : terms)
    if (std::find(loaded.Active.begin(), loaded.Active.end(), term) == loaded.Active.end()) loaded.Active.push_back(term);
  TMinimum best = FitFromGuesses(loaded);
  TFitData fromWithout = data;
  fromWithout.Active = loaded.Active;
  const TMinimum refined = Refine(without.Point, fromWithout);
  if (refined.Value < best.Value) return {refined, std::move(fromWithout)};
  return {best, std::move(loaded)};
}

// The data of a fit with one parameter of it no longer moved (held at 0).
TFitData Without(TFitData data, size_t parameter) {
  const auto moved = std::find(data.Active.begin(), data.Active.end(), parameter);
  if (moved != data.Active.end()) data.Active.erase(moved);
  return data;
}

// The fit refined with that parameter taken away.
TMinimum Without(const TMinimum& fit, const TFitData& data, size_t parameter) {
  if (std::find(data.Active.begin(), data.Active.end(), parameter) == data.Active.end()) return fit;
  TVector start = fit.Point;
  start[parameter] = 0;
  return Refine(start, Without(data, parameter));
}

// The fit with a load: constant first, then changing with position where that explains enough
// of what the constant load leaves. Both at once, a constant load of -4.7 % came out as -3.7 %
// falling by 1.9 % over the step with three times the friction: over a step and a step back, a
// slope with more friction replays the runs about as well as the constant load, and the fit
// that needs only the one is the truer.
// The constant load is fitted from first guesses with it, from the fit without a load and from
// the fit with both, its change taken away: from the first guesses alone, the simplex stopped
// at prediv 2 at a motor six times too slow with its gain to match, and the fit took a cycle
// of delay and 40 % less friction instead, where the fit with both had found the motor with a
// slope of a hundredth of the load.
// A constant load that leaves a time constant no run shows (a spring beyond a wall fitted as a
// motor that never nears its speed) is no answer: there both are fitted at once.
// Each is kept, with data moving it, only where it explains enough of what the fit without it
// leaves.
TMinimum WithLoad(TFitData& data, const TMinimum& without) {
  auto [both, bothData] = FitWithTerms(data, without, {kLoad, kLoadChange});
  auto [constant, constantData] = FitWithTerms(data, without, {kLoad});
  if (const TMinimum levelled = Without(both, bothData, kLoadChange); levelled.Value < constant.Value)
    constant = levelled, constantData = Without(bothData, kLoadChange);
  // A fit without a load whose time constant no run shows is no answer to weigh a load against:
  // it is refined from the constant load's, the load taken away.
  TMinimum bare = without;
  TFitData bareData = data;
  if (ModelAt(without.Point, data).TimeConstant > kMaxTauPerRun * data.RunTime)
    if (const TMinimum unloaded = Without(constant, constantData, kLoad); unloaded.Value < bare.Value)
      bare = unloaded, bareData = Without(constantData, kLoad);
  const bool constantLoad = ExplainsMore(constant, bare, bareData, kLoadMustExplain);
  if (!constantLoad) constant = bare, constantData = bareData;
  const auto kept = [&](const TMinimum& with, TFitData& withData, const TMinimum& below, TFitData& belowData) {
    const bool more = ExplainsMore(with, below, belowData, kLoadMustExplain);
    data = std::move(more ? withData : belowData);
    return more ? with : below;
  };
  if (ModelAt(constant.Point, constantData).TimeConstant > kMaxTauPerRun * data.RunTime) return kept(both, bothData, bare, bareData);
  // The slope: with the constant load, from the fit with both and from the constant load's;
  // without one, alone.
  if (!constantLoad) {
    auto [sloped, slopedData] = FitWithTerms(bareData, bare, {kLoadChange});
    return kept(sloped, slopedData, constant, constantData);
  }
  TFitData slopedData = constantData;
  slopedData.Active.push_back(kLoadChange);
  TMinimum sloped = Refine(constant.Point, slopedData);
  if (both.Value < sloped.Value) sloped = both, slopedData = std::move(bothData);
  return kept(sloped, slopedData, constant, constantData);
}

// The fit refined with the model running its own loop in the runs not sampled every cycle,
// from the fit driven by the drive worked out for them. The loop model reacts to whole counts, so where within
// its count the motor started changes its replay: each run not sampled every cycle is tried
// starting on a count's edge and in its middle, every run on its own (a step back starts where
// the step left the motor, not where the step started it). A shared start bent a slow motor's
// step and step back to three times the friction and a third more gain.
TMinimum InOwnLoop(TFitData& data, const TMinimum& driven) {
  // The starts to try: bit i of a choice puts run i's motor on the edge of its count.
  std::vector<size_t> closedLoop;
  for (size_t i = 0; i < data.Runs.size(); ++i)
    if (!data.Runs[i].OpenLoop) closedLoop.push_back(i);
  if (closedLoop.empty()) return driven;
  data.OwnLoop = true;
  const size_t choices = closedLoop.size() < 4 ? size_t(1) << closedLoop.size() : 2;
  const auto place = [&](size_t choice) {
    for (size_t j = 0; j < closedLoop.size(); ++j)
      data.Runs[closedLoop[j]].Fraction = choices == 2 ? (choice ? 0.0 : 0.5) : ((choice >> j) & 1 ? 0.0 : 0.5);
  };
  TMinimum best;
  best.Value = INFINITY;
  size_t bestChoice = 0;
  for (size_t choice = 0; choice < choices; ++choice) {
    place(choice);
    const TMinimum refined = Refine(driven.Point, data);
    if (refined.Value < best.Value) best = refined, bestChoice = choice;
  }
  place(bestChoice);
  return best;
}

TMinimum FitFromGuesses(TFitData& data) {
  data.OwnLoop = false;
  const std::vector<TGuess> guesses = FirstGuesses(data);
  // The best guesses, and the best of each delay: the simplex cannot move the delay.
  std::vector<const TGuess*> starts;
  for (size_t g = 0; g < guesses.size(); ++g) {
    const bool firstOfDelay = std::none_of(guesses.begin(), guesses.begin() + g, [&](const TGuess& e) { return e.Delay == guesses[g].Delay; });
    if (g < kRefinedGuesses || firstOfDelay) starts.push_back(&guesses[g]);
  }
  std::vector<std::pair<TMinimum, int>> refined;  // with its delay
  for (const TGuess* guess : starts) {
    data.Delay = guess->Delay;
    refined.emplace_back(Refine(guess->Point, data), guess->Delay);
  }
  std::sort(refined.begin(), refined.end(), [](const auto& a, const auto& b) { return a.first.Value < b.first.Value; });
  // A shorter delay that replays the runs about as well is the one: a step back's start speed,
  // friction and a lag take up a cycle of delay between them, and a motor without one was
  // fitted with one, which cost it every suggestion at prediv 0. Not where the shorter delay
  // replays them only with a lag of about the cycles it leaves out, against a longer delay that
  // replays them about as well: that lag is the delay in another form, a hair worse or better by
  // the run's disturbance, whichever of the two comes out best; a motor with a delay of a cycle
  // was fitted with it in one run and not the next, its P four times apart.
  if (!refined.empty() && std::isfinite(refined.front().first.Value)) {
    const TMinimum& best = refined.front().first;
    const double residuals = static_cast<double>(Residuals(best.Point, data).size());
    const double enough = best.Value + std::max(kDelayMustExplain.Share * best.Value, kDelayMustExplain.PerResidual * residuals);
    const auto lagCycles = [&](const TMinimum& fit) { return ModelAt(fit.Point, data).Lag / data.Period; };
    const std::vector<std::pair<TMinimum, int>> fits = refined;
    const auto standsIn = [&](const std::pair<TMinimum, int>& fit) {
      return std::any_of(fits.begin(), fits.end(), [&](const std::pair<TMinimum, int>& longer) {
        return longer.second > fit.second && longer.first.Value <= enough &&
               lagCycles(fit.first) >= lagCycles(longer.first) + kLagForDelay * (longer.second - fit.second);
      });
    };
    const auto isEnough = [&](const std::pair<TMinimum, int>& fit) { return fit.first.Value <= enough && !standsIn(fit); };
    std::stable_sort(refined.begin(), refined.end(), [&](const auto& a, const auto& b) {
      const bool aEnough = isEnough(a), bEnough = isEnough(b);
      if (aEnough != bEnough) return aEnough;
      return aEnough && a.second < b.second;
    });
  }
  // The best driven fit goes on to the model's own loop. (The own loop's cost is no judge
  // between driven fits: where friction shows only within a percent, a worse driven fit found
  // it a fifth off.)
  TMinimum best;
  best.Value = INFINITY;
  if (refined.empty()) return best;
  data.Delay = refined.front().second;
  const bool sampledEveryCycle = std::all_of(data.Runs.begin(), data.Runs.end(), [](const TRunData& r) { return r.OpenLoop; });
  if (sampledEveryCycle) return refined.front().first;
  TFitData chosen = data;
  for (size_t i = 0; i < std::min<size_t>(kOwnLoopStarts, refined.size()) && std::isfinite(refined[i].first.Value); ++i) {
    TFitData tried = data;
    tried.Delay = refined[i].second;
    const TMinimum fit = InOwnLoop(tried, refined[i].first);
    if (fit.Value < best.Value) best = fit, chosen = std::move(tried);
  }
  data = std::move(chosen);
  return best;
}

// Returns whether the fit with more parameters explains enough more than the one without them
// to be believed.
bool ExplainsMore(const TMinimum& with, const TMinimum& without, const TFitData& data, const TMustExplain& must) {
  const double residuals = static_cast<double>(Residuals(without.Point, data).size());
  return with.Value < (1 - must.Share) * without.Value && without.Value - with.Value > must.PerResidual * residuals &&
         with.Value <= must.Leaves * residuals;
}

// The plays the refit with play starts from, in counts: the misfit has a dip at each count the
// play spans, and a simplex from one play alone missed three counts on one board in four.
constexpr double kPlayStarts[] = {1.5, 3.5};

// The fit with play between motor and encoder, from the fit without, its runs started against
// either side of the play (and the first in its middle too, as a motor left alone may be).
// Which side a run starts against the count does not tell: a motor that overshoots and comes
// back less than the play leaves the count where it was. Kept, with data moving the play, only
// where the play explains enough of what the fit without it leaves: play shows where the motion
// reverses, the output moving and the count not, which a coarse encoder does not do.
TMinimum WithPlay(TFitData& data, const TMinimum& without) {
  TMinimum best = without;
  std::optional<TFitData> chosen;
  const size_t runs = data.Runs.size();
  size_t choices = 3;
  for (size_t i = 1; i < runs; ++i) choices *= 2;
  for (size_t choice = 0; choice < choices; ++choice) {
    TFitData played = data;
    played.Active.push_back(kPlay);
    size_t rest = choice;
    for (size_t i = 0; i < runs; ++i) {
      const size_t sides = i == 0 ? 3 : 2;
      played.Runs[i].PlaySide = i == 0 ? double(rest % sides) - 1 : (rest % sides ? 1.0 : -1.0);
      rest /= sides;
    }
    for (double play : kPlayStarts) {
      TVector start = without.Point;
      start[kPlay] = play;
      const TMinimum refined = Refine(start, played);
      if (refined.Value < best.Value) best = refined, chosen = played;
    }
  }
  if (!chosen || !ExplainsMore(best, without, data, kPlayMustExplain)) return without;
  data = std::move(*chosen);
  return best;
}

// Where, within the step, the refit with a knee starts the load's change: a simplex from one
// place alone stops at the first dip of the misfit.
constexpr double kKneeStarts[] = {0.25, 0.5, 0.75};
// What a knee must take away of the misfit of the fit without it: a resonance, cogging or an
// inertia that changes with position, fitted with a knee, leave a sixth or more of it (a belt
// axis 0.16, most 0.2 to 0.5), a spring to a wall an eighth or less (most a tenth or less).
constexpr TMustExplain kKneeMustExplain{0.85, 0.1};
// How far, in steps, the knee must lie inside the positions the runs covered: a knee at their
// edge is a load that changes everywhere the runs went, or nowhere.
constexpr double kKneeInside = 0.05;

// Returns whether the runs show the fit's knee: the load grows as the motor presses on past it
// (a spring pushes back; a load that gives way past a point is an arm or cogging), and the knee
// lies inside the positions the runs covered, so that they moved the motor on both sides of it.
bool KneeShown(const TVector& x, const TFitData& data) {
  const TMotorModel m = ModelAt(x, data);
  if (!(m.LoadSlope > 0) || !m.LoadKnee) return false;
  double low = INFINITY, high = -INFINITY;
  for (const TRunData& run : data.Runs) {
    const TStepTestSetup& setup = run.Record->Setup;
    const double start = setup.Start.Command - setup.Start.Error;
    low = std::min({low, start, start + setup.Step});
    high = std::max({high, start, start + setup.Step});
  }
  const double margin = kKneeInside * data.StepScale;
  return *m.LoadKnee > low + margin && *m.LoadKnee < high - margin;
}

// The fit with a load that changes with position only beyond a knee (a spring to a wall), from
// the fit without: its slope started so that the load at the step's end stays, and so that the
// fit's constant load becomes the spring's (a spring that only the step's end presses in was
// fitted as a constant load with seven times the friction, or a motor slower than it is).
// Kept, with data moving the knee, only where the runs show it (KneeShown) and it explains
// much more of what that fit leaves than other loads must: a load that changes everywhere
// replays an arm or a constant load as well, and a knee bends a fit towards a resonance or
// cogging by enough to pass a load's share.
TMinimum WithKnee(TFitData& data, const TMinimum& without) {
  TFitData kneed = data;
  for (size_t term : {size_t(kLoad), size_t(kLoadChange), size_t(kKnee)})
    if (!Moves(kneed, term)) kneed.Active.push_back(term);
  TMinimum best;
  best.Value = INFINITY;
  for (double knee : kKneeStarts)
    for (bool fromConstant : {false, true}) {
      TVector start = without.Point;
      start[kKnee] = knee;
      start[kLoadChange] = (start[kLoadChange] + (fromConstant ? start[kLoad] : 0)) / (1 - knee);
      if (fromConstant) start[kLoad] = 0;
      const TMinimum refined = Refine(start, kneed);
      if (refined.Value < best.Value) best = refined;
    }
  if (!KneeShown(best.Point, kneed) || !ExplainsMore(best, without, data, kKneeMustExplain)) return without;
  data = std::move(kneed);
  return best;
}

// The best fit without play or a load; with play, then with a load, then with a load whose
// change begins at a knee, where the runs move both ways and each explains more (play first:
// friction and a load changing with position together replay the dead zone of a few counts of
// play about as well).
TMinimum BestFit(TFitData& data) {
  TMinimum best = FitFromGuesses(data);
  if (!BothWays(data) || !std::isfinite(best.Value)) return best;
  best = WithPlay(data, best);
  best = WithLoad(data, best);
  return WithKnee(data, best);
}

// Sets the fit's replay error from the run it replays worst, relative to that run's step.
void SetFitRms(TIdentification& result, const TVector& x, const TFitData& data) {
  for (size_t i = 0; i < data.Runs.size(); ++i) {
    const TRunData& run = data.Runs[i];
    const TVector r = RunResiduals(result.Motor, run, run.Fraction, StartSpeed(x, data, i), data.OwnLoop);
    const double rms = r.empty() ? 0 : std::sqrt(SumOfSquares(r) / static_cast<double>(r.size()));
    const double pct = 100 * rms / std::abs(run.Record->Setup.Step);
    if (pct >= result.FitRmsPct) result.FitRms = rms, result.FitRmsPct = pct;
  }
}

// Returns the refusal of constants left uncertain, naming the load that changes with position
// where the fit found one from a knee on: beside a spring pressed in, gain and time constant
// trade with its stiffness and its knee, and a larger step, pressing it in further, does not
// pin them down.
TIdentification UncertainConstants(TIdentification result) {
  if (!result.Motor.LoadKnee) return Refused(result, "the run leaves the motor's constants uncertain", "try a larger step");
  const std::string knee = FixedText(*result.Motor.LoadKnee, 0);
  return Refused(result,
                 "the run leaves the motor's constants uncertain beside a load that changes with position from about " +
                     knee + " counts on (a spring to a wall, say)",
                 "a larger step does not help; try steps that stay on one side of " + knee + " counts, or tune it by hand");
}

// Refuses a fit that replays poorly or leaves the constants uncertain, saying what to try.
TIdentification Judged(TIdentification result, const TStepRecord& first) {
  if (result.FitRmsPct > kMaxFitPct && result.FitRms <= kRoundingMisfit)
    return Refused(result, "the model replays the run only within " + FixedText(result.FitRms, 1) + " counts (" +
                               FixedText(result.FitRmsPct, 1) + " % of the step): the step is small beside the counts",
                   "try a larger step");
  if (result.FitRmsPct > kMaxFitPct)
    return Refused(result, "the model replays the run only within " + FixedText(result.FitRms, 1) + " counts (" +
                               FixedText(result.FitRmsPct, 1) + " % of the step): the machine does what the model "
                               "does not hold (it holds gain, time constant, Coulomb friction, a drive lag and delay, "
                               "a load constant or changing with position, also from a knee on, and play), such as a "
                               "resonance, cogging, Stribeck friction, a current limit or an inertia that changes "
                               "with position",
                   "a larger step does not help; tune it by hand, or try a smaller step at a prediv that covers the "
                   "settling");
  const double tau = result.Motor.TimeConstant;
  const double runTime = static_cast<double>(first.Errors.size()) * SamplePeriod(first.Setup);
  const bool tauUncertain = result.TimeConstantSpread > kMaxSpread || tau > kMaxTauPerRun * runTime;
  if (tauUncertain && runTime < 3 * tau)
    return Refused(result, "the run is too short to show the motor's time constant",
                   "try --prediv " + std::to_string(PredivCovering(tau, first)));
  if (tauUncertain && tau < 2 * SamplePeriod(first.Setup))
    return Refused(result, "the motor is faster than the samples", "try a smaller prediv");
  if (tauUncertain || result.GainSpread > kMaxSpread) return UncertainConstants(result);
  result.Usable = true;
  return result;
}

}  // namespace

std::vector<double> CycleErrors(const TStepRecord& record) {
  if (record.Setup.Prediv == 0) return record.Errors;
  const TLoopSettings& loop = record.Setup.Loop;
  const int cycles = record.Setup.Prediv + 1;
  const auto banded = [&](double e) { return std::abs(e) <= loop.Deadband ? 0 : e; };
  TVector errors;
  errors.reserve(record.Errors.size() * size_t(cycles));
  double from = record.Setup.Start.Error + record.Setup.Step;  // the error in the step's first cycle
  bool firstBlock = true;  // its first cycle has the step's error, its last the sample's
  for (double sampled : record.Errors) {
    for (int j = 0; j < cycles; ++j) {
      const double share = firstBlock ? double(j) / (cycles - 1) : double(j + 1) / cycles;
      errors.push_back(banded(from + (sampled - from) * share));
    }
    from = sampled;
    firstBlock = false;
  }
  return errors;
}

std::vector<double> MeasuredTravel(const TStepRecord& record) {
  const TStepTestSetup& setup = record.Setup;
  // With every cycle sampled, the first sample's error is the step plus the error before it.
  const bool firstIsStart = setup.Prediv == 0 && !record.Errors.empty() && record.Errors[0] != 0;
  const double base = firstIsStart ? record.Errors[0] : setup.Step + setup.Start.Error;
  TVector travel(record.Errors.size());
  for (size_t k = 0; k < travel.size(); ++k) travel[k] = base - record.Errors[k];
  return travel;
}

TIdentification IdentifyMotor(const std::vector<TStepRecord>& records) {
  TIdentification result;
  if (records.empty()) return Refused(result, "there is no run", "run a step test");
  TFitData data;
  for (const TStepRecord& record : records) {
    TRunData run{&record, MeasuredTravel(record), std::vector<bool>(record.Errors.size()), {}, {}, record.Setup.Prediv == 0, {}};
    if (RunUnfit(record, run.Travel, result)) return result;
    for (size_t k = 0; k < run.Use.size(); ++k) run.Use[k] = record.Setup.Loop.Deadband <= 0 || record.Errors[k] != 0;
    run.Stretches = SameCountStretches(run.Travel, run.Use, true);
    run.Samples = SameCountStretches(run.Travel, run.Use, false);
    if (!run.OpenLoop) run.Drive = RunDrive(record);
    data.Runs.push_back(std::move(run));
  }
  const TStepRecord& first = records.front();
  data.Period = first.Setup.Loop.Period;
  data.StepScale = std::abs(first.Setup.Step);
  data.RunTime = static_cast<double>(first.Errors.size()) * SamplePeriod(first.Setup);
  data.LoadOrigin = first.Setup.Start.Command - first.Setup.Start.Error;
  ChooseParameters(data);
  const TMinimum best = BestFit(data);
  if (!std::isfinite(best.Value)) return Refused(result, "the run does not fit a motor", "try a larger step");
  result.Motor = ModelAt(best.Point, data);
  for (size_t i = 0; i < data.Runs.size(); ++i) {
    TStepStart start = records[i].Setup.Start;
    start.PositionFraction = data.Runs[i].Fraction;
    start.Velocity = StartSpeed(best.Point, data, i);
    result.Starts.push_back(start);
  }
  SetFitRms(result, best.Point, data);
  // The spreads from the replay driven by the recorded (or worked out) drive: the model's own
  // loop on whole counts replays a motor 1 % off exactly as the fitted one.
  TFitData driven = data;
  driven.OwnLoop = false;
  const auto [gainSpread, tauSpread, frictionSpread] = Spreads(best.Point, driven, Cost(best.Point, driven));
  result.FrictionSpread = frictionSpread;
  result.GainSpread = gainSpread;
  result.TimeConstantSpread = tauSpread;
  return Judged(result, first);
}
