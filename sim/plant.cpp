#include "sim/plant.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>

#include "sim/numbers.h"

namespace zirvsim {

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
  const double friction = FConstants.FrictionPercent;
  const double tau = FConstants.TimeConstant;
  // At most two legs: slowing to a stop, then held by friction or starting the other way.
  for (int leg = 0; leg < 2 && dt > 0; ++leg) {
    // Stiction: a motor at rest stays at rest until the drive overcomes the friction.
    if (FVelocity == 0 && std::abs(disturbed) <= friction) return;
    const double direction = FVelocity != 0 ? (FVelocity > 0 ? 1.0 : -1.0) : (disturbed > 0 ? 1.0 : -1.0);
    // While the motor keeps its direction its speed approaches, exponentially with the time
    // constant, the speed where back-EMF balances the drive less the friction.
    const double target = FConstants.CountsPerSecondPerPercent * (disturbed - friction * direction);
    // Friction stops the motor rather than reversing it: find when the speed reaches zero.
    const double stop = target * direction < 0 ? tau * std::log((FVelocity - target) / -target) : INFINITY;
    const double span = std::min(stop, dt);
    const double decay = std::exp(-span / tau);
    FPosition += target * span + (FVelocity - target) * tau * (1 - decay);
    FVelocity = span < dt ? 0 : target + (FVelocity - target) * decay;
    dt -= span;
  }
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
