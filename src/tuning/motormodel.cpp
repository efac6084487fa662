#include "tuning/motormodel.h"

#include <cmath>

namespace {

double Sign(double value) { return value > 0 ? 1.0 : (value < 0 ? -1.0 : 0.0); }

// Moves along v(t) = target + (v0 - target) e^(-t / tau) for t seconds, where decay is
// e^(-t / tau).
void Follow(TMotorState& state, double target, double t, double tau, double decay) {
  const double excess = state.Velocity - target;
  state.Position += target * t + excess * tau * (1 - decay);
  state.Velocity = target + excess * decay;
}

// The velocity the motor tends to while moving in direction (+1 or -1).
double TargetVelocity(const TMotorModel& motor, double drivePercent, double direction) {
  return motor.Gain * (drivePercent - motor.Friction * direction);
}

}  // namespace

void AdvanceMotor(const TMotorModel& motor, TMotorState& state, double drivePercent, double dt,
                  double decay) {
  const double tau = motor.TimeConstant;
  double left = dt;
  auto follow = [&](double target) {
    Follow(state, target, left, tau, left == dt ? decay : std::exp(-left / tau));
  };
  // At most two legs: slowing down to a stop, then held by friction or starting the other way.
  for (int leg = 0; leg < 2; ++leg) {
    if (state.Velocity == 0) {
      // At rest: friction holds the motor until the drive overcomes it.
      if (std::abs(drivePercent) <= motor.Friction) return;
      return follow(TargetVelocity(motor, drivePercent, Sign(drivePercent)));
    }
    const double direction = Sign(state.Velocity);
    const double target = TargetVelocity(motor, drivePercent, direction);
    // Speeding up or slowing towards a speed in the same direction: no stop within the step.
    if (Sign(target) == direction) return follow(target);
    // Slowing towards a reversed speed: friction stops the motor when its velocity reaches 0.
    const double toStop = tau * std::log((state.Velocity - target) / -target);
    if (!(toStop < left)) return follow(target);
    Follow(state, target, toStop, tau, std::exp(-toStop / tau));
    state.Velocity = 0;
    left -= toStop;
  }
}
