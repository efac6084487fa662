#include "sim/plant.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>

#include "sim/numbers.h"

namespace zirvsim {

namespace {

// Integration substeps per servo cycle: keeps the explicit integration well inside its
// stability limit even at the shortest servo period.
constexpr int kSubsteps = 8;

}  // namespace

std::optional<TMotorConstants> ParseMotorConstants(const std::string& text) {
  struct TKey {
    const char* Name;
    double TMotorConstants::*Field;
    bool Positive;  // must be above 0; otherwise it must not be below 0
  };
  static constexpr TKey kKeys[] = {{"gain", &TMotorConstants::CountsPerSecondPerPercent, true},
                                   {"tau", &TMotorConstants::TimeConstant, true},
                                   {"friction", &TMotorConstants::FrictionPercent, false},
                                   {"noise", &TMotorConstants::NoisePercent, false}};
  TMotorConstants motor;
  bool seen[std::size(kKeys)] = {};
  std::istringstream items(text + ",");  // the final comma makes an empty last item visible
  std::string item;
  while (std::getline(items, item, ',')) {
    const size_t equals = item.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string name = item.substr(0, equals);
    const auto key = std::find_if(std::begin(kKeys), std::end(kKeys), [&](const TKey& k) { return name == k.Name; });
    const size_t index = static_cast<size_t>(key - std::begin(kKeys));
    if (key == std::end(kKeys) || seen[index]) return std::nullopt;
    const std::optional<double> value = ParseNumber(item.substr(equals + 1));
    if (!value || (key->Positive ? *value <= 0 : *value < 0)) return std::nullopt;
    motor.*key->Field = *value;
    seen[index] = true;
  }
  return motor;
}

TMotorPlant::TMotorPlant(uint64_t seed, const TMotorConstants& constants) : FConstants(constants) { Reseed(seed); }

// xorshift needs a non-zero state.
void TMotorPlant::Reseed(uint64_t seed) { FRandom = seed ? seed : 0x9E3779B97F4A7C15ull; }

double TMotorPlant::NextNoise() {
  // xorshift64*: cheap, and identical on every platform for a given seed.
  FRandom ^= FRandom >> 12;
  FRandom ^= FRandom << 25;
  FRandom ^= FRandom >> 27;
  const uint64_t bits = (FRandom * 0x2545F4914F6CDD1Dull) >> 11;
  return (static_cast<double>(bits) / static_cast<double>(1ull << 53)) * 2 - 1;
}

void TMotorPlant::Step(double drivePercent, double dt) {
  const double disturbed = drivePercent + FConstants.NoisePercent * NextNoise();
  for (int i = 0; i < kSubsteps; ++i) Substep(disturbed, dt / kSubsteps);
}

void TMotorPlant::Substep(double drivePercent, double dt) {
  const double k = FConstants.CountsPerSecondPerPercent;
  const double tau = FConstants.TimeConstant;
  const double friction = k * FConstants.FrictionPercent / tau;  // as an acceleration
  const double drive = (k * drivePercent - FVelocity) / tau;
  // Stiction: a motor at rest stays at rest until the drive overcomes the friction.
  if (FVelocity == 0 && std::abs(drive) <= friction) return;
  const double direction = FVelocity != 0 ? (FVelocity > 0 ? 1.0 : -1.0) : (drive > 0 ? 1.0 : -1.0);
  const double newVelocity = FVelocity + (drive - friction * direction) * dt;
  // Friction stops the motor rather than reversing it.
  const bool crossedZero = FVelocity != 0 && (newVelocity > 0) != (FVelocity > 0);
  FVelocity = crossedZero ? 0 : newVelocity;
  FPosition += FVelocity * dt;
}

int64_t TMotorPlant::EncoderCounts() const { return static_cast<int64_t>(std::floor(FPosition)); }

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
  const double integrated = s.ErrorI + s.Error;
  const double raw = withoutI + gains.I * integrated;
  s.Output = std::clamp(raw, -limit, limit);
  s.LimitState = raw != s.Output ? 1 : 0;
  // Anti-windup: the integral only grows while the output is not held at the limit.
  if (!s.LimitState) s.ErrorI = integrated;
  return s.Output;
}

}  // namespace zirvsim
