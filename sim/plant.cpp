#include "sim/plant.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>

#include "sim/numbers.h"

namespace zirvsim {

namespace {

// One key of the motor text: its field (a double, or a whole number), and the values a motor
// can have. Beyond them the motion leaves the range of the encoder's counter or the model.
struct TMotorKey {
  const char* Name;
  double TMotorConstants::*Field;  // null: a whole number in WholeField
  double Min;
  double Max;
  bool AboveMin;  // the value must be above Min, not equal to it
  int TMotorConstants::*WholeField = nullptr;
};

constexpr TMotorKey kMotorKeys[] = {
    {"gain", &TMotorConstants::CountsPerSecondPerPercent, 0, 1e7, true},
    {"tau", &TMotorConstants::TimeConstant, 1e-5, 100, false},
    {"friction", &TMotorConstants::FrictionPercent, 0, 100, false},
    {"noise", &TMotorConstants::NoisePercent, 0, 100, false},
    {"lag", &TMotorConstants::DriveLag, 0, 10, false},
    {"delay", nullptr, 0, 1000, false, &TMotorConstants::DelayCycles},
    {"play", &TMotorConstants::PlayCounts, 0, 1e6, false},
    {"encnoise", &TMotorConstants::EncoderNoiseCounts, 0, 1e6, false},
    {"breakaway", &TMotorConstants::BreakawayPercent, 0, 100, false},
    {"stribeck", &TMotorConstants::StribeckSpeed, 0, 1e9, false},
    {"resonance", &TMotorConstants::ResonanceHz, 0, 2000, false},
    {"damping", &TMotorConstants::ResonanceDamping, 0, 10, false},
    {"ratio", &TMotorConstants::InertiaRatio, 0, 1000, true},
    {"onload", nullptr, 0, 1, false, &TMotorConstants::SensorOnLoad},
    {"load", &TMotorConstants::LoadPercent, -100, 100, false},
    {"gravity", &TMotorConstants::GravityPercent, 0, 100, false},
    {"angle", &TMotorConstants::AngleDegrees, -360, 360, false},
    {"spring", &TMotorConstants::SpringPercent, 0, 100, false},
    {"wall", &TMotorConstants::WallCounts, -1e9, 1e9, false},
    {"inertia", &TMotorConstants::InertiaSwing, 0, 100, false},
    {"current", &TMotorConstants::CurrentLimitPercent, 0, 100, true},
    {"cogging", &TMotorConstants::CoggingPercent, 0, 100, false},
    {"cogs", nullptr, 1, 1000, false, &TMotorConstants::CoggingPeriods},
    {"warm", &TMotorConstants::WarmSeconds, 0, 1e5, false},
    {"warmgain", &TMotorConstants::WarmGain, -0.9, 10, false},
    {"warmfriction", &TMotorConstants::WarmFriction, -1, 10, false},
    {"cpr", &TMotorConstants::CountsPerRevolution, 1, 1e7, false},
    {"glitch", &TMotorConstants::GlitchesPerSecond, 0, 1000, false},
};

bool InRange(const TMotorKey& key, double value) {
  return (key.AboveMin ? value > key.Min : value >= key.Min) && value <= key.Max;
}

// Readings beyond this many counts would leave the 64-bit counter; no motor within the limits
// of its constants gets near in any run.
constexpr double kCounterLimit = 9e15;

}  // namespace

std::optional<TMotorConstants> ParseMotorConstants(const std::string& text) {
  TMotorConstants motor;
  bool seen[std::size(kMotorKeys)] = {};
  std::istringstream items(text + ",");  // the final comma makes an empty last item visible
  std::string item;
  while (std::getline(items, item, ',')) {
    const size_t equals = item.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string name = item.substr(0, equals);
    const auto key = std::find_if(std::begin(kMotorKeys), std::end(kMotorKeys),
                                  [&](const TMotorKey& k) { return name == k.Name; });
    const size_t index = static_cast<size_t>(key - std::begin(kMotorKeys));
    if (key == std::end(kMotorKeys) || seen[index]) return std::nullopt;
    const std::optional<double> value = ParseNumber(item.substr(equals + 1));
    if (!value || !InRange(*key, *value)) return std::nullopt;
    if (key->Field) {
      motor.*key->Field = *value;
    } else {
      if (*value != std::floor(*value)) return std::nullopt;
      motor.*key->WholeField = static_cast<int>(*value);
    }
    seen[index] = true;
  }
  if (motor.BreakawayPercent > 0 && motor.BreakawayPercent < motor.FrictionPercent) return std::nullopt;
  return motor;
}

namespace {

// Whether the machine has a force that depends on where the motor stands, a current limit or an
// inertia that changes: none of them has a closed-form motion.
bool HasPositionForces(const TMotorConstants& c) {
  return c.LoadPercent != 0 || c.GravityPercent > 0 || c.SpringPercent > 0 || c.InertiaSwing > 0 ||
         c.CurrentLimitPercent > 0 || c.CoggingPercent > 0;
}

}  // namespace

TMotorPlant::TMotorPlant(uint64_t seed, const TMotorConstants& constants)
    : FConstants(constants),
      FNumeric(constants.DriveLag > 0 || constants.StribeckSpeed > 0 || constants.ResonanceHz > 0 ||
               HasPositionForces(constants)),
      FDelayed(static_cast<size_t>(std::max(constants.DelayCycles, 0)), 0.0) {
  Reseed(seed);
}

// xorshift needs a non-zero state; the encoder's noise and its glitches have sequences of their
// own, so that switching one on leaves the others as they were.
void TMotorPlant::Reseed(uint64_t seed) {
  FRandom = seed ? seed : 0x9E3779B97F4A7C15ull;
  FEncoderRandom = FRandom ^ 0xD1B54A32D192ED03ull;
  if (!FEncoderRandom) FEncoderRandom = 0x9E3779B97F4A7C15ull;
  FGlitchRandom = FRandom ^ 0x94D049BB133111EBull;
  if (!FGlitchRandom) FGlitchRandom = 0x9E3779B97F4A7C15ull;
}

namespace {

// xorshift64*: cheap, and identical on every platform for a given seed. Returns -1 to 1.
double NextUniform(uint64_t& state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  const uint64_t bits = (state * 0x2545F4914F6CDD1Dull) >> 11;
  return (static_cast<double>(bits) / static_cast<double>(1ull << 53)) * 2 - 1;
}

// Radians per count of the reference encoder.
constexpr double kRadiansPerCount = 2 * M_PI / kReferenceCounts;

}  // namespace

double TMotorPlant::NextNoise() { return NextUniform(FRandom); }

double TMotorPlant::NextEncoderNoise() { return NextUniform(FEncoderRandom); }

// The motor as warm as it is by now: gain and friction move from their cold values towards
// the warm ones exponentially.
TMotorConstants TMotorPlant::Warmed() const {
  TMotorConstants c = FConstants;
  const double warmth = 1 - std::exp(-FTime / c.WarmSeconds);
  c.CountsPerSecondPerPercent *= 1 + c.WarmGain * warmth;
  c.FrictionPercent *= 1 + c.WarmFriction * warmth;
  c.BreakawayPercent *= 1 + c.WarmFriction * warmth;
  return c;
}

void TMotorPlant::Step(double drivePercent, double dt) {
  if (!FDelayed.empty()) {
    FDelayed.push_back(drivePercent);
    drivePercent = FDelayed.front();
    FDelayed.pop_front();
  }
  TMotorConstants warmed;
  const TMotorConstants* c = &FConstants;
  if (FConstants.WarmSeconds > 0) c = &(warmed = Warmed());
  if (FNumeric) StepNumeric(*c, drivePercent, dt);
  else StepExact(*c, drivePercent, dt);
  FTime += dt;
  FollowEncoder();
  if (FConstants.EncoderNoiseCounts > 0)
    FEncoderOffset = std::llround(FConstants.EncoderNoiseCounts * NextEncoderNoise());
  if (FConstants.GlitchesPerSecond > 0) Glitch(dt);
}

// A glitch lasts one reading: with the glitch rate's chance per cycle the count jumps by 1 or
// 2, either way, and is back the cycle after (never another glitch straight after one).
void TMotorPlant::Glitch(double dt) {
  if (FGlitch != 0) {
    FGlitch = 0;
    return;
  }
  if ((NextUniform(FGlitchRandom) + 1) / 2 >= FConstants.GlitchesPerSecond * dt) return;
  const double size = NextUniform(FGlitchRandom);
  FGlitch = (size < 0 ? -1 : 1) * (std::abs(size) > 0.5 ? 2 : 1);
}

void TMotorPlant::StepExact(const TMotorConstants& c, double drivePercent, double dt) {
  const double disturbed = drivePercent + c.NoisePercent * NextNoise();
  const double friction = c.FrictionPercent;
  const double breakaway = std::max(friction, c.BreakawayPercent);
  const double tau = c.TimeConstant;
  // At most two legs: slowing to a stop, then held by friction or starting the other way.
  for (int leg = 0; leg < 2 && dt > 0; ++leg) {
    // Stiction: a motor at rest stays at rest until the drive overcomes the friction.
    if (FVelocity == 0 && std::abs(disturbed) <= breakaway) return;
    const double direction = FVelocity != 0 ? (FVelocity > 0 ? 1.0 : -1.0) : (disturbed > 0 ? 1.0 : -1.0);
    // While the motor keeps its direction its speed approaches, exponentially with the time
    // constant, the speed where back-EMF balances the drive less the friction.
    const double target = c.CountsPerSecondPerPercent * (disturbed - friction * direction);
    // Friction stops the motor rather than reversing it: find when the speed reaches zero.
    const double stop = target * direction < 0 ? tau * std::log((FVelocity - target) / -target) : INFINITY;
    const double span = std::min(stop, dt);
    const double decay = std::exp(-span / tau);
    FPosition += target * span + (FVelocity - target) * tau * (1 - decay);
    FVelocity = span < dt ? 0 : target + (FVelocity - target) * decay;
    dt -= span;
  }
}

namespace {

// The motion's state in the numeric model, and its rate of change.
struct TMotion {
  double Position, Velocity, LoadVelocity, Twist, LaggedDrive;
};

TMotion operator+(const TMotion& a, const TMotion& b) {
  return {a.Position + b.Position, a.Velocity + b.Velocity, a.LoadVelocity + b.LoadVelocity, a.Twist + b.Twist,
          a.LaggedDrive + b.LaggedDrive};
}

TMotion operator*(double k, const TMotion& a) {
  return {k * a.Position, k * a.Velocity, k * a.LoadVelocity, k * a.Twist, k * a.LaggedDrive};
}

// The forces that depend on where the motor stands, the current limit and the inertia that
// changes with position; all in the units of the drive (% of full PWM).
struct TMachine {
  const TMotorConstants* C;
  bool Any;  // any of them at all

  // The forces of load, arm, spring and cogging at x, positive towards negative positions.
  double Load(double x) const {
    double load = C->LoadPercent;
    if (C->GravityPercent > 0) load += C->GravityPercent * std::sin(Angle(x));
    const double pressed = C->WallCounts >= 0 ? std::max(0.0, x - C->WallCounts) : std::min(0.0, x - C->WallCounts);
    if (C->SpringPercent > 0) load += C->SpringPercent * pressed;
    if (C->CoggingPercent > 0) load += C->CoggingPercent * std::sin(C->CoggingPeriods * kRadiansPerCount * x);
    return load;
  }

  // The arm's angle from hanging down at x.
  double Angle(double x) const { return C->AngleDegrees * M_PI / 180 + kRadiansPerCount * x; }

  // The inertia over the motor's at x, and its change per count.
  double Inertia(double x, double& slope) const {
    const double swing = C->InertiaSwing / 2;
    slope = swing * std::sin(Angle(x)) * kRadiansPerCount;
    return 1 + swing * (1 - std::cos(Angle(x)));
  }

  // The drive the motor's torque follows at speed v (counts/s) with a motor of this gain: the
  // drive itself, or, where the current limit holds it, the back-EMF's drive give or take the
  // limit.
  double Limited(double drive, double v, double gain) const {
    if (!(C->CurrentLimitPercent > 0)) return drive;
    const double emf = v / gain;
    return emf + std::clamp(drive - emf, -C->CurrentLimitPercent, C->CurrentLimitPercent);
  }

  // How stiff the forces are at most, as the motor's acceleration per count of motion per
  // (gain / time constant).
  double Stiffness() const {
    return C->SpringPercent + C->GravityPercent * kRadiansPerCount +
           C->CoggingPercent * C->CoggingPeriods * kRadiansPerCount;
  }
};

// The motor with a lag on its drive and a second mass on a spring. The time constant is that
// of the whole machine, motor and second mass together, so that the slow response is the one
// the plain model gives; the motor alone is (1 + ratio) times quicker. The spring is scaled so
// that the two masses swing against each other at the resonance frequency.
struct TNumericModel {
  double Gain, MotorTau, Lag, Ratio, Spring, Damping;
  double Drive;     // the drive (disturbed) the lag approaches
  double Friction;  // signed, % of drive, held over one small step
  bool Stuck;       // the motor is held by stiction for this small step
  TMachine Machine;

  // The spring's pull on the motor, as acceleration.
  double SpringPull(const TMotion& m) const { return Spring * m.Twist + Damping * (m.Velocity - m.LoadVelocity); }

  // The motor's acceleration.
  double Acceleration(const TMotion& m, double pull) const {
    if (!Machine.Any) return (Gain * (m.LaggedDrive - Friction) - m.Velocity) / MotorTau - pull;
    double slope = 0;
    const double inertia = Machine.Inertia(m.Position, slope);
    const double drive = Machine.Limited(m.LaggedDrive, m.Velocity, Gain);
    const double torque = (Gain * (drive - Friction - Machine.Load(m.Position)) - m.Velocity) / MotorTau - pull;
    // An inertia that grows along the motion takes the energy it stores from the speed.
    return (torque - slope / 2 * m.Velocity * m.Velocity) / inertia;
  }

  // The drive the motor feels at rest: its own less what the spring and the loads pull back.
  double FeltAtRest(const TMotion& m) const {
    const double felt = Machine.Limited(m.LaggedDrive, 0, Gain) - SpringPull(m) * MotorTau / Gain;
    return Machine.Any ? felt - Machine.Load(m.Position) : felt;
  }

  TMotion Rate(const TMotion& m) const {
    const double pull = SpringPull(m);
    TMotion d{};
    d.Position = m.Velocity;
    d.Velocity = Stuck ? 0 : Acceleration(m, pull);
    d.LoadVelocity = Ratio > 0 ? pull / Ratio : 0;
    d.Twist = m.Velocity - m.LoadVelocity;
    d.LaggedDrive = Lag > 0 ? (Drive - m.LaggedDrive) / Lag : 0;
    return d;
  }
};

}  // namespace

// Runge-Kutta steps small against the motor's time constant, the lag, the resonance and the
// stiffest of the forces, with the friction held over each: Coulomb friction (Stribeck: rising
// towards the breakaway as the motor slows) against the motion, and stiction at rest. A motor
// that passes through rest within a step is stopped there, and the step goes on from rest for
// the rest of its span: held by stiction, or driven the other way against friction the other
// way. A drive that reverses the motor (a loop ringing under a large P) keeps its pull; a step
// that only stopped the motor at its end would lose the speed gained past the reversal.
void TMotorPlant::StepNumeric(const TMotorConstants& c, double drivePercent, double dt) {
  const double ratio = c.ResonanceHz > 0 ? c.InertiaRatio : 0;
  const double omega = 2 * M_PI * c.ResonanceHz;
  const double share = ratio / (1 + ratio);
  TNumericModel model{c.CountsPerSecondPerPercent, c.TimeConstant / (1 + ratio), c.DriveLag, ratio,
                      omega * omega * share, 2 * c.ResonanceDamping * omega * share, 0, 0, false,
                      {&c, HasPositionForces(c)}};
  model.Drive = drivePercent + c.NoisePercent * NextNoise();
  double h = std::min(dt, model.MotorTau / 10);
  if (c.DriveLag > 0) h = std::min(h, c.DriveLag / 10);
  if (omega > 0) h = std::min(h, 1 / (20 * omega));
  if (const double stiff = model.Machine.Stiffness() * model.Gain / model.MotorTau; stiff > 0)
    h = std::min(h, 1 / (20 * std::sqrt(stiff)));
  const int steps = std::clamp(static_cast<int>(std::ceil(dt / h - 1e-9)), 1, 4000);
  h = dt / steps;
  const double breakaway = std::max(c.FrictionPercent, c.BreakawayPercent);
  // One Runge-Kutta step of span from m, with the friction of m's motion (or of rest) held over
  // it; returns whether friction, not stiction, acted and in which direction.
  const auto advance = [&](TMotion& m, double span, double& direction) {
    direction = m.Velocity > 0 ? 1.0 : (m.Velocity < 0 ? -1.0 : 0.0);
    model.Stuck = false;
    if (direction == 0) {
      const double felt = model.FeltAtRest(m);
      model.Stuck = breakaway > 0 && std::abs(felt) <= breakaway;
      direction = felt >= 0 ? 1.0 : -1.0;
    }
    double friction = c.FrictionPercent;
    if (c.StribeckSpeed > 0 && breakaway > friction)
      friction += (breakaway - friction) * std::exp(-std::abs(m.Velocity) / c.StribeckSpeed);
    else if (m.Velocity == 0)
      friction = breakaway;
    model.Friction = direction * friction;
    const TMotion k1 = model.Rate(m);
    const TMotion k2 = model.Rate(m + (span / 2) * k1);
    const TMotion k3 = model.Rate(m + (span / 2) * k2);
    const TMotion k4 = model.Rate(m + span * k3);
    m = m + (span / 6) * (k1 + 2 * k2 + 2 * k3 + k4);
    return !model.Stuck && friction > 0;
  };
  TMotion m{FPosition, FVelocity, FLoadVelocity, FTwist, c.DriveLag > 0 ? FLaggedDrive : model.Drive};
  for (int n = 0; n < steps; ++n) {
    const TMotion from = m;
    double direction = 0;
    if (!advance(m, h, direction) || m.Velocity * direction >= 0) continue;
    // Passed through rest: where, within the step, from the speed's fall over it.
    const double reached = from.Velocity == 0 ? 0 : std::clamp(from.Velocity / (from.Velocity - m.Velocity), 0.0, 1.0);
    m = from;
    if (reached > 0) advance(m, h * reached, direction);
    m.Velocity = 0;
    if (reached < 1 && advance(m, h * (1 - reached), direction) && m.Velocity * direction < 0) m.Velocity = 0;
  }
  FPosition = m.Position;
  FVelocity = m.Velocity;
  FLoadVelocity = m.LoadVelocity;
  FTwist = m.Twist;
  FLaggedDrive = m.LaggedDrive;
}

// The encoder's side of the play stays where it is until the motor (or the second mass it
// reads) has crossed the play; then it is dragged along at the play's edge.
void TMotorPlant::FollowEncoder() {
  const double sensed = FConstants.SensorOnLoad ? LoadPosition() : FPosition;
  const double half = FConstants.PlayCounts / 2;
  if (half <= 0) {
    FEncoderSide = sensed;
    return;
  }
  if (sensed - FEncoderSide > half) FEncoderSide = sensed - half;
  else if (FEncoderSide - sensed > half) FEncoderSide = sensed + half;
}

int64_t TMotorPlant::EncoderCounts() const {
  const double counts = FEncoderSide * (FConstants.CountsPerRevolution / kReferenceCounts);
  if (!std::isfinite(counts)) return 0;
  return static_cast<int64_t>(std::floor(std::clamp(counts, -kCounterLimit, kCounterLimit))) + FEncoderOffset + FGlitch;
}

void TServoLoop::Enable() {
  FState.Enabled = true;
  FState.ErrorI = 0;
  FFirstCycle = true;
}

double TServoLoop::Cycle(const TServoGains& gains, int64_t command, int64_t feedback, double period) {
  TServoState& s = FState;
  s.Command = command;
  s.Feedback = feedback;
  const double rawError = static_cast<double>(command - feedback);
  if (gains.FaultError > 0 && std::abs(rawError) > gains.FaultError) s.Enabled = false;
  s.Error = std::abs(rawError) <= gains.Deadband ? 0 : rawError;
  if (FFirstCycle) {
    FPreviousError = s.Error;
    FPreviousCommand = command;
    FFirstCycle = false;
  }
  s.ErrorD = (s.Error - FPreviousError) / period;
  const double commandVelocity = static_cast<double>(command - FPreviousCommand) / period;
  FPreviousError = s.Error;
  FPreviousCommand = command;
  if (!s.Enabled) {
    s.ErrorI = 0;
    s.Output = 0;
    s.LimitState = 0;
    return 0;
  }
  const double limit = std::clamp(gains.MaxOutput, 0.0, 100.0);
  const double withoutI = gains.P * s.Error + gains.D * s.ErrorD + gains.FeedForward0 * static_cast<double>(command) +
                          gains.FeedForward1 * commandVelocity;
  const double integrated = s.ErrorI + s.Error * (gains.IntegralPerSecond ? period : 1.0);
  const double raw = withoutI + gains.I * integrated;
  s.Output = std::clamp(raw, -limit, limit);
  s.LimitState = raw != s.Output ? 1 : 0;
  // Anti-windup: the integral only grows while the output is not held at the limit.
  if (!s.LimitState) s.ErrorI = integrated;
  return s.Output;
}

}  // namespace zirvsim
