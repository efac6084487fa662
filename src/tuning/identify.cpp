#include "tuning/identify.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "tuning/neldermead.h"

namespace {

// A run shorter than this, or one that moved the motor less than this many counts, shows too
// little of the motor to fit it.
constexpr int kMinSamples = 20;
constexpr double kMinTravel = 20;
// A usable fit replays the run within this % of the step (root mean square) and pins gain and
// time constant down within this relative standard error.
constexpr double kMaxFitPct = 2.5;
constexpr double kMaxSpread = 0.10;
// The variance a whole-count encoder adds to every position, counts squared: the least the
// residuals can be trusted to.
constexpr double kQuantisationVariance = 1.0 / 12;

using TVector = std::vector<double>;
using TMatrix3 = std::array<std::array<double, 3>, 3>;

// What the fit compares: the measured travel, the samples to use, and how to drive the model.
struct TFitData {
  const TStepRecord& Record;
  TVector Travel;
  std::vector<bool> Use;  // a sample inside the deadband reports 0 and tells no position
  bool OpenLoop;          // every cycle's drive is known: drive the model with it
  double Fraction = 0.5;  // where within its encoder count the motor started
};

TMotorModel ModelAt(const TVector& x) { return {std::exp(x[0]), std::exp(x[1]), std::abs(x[2])}; }

// The model's travel at each sample, placed like the measured one: the encoder reports
// whole counts, so a count is measured on average half a count below the true position.
TVector ModelTravel(const TMotorModel& motor, const TFitData& data) {
  const TStepRecord& record = data.Record;
  const size_t n = record.Errors.size();
  TVector travel(n);
  if (data.OpenLoop) {
    const double period = record.Setup.Loop.Period;
    const double decay = std::exp(-period / motor.TimeConstant);
    TMotorState state{data.Fraction, 0};
    for (size_t k = 0; k < n; ++k) {
      travel[k] = state.Position - 0.5;
      AdvanceMotor(motor, state, record.Outputs[k], period, decay);
    }
    return travel;
  }
  TStepTestSetup setup = record.Setup;
  setup.Samples = static_cast<int>(n);
  setup.Start.PositionFraction = data.Fraction;
  TStepSimulation simulation(motor, setup);
  double error = 0, output = 0;
  for (size_t k = 0; k < n && simulation.Next(error, output); ++k) travel[k] = simulation.SampledTravel() - 0.5;
  return travel;
}

// Model minus measured travel at the samples used, less their mean (where within its count
// the motor started is not known), the mean held within half a count.
TVector Residuals(const TMotorModel& motor, const TFitData& data) {
  const TVector model = ModelTravel(motor, data);
  TVector residuals;
  for (size_t k = 0; k < model.size(); ++k)
    if (data.Use[k]) residuals.push_back(model[k] - data.Travel[k]);
  if (residuals.empty()) return residuals;
  const double mean = std::accumulate(residuals.begin(), residuals.end(), 0.0) / static_cast<double>(residuals.size());
  const double offset = std::clamp(mean, -0.5, 0.5);
  for (double& r : residuals) r -= offset;
  return residuals;
}

double SumOfSquares(const TVector& v) { return std::inner_product(v.begin(), v.end(), v.begin(), 0.0); }

double Cost(const TVector& x, const TFitData& data) { return SumOfSquares(Residuals(ModelAt(x), data)); }

// Solves a x = b for a symmetric 3 x 3 matrix by Gaussian elimination; false when singular.
bool Solve3(TMatrix3 a, std::array<double, 3> b, std::array<double, 3>& x) {
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

// Least squares fit of y to the three columns: returns the coefficients, false when the
// columns do not determine them.
bool LinearFit(const std::array<const TVector*, 3>& columns, const TVector& y, const std::vector<bool>& use,
               std::array<double, 3>& coefficients) {
  TMatrix3 normal{};
  std::array<double, 3> right{};
  for (size_t k = 0; k < y.size(); ++k) {
    if (!use[k]) continue;
    for (int i = 0; i < 3; ++i) {
      right[i] += (*columns[i])[k] * y[k];
      for (int j = 0; j < 3; ++j) normal[i][j] += (*columns[i])[k] * (*columns[j])[k];
    }
  }
  return Solve3(normal, right, coefficients);
}

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
  for (size_t k = 0; k < drive.size(); ++k) {
    for (int c = 0; c < cycles; ++c) {
      if (c == cycles - 1) travel[k] = state.Position;
      // Without friction the motor is linear; a zero-friction model never sticks.
      AdvanceMotor(unit, state, drive[k], period, decay);
    }
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

struct TGuess {
  TVector Point;
  double Cost = INFINITY;
};

// A first guess for one time constant: gain and friction by linear least squares on the
// motor without stiction, driven by the sampled outputs held between samples.
TGuess GuessFor(double tau, const TFitData& data) {
  const TStepRecord& record = data.Record;
  const TVector response = UnitResponse(record.Outputs, tau, record);
  const TVector friction = UnitResponse(MotionDirection(data.Travel), tau, record);
  const TVector ones(response.size(), 1.0);
  std::array<double, 3> c{};
  if (!LinearFit({&response, &friction, &ones}, data.Travel, data.Use, c) || !(c[0] > 0)) return {};
  const double frictionPercent = std::max(0.0, -c[1] / c[0]);
  TGuess guess{{std::log(c[0]), std::log(tau), frictionPercent}};
  guess.Cost = Cost(guess.Point, data);
  return guess;
}

// Nelder-Mead from the guess, started again from its result until that gains no more: a
// simplex can stall on the small steps that whole encoder counts put into the cost.
TMinimum Refine(const TGuess& guess, const TFitData& data) {
  const auto cost = [&](const TVector& x) { return Cost(x, data); };
  const TVector steps = {0.2, 0.3, 0.3 + 0.3 * guess.Point[2]};
  TMinimum best = NelderMead(cost, guess.Point, steps, 1e-3, 600);
  for (int restart = 0; restart < 4; ++restart) {
    const TMinimum again = NelderMead(cost, best.Point, steps, 1e-3, 600);
    const bool better = again.Value < best.Value * (1 - 1e-3);
    if (!better) break;
    best = again;
  }
  return best;
}

// The loop model reacts to whole counts, so where within its count the motor started changes
// the replay: tries a few places and keeps the best, fitting the constants again there.
TMinimum RefineStart(TMinimum best, TFitData& data) {
  const double fitted = data.Fraction;
  double bestFraction = fitted;
  for (double fraction : {0.0, 0.25, 0.75}) {
    data.Fraction = fraction;
    const double value = Cost(best.Point, data);
    if (value < best.Value) best.Value = value, bestFraction = fraction;
  }
  data.Fraction = bestFraction;
  if (bestFraction == fitted) return best;
  const TMinimum again = Refine({best.Point, best.Value}, data);
  return again.Value < best.Value ? again : best;
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
  TMatrix3 normal{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) normal[i][j] = std::inner_product(jacobian[i].begin(), jacobian[i].end(), jacobian[j].begin(), 0.0);
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
  const double prediv = std::clamp(std::ceil(cycles) - 1, record.Setup.Prediv + 1.0, double(kMaxPrediv));
  return static_cast<int>(prediv);
}

TIdentification Refused(TIdentification result, std::string problem, std::string advice) {
  result.Usable = false;
  result.Problem = std::move(problem);
  result.Advice = std::move(advice);
  return result;
}

std::string Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Returns a refusal when the run cannot show the motor, before any fitting.
bool RunUnfit(const TStepRecord& record, const TVector& travel, TIdentification& refusal) {
  const TLoopSettings& loop = record.Setup.Loop;
  if (record.Errors.size() < static_cast<size_t>(kMinSamples) || record.Outputs.size() != record.Errors.size()) {
    refusal = Refused({}, "the run has only " + std::to_string(record.Errors.size()) + " samples",
                      "run a complete step test");
    return true;
  }
  const auto tripped = std::find_if(record.Errors.begin(), record.Errors.end(),
                                    [&](double e) { return loop.FaultError > 0 && std::abs(e) > loop.FaultError; });
  if (tripped != record.Errors.end()) {
    refusal = Refused({}, "the servo switched off: the error passed \"Fault Error (f):\" (" + Number(loop.FaultError, 0) + ")",
                      "try a smaller step, or a larger fault error");
    return true;
  }
  const double moved = std::accumulate(travel.begin(), travel.end(), 0.0, [](double m, double t) { return std::max(m, std::abs(t)); });
  if (moved < kMinTravel) {
    refusal = Refused({}, "the motor moved only " + Number(moved, 0) + " counts", "try a larger step");
    return true;
  }
  return false;
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

TIdentification IdentifyMotor(const TStepRecord& record) {
  TIdentification result;
  TFitData data{record, MeasuredTravel(record), {}, record.Setup.Prediv == 0};
  if (RunUnfit(record, data.Travel, result)) return result;
  data.Use.resize(record.Errors.size());
  for (size_t k = 0; k < data.Use.size(); ++k)
    data.Use[k] = record.Setup.Loop.Deadband <= 0 || record.Errors[k] != 0;
  // First guesses over time constants from a tenth of a sample period to twice the run.
  const double runTime = static_cast<double>(record.Errors.size()) * SamplePeriod(record.Setup);
  std::vector<TGuess> guesses;
  for (double tau = record.Setup.Loop.Period / 2; tau < 2 * runTime; tau *= 1.6) guesses.push_back(GuessFor(tau, data));
  std::sort(guesses.begin(), guesses.end(), [](const TGuess& a, const TGuess& b) { return a.Cost < b.Cost; });
  TMinimum best;
  best.Value = INFINITY;
  for (size_t g = 0; g < std::min<size_t>(2, guesses.size()) && std::isfinite(guesses[g].Cost); ++g) {
    const TMinimum refined = Refine(guesses[g], data);
    if (refined.Value < best.Value) best = refined;
  }
  if (!std::isfinite(best.Value)) return Refused(result, "the run does not fit a motor", "try a larger step");
  if (!data.OpenLoop) best = RefineStart(best, data);
  result.Motor = ModelAt(best.Point);
  const double used = static_cast<double>(std::count(data.Use.begin(), data.Use.end(), true));
  result.FitRms = std::sqrt(best.Value / used);
  result.FitRmsPct = 100 * result.FitRms / std::abs(record.Setup.Step);
  const auto [gainSpread, tauSpread] = Spreads(best.Point, data, best.Value);
  result.GainSpread = gainSpread;
  result.TimeConstantSpread = tauSpread;
  if (result.FitRmsPct > kMaxFitPct)
    return Refused(result, "the model replays the run only within " + Number(result.FitRms, 1) + " counts (" + Number(result.FitRmsPct, 1) + " % of the step)",
                   "try a larger step, or a prediv that covers the settling");
  const double tau = result.Motor.TimeConstant;
  if (tauSpread > kMaxSpread && runTime < 3 * tau)
    return Refused(result, "the run is too short to show the motor's time constant",
                   "try --prediv " + std::to_string(PredivCovering(tau, record)));
  if (tauSpread > kMaxSpread && tau < 2 * SamplePeriod(record.Setup))
    return Refused(result, "the motor is faster than the samples", "try a smaller prediv");
  if (gainSpread > kMaxSpread || tauSpread > kMaxSpread)
    return Refused(result, "the run leaves the motor's constants uncertain", "try a larger step");
  result.Usable = true;
  return result;
}
