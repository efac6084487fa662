#include "tuning/identify.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>

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
constexpr double kMaxSpread = 0.10;
// The variance a whole-count encoder adds to every position, counts squared: the least the
// residuals can be trusted to.
constexpr double kQuantisationVariance = 1.0 / 12;

using TVector = std::vector<double>;

// What the fit compares in one run: the measured travel, the samples to use, and how to
// drive the model.
struct TRunData {
  const TStepRecord* Record;
  TVector Travel;
  std::vector<bool> Use;  // a sample inside the deadband reports 0 and tells no position
  // The used samples in stretches that read the same count: [begin, end) each.
  std::vector<std::pair<size_t, size_t>> Stretches;
  bool OpenLoop;          // every cycle was sampled: drive the model with the measured outputs
  double Fraction = 0.5;  // where within its encoder count the motor started the run
};

struct TFitData {
  std::vector<TRunData> Runs;
};

TMotorModel ModelAt(const TVector& x) { return {std::exp(x[0]), std::exp(x[1]), std::abs(x[2])}; }

// The model's travel at each sample, placed like the measured one: the encoder reports
// whole counts, so a count is measured on average half a count below the true position.
TVector ModelTravel(const TMotorModel& motor, const TRunData& run, double fraction) {
  const TStepRecord& record = *run.Record;
  const size_t n = record.Errors.size();
  TStepTestSetup setup = record.Setup;
  setup.Samples = static_cast<int>(n);
  setup.Start.PositionFraction = fraction;
  TStepSimulation simulation(motor, setup);
  TVector travel(n);
  double error = 0, output = 0;
  for (size_t k = 0; k < n; ++k) {
    // With every cycle sampled the drive is known; otherwise the loop model works it out, as
    // mixing measured and modelled cycles would let a derivative kick land twice.
    if (run.OpenLoop) simulation.NextDrivenBy(record.Outputs[k], error, output);
    else simulation.Next(error, output);
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
TVector RunResiduals(const TMotorModel& motor, const TRunData& run, double fraction) {
  const TVector model = ModelTravel(motor, run, fraction);
  TVector residuals, means;
  for (const auto& [begin, end] : run.Stretches) {
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
// by the measured outputs; else every used sample on its own: a model that runs its own loop
// gets a drive that depends on where it stands at each sample, and tried on a slow motor
// sampled every other cycle, one count's weight per stretch let a model with three times the
// friction and a fifth more gain replay the run better than the motor itself.
std::vector<std::pair<size_t, size_t>> SameCountStretches(const TVector& travel, const std::vector<bool>& use,
                                                          bool openLoop) {
  std::vector<std::pair<size_t, size_t>> stretches;
  for (size_t k = 0; k < travel.size();) {
    size_t end = k + 1;
    while (openLoop && end < travel.size() && use[k] == use[end] && travel[end] == travel[k]) ++end;
    if (use[k]) stretches.emplace_back(k, end);
    k = end;
  }
  return stretches;
}

// The residuals of all runs, one after the other.
TVector Residuals(const TMotorModel& motor, const TFitData& data) {
  TVector all;
  for (const TRunData& run : data.Runs) {
    const TVector r = RunResiduals(motor, run, run.Fraction);
    all.insert(all.end(), r.begin(), r.end());
  }
  return all;
}

double SumOfSquares(const TVector& v) { return std::inner_product(v.begin(), v.end(), v.begin(), 0.0); }

double Cost(const TVector& x, const TFitData& data) { return SumOfSquares(Residuals(ModelAt(x), data)); }

// The travel of a motor without friction and with gain 1 under the given drive per sample,
// held over each sample's cycles: a linear response, so gain and friction of a first guess
// follow from it by linear least squares.
TVector UnitResponse(const TVector& drive, double tau, const TStepRecord& record) {
  const double period = record.Setup.Loop.Period;
  const double decay = std::exp(-period / tau);
  const TMotorModel unit{1, tau, 0};
  TVector travel(drive.size());
  TMotorState state;
  const int cycles = record.Setup.Prediv + 1;
  for (size_t k = 0; k < drive.size(); ++k)
    for (int c = 0; c < cycles; ++c) {
      if (c == cycles - 1) travel[k] = state.Position;
      AdvanceMotor(unit, state, drive[k], period, decay);
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
  double Cost = INFINITY;
};

// A first guess for one time constant: gain and friction by linear least squares on the
// motor without stiction, driven by the sampled outputs held between samples:
// travel = gain x response - gain x friction x (response to the direction of motion).
TGuess GuessFor(double tau, const TFitData& data) {
  double rr = 0, rf = 0, ff = 0, ry = 0, fy = 0;
  for (const TRunData& run : data.Runs) {
    const TVector r = Centred(UnitResponse(run.Record->Outputs, tau, *run.Record), run.Use);
    const TVector f = Centred(UnitResponse(MotionDirection(run.Travel), tau, *run.Record), run.Use);
    const TVector y = Centred(run.Travel, run.Use);
    for (size_t k = 0; k < y.size(); ++k) {
      rr += r[k] * r[k], rf += r[k] * f[k], ff += f[k] * f[k];
      ry += r[k] * y[k], fy += f[k] * y[k];
    }
  }
  const double det = rr * ff - rf * rf;
  if (!(std::abs(det) > 0)) return {};
  const double gain = (ry * ff - fy * rf) / det;
  const double gainFriction = -(rr * fy - rf * ry) / det;
  if (!(gain > 0)) return {};
  TGuess guess{{std::log(gain), std::log(tau), std::max(0.0, gainFriction / gain)}};
  guess.Cost = Cost(guess.Point, data);
  return guess;
}

// Nelder-Mead from the guess, started again from its result until that gains no more: a
// simplex can stall on the small steps that whole encoder counts put into the cost.
TMinimum Refine(const TVector& start, const TFitData& data) {
  const auto cost = [&](const TVector& x) { return Cost(x, data); };
  const TVector steps = {0.2, 0.3, 0.3 + 0.3 * start[2]};
  TMinimum best = NelderMead(cost, start, steps, 1e-3, 600);
  for (int restart = 0; restart < 4; ++restart) {
    const TMinimum again = NelderMead(cost, best.Point, steps, 1e-3, 600);
    if (!(again.Value < best.Value * (1 - 1e-3))) break;
    best = again;
  }
  return best;
}

// Solves a x = b for a 3 x 3 matrix by Gaussian elimination; false when singular.
bool Solve3(std::array<std::array<double, 3>, 3> a, std::array<double, 3> b, std::array<double, 3>& x) {
  for (int col = 0; col < 3; ++col) {
    int pivot = col;
    for (int row = col + 1; row < 3; ++row)
      if (std::abs(a[row][col]) > std::abs(a[pivot][col])) pivot = row;
    if (std::abs(a[pivot][col]) < 1e-300) return false;
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    for (int row = col + 1; row < 3; ++row) {
      const double f = a[row][col] / a[col][col];
      for (int k = col; k < 3; ++k) a[row][k] -= f * a[col][k];
      b[row] -= f * b[col];
    }
  }
  for (int row = 2; row >= 0; --row) {
    double sum = b[row];
    for (int k = row + 1; k < 3; ++k) sum -= a[row][k] * x[k];
    x[row] = sum / a[row][row];
  }
  return true;
}

// Relative standard errors of gain and time constant from the residuals' sensitivity to them.
std::array<double, 2> Spreads(const TVector& x, const TFitData& data, double sumOfSquares) {
  const double steps[3] = {0.01, 0.01, 0.02};
  std::array<TVector, 3> jacobian;
  for (int i = 0; i < 3; ++i) {
    TVector up = x, down = x;
    up[i] += steps[i];
    down[i] -= steps[i];
    const TVector ru = Residuals(ModelAt(up), data), rd = Residuals(ModelAt(down), data);
    jacobian[i].resize(ru.size());
    for (size_t k = 0; k < ru.size(); ++k) jacobian[i][k] = (ru[k] - rd[k]) / (2 * steps[i]);
  }
  std::array<std::array<double, 3>, 3> normal{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      normal[i][j] = std::inner_product(jacobian[i].begin(), jacobian[i].end(), jacobian[j].begin(), 0.0);
  const double n = static_cast<double>(jacobian[0].size());
  const double variance = std::max(sumOfSquares / std::max(n - 3, 1.0), kQuantisationVariance);
  std::array<double, 2> spread{};
  for (int i = 0; i < 2; ++i) {
    std::array<double, 3> unit{}, column{};
    unit[i] = 1;
    spread[i] = Solve3(normal, unit, column) && column[i] > 0 ? std::sqrt(variance * column[i]) : INFINITY;
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

// The best fit over the first guesses; the loop model reacts to whole counts, so where within
// its count the motor started changes its replay: each run not sampled every cycle is tried
// starting on a count's edge and in its middle, every run on its own (a step back starts where
// the step left the motor, not where the step started it). A shared start bent a slow motor's
// step and step back to three times the friction and a third more gain.
TMinimum BestFit(TFitData& data) {
  const TStepRecord& first = *data.Runs.front().Record;
  const double runTime = static_cast<double>(first.Errors.size()) * SamplePeriod(first.Setup);
  std::vector<TGuess> guesses;
  for (double tau = first.Setup.Loop.Period / 2; tau < 2 * runTime; tau *= 1.6) guesses.push_back(GuessFor(tau, data));
  std::sort(guesses.begin(), guesses.end(), [](const TGuess& a, const TGuess& b) { return a.Cost < b.Cost; });
  // The starts to try: bit i of a choice puts run i's motor on the edge of its count.
  std::vector<size_t> closedLoop;
  for (size_t i = 0; i < data.Runs.size(); ++i)
    if (!data.Runs[i].OpenLoop) closedLoop.push_back(i);
  const size_t choices = closedLoop.size() < 4 ? size_t(1) << closedLoop.size() : 2;
  const auto place = [&](size_t choice) {
    for (size_t j = 0; j < closedLoop.size(); ++j)
      data.Runs[closedLoop[j]].Fraction = choices == 2 ? (choice ? 0.0 : 0.5) : ((choice >> j) & 1 ? 0.0 : 0.5);
  };
  TMinimum best;
  best.Value = INFINITY;
  size_t bestChoice = 0;
  for (size_t g = 0; g < std::min<size_t>(6, guesses.size()) && std::isfinite(guesses[g].Cost); ++g)
    for (size_t choice = 0; choice < choices; ++choice) {
      place(choice);
      const TMinimum refined = Refine(guesses[g].Point, data);
      if (refined.Value < best.Value) best = refined, bestChoice = choice;
    }
  place(bestChoice);
  return best;
}

// Sets the fit's replay error from the run it replays worst, relative to that run's step.
void SetFitRms(TIdentification& result, const TFitData& data) {
  for (const TRunData& run : data.Runs) {
    const TVector r = RunResiduals(result.Motor, run, run.Fraction);
    const double rms = r.empty() ? 0 : std::sqrt(SumOfSquares(r) / static_cast<double>(r.size()));
    const double pct = 100 * rms / std::abs(run.Record->Setup.Step);
    if (pct >= result.FitRmsPct) result.FitRms = rms, result.FitRmsPct = pct;
  }
}

// Refuses a fit that replays poorly or leaves the constants uncertain, saying what to try.
TIdentification Judged(TIdentification result, const TStepRecord& first) {
  if (result.FitRmsPct > kMaxFitPct)
    return Refused(result, "the model replays the run only within " + FixedText(result.FitRms, 1) + " counts (" +
                               FixedText(result.FitRmsPct, 1) + " % of the step)",
                   "try a larger step, or a prediv that covers the settling");
  const double tau = result.Motor.TimeConstant;
  const double runTime = static_cast<double>(first.Errors.size()) * SamplePeriod(first.Setup);
  const bool tauUncertain = result.TimeConstantSpread > kMaxSpread;
  if (tauUncertain && runTime < 3 * tau)
    return Refused(result, "the run is too short to show the motor's time constant",
                   "try --prediv " + std::to_string(PredivCovering(tau, first)));
  if (tauUncertain && tau < 2 * SamplePeriod(first.Setup))
    return Refused(result, "the motor is faster than the samples", "try a smaller prediv");
  if (tauUncertain || result.GainSpread > kMaxSpread)
    return Refused(result, "the run leaves the motor's constants uncertain", "try a larger step");
  result.Usable = true;
  return result;
}

}  // namespace

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
    TRunData run{&record, MeasuredTravel(record), std::vector<bool>(record.Errors.size()), {}, record.Setup.Prediv == 0};
    if (RunUnfit(record, run.Travel, result)) return result;
    for (size_t k = 0; k < run.Use.size(); ++k) run.Use[k] = record.Setup.Loop.Deadband <= 0 || record.Errors[k] != 0;
    run.Stretches = SameCountStretches(run.Travel, run.Use, run.OpenLoop);
    data.Runs.push_back(std::move(run));
  }
  const TMinimum best = BestFit(data);
  if (!std::isfinite(best.Value)) return Refused(result, "the run does not fit a motor", "try a larger step");
  result.Motor = ModelAt(best.Point);
  SetFitRms(result, data);
  const auto [gainSpread, tauSpread] = Spreads(best.Point, data, best.Value);
  result.GainSpread = gainSpread;
  result.TimeConstantSpread = tauSpread;
  return Judged(result, records.front());
}
