#include "tuning/motormodel.h"

#include <cmath>
#include <limits>

namespace {

double Sign(double value) { return value > 0 ? 1.0 : (value < 0 ? -1.0 : 0.0); }

// The most steps of the search for a motor's stop within a cycle, and the share of the time
// searched within which it is found: far below a nanosecond of a cycle.
constexpr int kStopSearchSteps = 50;
constexpr double kStopTolerance = 1e-9;
// The share by which a ratio must pass a cycle's growth to be taken as a stop beyond the cycle.
constexpr double kStopRatioMargin = 1e-6;

}  // namespace

// The motion while the motor keeps its direction: with the drive u held and the lagged drive y
// approaching it as y(t) = u + (y0 - u) e^(-t/L), the velocity is
// v(t) = target + A e^(-t/T) + B e^(-t/L), target = gain (u - c), B = gain (y0 - u) L / (L - T),
// A = v0 - target - B; the position its integral.
struct TMotorCycle::TLeg {
  double Target, A, B, Tau, Lag, Drive0, U;

  double Velocity(double t) const { return Target + A * std::exp(-t / Tau) + (Lag > 0 ? B * std::exp(-t / Lag) : 0); }
};

TMotorCycle::TMotorCycle(const TMotorModel& motor, double dt)
    : FMotor(motor), FDt(dt), FDecay(std::exp(-dt / motor.TimeConstant)), FLagDecay(motor.Lag > 0 ? std::exp(-dt / motor.Lag) : 0) {
  // A lag equal to the time constant makes the solution's two terms one: kept a hair apart.
  if (FMotor.Lag > 0 && std::abs(FMotor.Lag - FMotor.TimeConstant) < 1e-6 * FMotor.TimeConstant) {
    FMotor.Lag = FMotor.TimeConstant * (1 + 1e-5);
    FLagDecay = std::exp(-dt / FMotor.Lag);
  }
  // exp(dt / time constant), with a margin far above the rounding of the logarithm it spares.
  const double growth = std::exp(dt / FMotor.TimeConstant);
  FStopRatioBeyond = std::isfinite(growth) ? growth * (1 + kStopRatioMargin) : INFINITY;
  if (FMotor.Lag > 0) {
    FExtremumRate = 1 / FMotor.Lag - 1 / FMotor.TimeConstant;
    FExtremumGrowth = std::exp(dt * FExtremumRate);
  }
}

TMotorCycle::TLeg TMotorCycle::LegFor(const TMotorState& state, double u, double c) const {
  TLeg leg{FMotor.Gain * (u - c), 0, 0, FMotor.TimeConstant, FMotor.Lag, state.Drive, u};
  if (leg.Lag > 0) leg.B = FMotor.Gain * (state.Drive - u) * leg.Lag / (leg.Lag - leg.Tau);
  leg.A = state.Velocity - leg.Target - leg.B;
  return leg;
}

// The time within `within` at which the motor moving in direction (+1 or -1) comes to a stop,
// or infinity. Without a lag the velocity is monotonic and the stop is found in closed form;
// with one it has at most one extremum, and the stop is searched for by halving.
double TMotorCycle::StopTime(const TLeg& leg, double within, double direction) const {
  // Most legs span a whole cycle and do not stop in it: the decays over a cycle are known, and a
  // ratio well beyond the cycle's growth needs no logarithm to say so.
  const bool wholeCycle = within == FDt;
  if (leg.Lag <= 0) {
    if (!(leg.Target * direction < 0)) return INFINITY;
    const double ratio = leg.A / -leg.Target;
    if (wholeCycle && ratio > FStopRatioBeyond) return INFINITY;
    const double t = leg.Tau * std::log(ratio);
    return t < within ? t : INFINITY;
  }
  double end = within;
  const double velocityAtEnd = wholeCycle ? leg.Target + leg.A * FDecay + leg.B * FLagDecay : leg.Velocity(end);
  if (velocityAtEnd * direction > 0) {
    // Still moving at the end: it may have dipped through 0 at the extremum in between.
    const double ratio = -(leg.B * leg.Tau) / (leg.A * leg.Lag);
    if (!(ratio > 0)) return INFINITY;
    if (wholeCycle && ExtremumBeyondCycle(ratio)) return INFINITY;
    const double extremum = std::log(ratio) / (1 / leg.Lag - 1 / leg.Tau);
    if (!(extremum > 0 && extremum < within) || leg.Velocity(extremum) * direction > 0) return INFINITY;
    end = extremum;
  }
  // Regula falsi with the Illinois step: the velocity is smooth and bracketed, and this finds the
  // stop in a few evaluations where halving took fifty.
  double low = 0, high = end;
  // At 0 both decays are exactly 1.
  double vLow = (leg.Target + leg.A + leg.B) * direction;
  double vHigh = (end == within ? velocityAtEnd : leg.Velocity(high)) * direction;
  int side = 0;
  for (int n = 0; n < kStopSearchSteps && high - low > kStopTolerance * end; ++n) {
    const double t = vLow - vHigh > 0 ? (low * -vHigh + high * vLow) / (vLow - vHigh) : (low + high) / 2;
    const double v = leg.Velocity(t) * direction;
    if (v > 0) {
      low = t, vLow = v;
      if (side == 1) vHigh /= 2;
      side = 1;
    } else {
      high = t, vHigh = v;
      if (side == -1) vLow /= 2;
      side = -1;
    }
  }
  return high;
}

// Whether the velocity's extremum, at log(ratio) / (1 / lag - 1 / time constant), lies surely
// outside the cycle (before its start or after its end), told without the logarithm.
bool TMotorCycle::ExtremumBeyondCycle(double ratio) const {
  if (FExtremumRate > 0) return ratio < 1 - kStopRatioMargin || ratio > FExtremumGrowth * (1 + kStopRatioMargin);
  return ratio > 1 + kStopRatioMargin || ratio < FExtremumGrowth * (1 - kStopRatioMargin);
}

void TMotorCycle::Advance(TMotorState& state, double drivePercent) const {
  Move(state, drivePercent);
  state.Encoder = FMotor.Play > 0 ? FollowPlay(state.Encoder, state.Position, FMotor.Play) : state.Position;
}

void TMotorCycle::Move(TMotorState& state, double u) const {
  const double friction = FMotor.Friction;
  const double load = FMotor.LoadAt(state.Position);
  const bool lagged = FMotor.Lag > 0;
  if (!lagged) state.Drive = u;
  // The lagged drive after t seconds.
  const auto lagFor = [&](double t) {
    if (lagged) state.Drive = u + (state.Drive - u) * (t == FDt ? FLagDecay : std::exp(-t / FMotor.Lag));
  };
  double left = FDt;
  // At most four legs: breaking away, slowing to a stop, held, starting the other way.
  for (int legs = 0; legs < 4 && left > 0; ++legs) {
    double direction = Sign(state.Velocity);
    if (direction == 0) {
      const double felt = state.Drive - load;
      if (std::abs(felt) <= friction) {
        // Held by stiction until the lagged drive, on its way to u, passes load and friction.
        if (!lagged || std::abs(u - load) <= friction) return lagFor(left);
        const double edge = load + (u > load ? friction : -friction);
        const double breakaway = FMotor.Lag * std::log((state.Drive - u) / (edge - u));
        if (!(breakaway < left)) return lagFor(left);
        lagFor(breakaway);
        state.Drive = edge;
        left -= breakaway;
        direction = u > load ? 1 : -1;
      } else {
        direction = Sign(felt);
      }
    }
    const TLeg leg = LegFor(state, u, load + friction * direction);
    const double span = std::min(StopTime(leg, left, direction), left);
    const double decay = span == FDt ? FDecay : std::exp(-span / leg.Tau);
    const double lagDecay = !lagged ? 0 : (span == FDt ? FLagDecay : std::exp(-span / leg.Lag));
    state.Position += leg.Target * span + leg.A * leg.Tau * (1 - decay) + leg.B * leg.Lag * (1 - lagDecay);
    state.Velocity = span < left ? 0 : leg.Target + leg.A * decay + leg.B * lagDecay;
    if (lagged) state.Drive = u + (state.Drive - u) * lagDecay;
    left -= span;
  }
}

double FollowPlay(double encoder, double position, double play) {
  const double half = play / 2;
  if (position - encoder > half) return position - half;
  if (encoder - position > half) return position + half;
  return encoder;
}
