#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zirvsim {

// Physical constants of the simulated DC motor with its encoder. Velocity is in encoder counts
// per second, drive in % of full PWM (-100..100).
struct TMotorConstants {
  double CountsPerSecondPerPercent = 2000;  // no-load speed per % of drive
  double TimeConstant = 0.015;              // mechanical time constant (inertia against back-EMF), s
  double FrictionPercent = 0.5;             // Coulomb friction, expressed as the drive % it eats
  double NoisePercent = 0.02;               // peak of a small random load disturbance
};

// Reads "gain=G,tau=T,friction=F[,noise=N]": any of the keys, in any order, each at most once;
// keys left out keep their defaults. Gain and time constant must be above 0, friction and
// noise not below 0. Returns nothing on anything else.
std::optional<TMotorConstants> ParseMotorConstants(const std::string& text);

// A DC motor with inertia, back-EMF, Coulomb friction with stiction, a small seeded load
// disturbance and a quadrature encoder that reports whole counts.
class TMotorPlant {
 public:
  // Creates the motor at rest at position 0; the seed fixes the disturbance sequence.
  explicit TMotorPlant(uint64_t seed = 1, const TMotorConstants& constants = {});

  // Advances the motor by dt seconds with the given drive in % of full PWM.
  void Step(double drivePercent, double dt);

  // Restarts the disturbance sequence from the given seed.
  void Reseed(uint64_t seed);

  // Returns the encoder reading: whole counts, as the board's counter sees them.
  int64_t EncoderCounts() const;

 private:
  double NextNoise();

  TMotorConstants FConstants;
  double FPosition = 0;
  double FVelocity = 0;
  uint64_t FRandom;
};

// The servo loop's settings as the board applies them each cycle.
struct TServoGains {
  double P = 0;
  double I = 0;
  double D = 0;
  double Deadband = 0;     // |error| up to this many counts counts as no error
  double MaxOutput = 100;  // output limit, % of full PWM
  double FeedForward0 = 0;          // feed-forward of the command position
  double FeedForward1 = 0;          // feed-forward of the command velocity (counts per second)
  double FaultError = 0;   // a following error beyond this disables the servo; 0 = no check
};

// One servo cycle's internal values, reported by the "s" command.
struct TServoState {
  int64_t Command = 0;
  int64_t Feedback = 0;
  double Error = 0;
  double ErrorI = 0;   // sum of the error over cycles
  double ErrorD = 0;   // error change per second
  double Output = 0;   // % of full PWM after limiting
  int LimitState = 0;  // 1 while the output is held at the limit
  bool Enabled = true;
};

// A PID position loop with deadband, output limit, feed-forward and following-error trip.
class TServoLoop {
 public:
  // Runs one cycle of period seconds with the given command and encoder feedback; returns the
  // drive in % of full PWM (0 while the servo is disabled).
  double Cycle(const TServoGains& gains, int64_t command, int64_t feedback, double period);

  // Enables the servo again after a trip and forgets the loop's history.
  void Enable();

  // Returns the state of the last cycle.
  const TServoState& State() const { return FState; }

 private:
  TServoState FState;
  double FPreviousError = 0;
  int64_t FPreviousCommand = 0;
  bool FFirstCycle = false;  // the loop starts at rest at 0, which matches the zero history
};

}  // namespace zirvsim
