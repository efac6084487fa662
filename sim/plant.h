#pragma once

#include <cstdint>
#include <deque>
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
  // What real machines add; each is absent at 0, and a motor without any of them moves
  // exactly as the plain model above.
  double DriveLag = 0;          // the drive reaches the motor through a first-order lag of this many s
  int DelayCycles = 0;          // the drive of a cycle reaches the motor this many servo cycles later
  double PlayCounts = 0;        // play between motor and encoder: the motor moves this far, end to
                                // end, without the encoder following
  double EncoderNoiseCounts = 0;  // the reading is off by a random whole number of counts up to this
  double BreakawayPercent = 0;  // Stribeck friction: the drive it takes to start a motor at rest
                                // (above FrictionPercent; 0: the Coulomb friction)
  double StribeckSpeed = 0;     // counts/s over which the breakaway friction falls to the Coulomb
                                // one while moving (0: the breakaway holds at rest only)
  double ResonanceHz = 0;       // a second mass on a spring: the frequency of their relative motion
  double ResonanceDamping = 0;  // its damping ratio
  double InertiaRatio = 1;      // the second mass's inertia over the motor's
  // Loads and a machine that changes as it moves or warms. Positions are counts of an encoder
  // of kReferenceCounts per revolution, whatever CountsPerRevolution says, so that one machine
  // stays one machine with another encoder.
  double LoadPercent = 0;       // a constant force towards negative positions (a vertical axis),
                                // as the drive % it takes to hold it
  double GravityPercent = 0;    // an arm: the drive % it takes to hold it level, falling with the
                                // sine of its angle from hanging straight down
  double AngleDegrees = 90;     // where in its revolution position 0 lies, from hanging down
  double SpringPercent = 0;     // a spring to a wall: drive % per count it is pressed in
  double WallCounts = 0;        // where the spring begins: beyond it, away from 0 (0: upwards)
  double InertiaSwing = 0;      // the inertia swings from the motor's (hanging down) to 1 + this
                                // times it (upright) over a revolution, as on a crank
  double CurrentLimitPercent = 0;  // the torque saturates at this % of drive's torque; 0: none
  double CoggingPercent = 0;    // a torque ripple of this peak, as % of drive
  int CoggingPeriods = 24;      // ... that repeats this many times per revolution
  double WarmSeconds = 0;       // warming up with this time constant from the start; 0: none
  double WarmGain = -0.2;       // the gain's relative change once warm
  double WarmFriction = -0.5;   // the friction's (and breakaway's) relative change once warm
  int SensorOnLoad = 0;         // 1: the encoder reads the second mass, beyond the spring
  double CountsPerRevolution = 4000;  // the encoder's counts per revolution
  double GlitchesPerSecond = 0;  // single-cycle jumps of the reading by 1 or 2 counts, on average
};

// Counts per revolution of the encoder that positions, speeds and the gain are given in.
inline constexpr double kReferenceCounts = 4000;

// Reads "gain=G,tau=T,friction=F,noise=N" and the keys of what real machines add ("lag=S,
// delay=CYCLES,play=COUNTS,encnoise=COUNTS,breakaway=PCT,stribeck=SPEED,resonance=HZ,
// damping=Z,ratio=R,onload=0|1,load=PCT,gravity=PCT,angle=DEG,spring=PCT,wall=COUNTS,
// inertia=R,current=PCT,cogging=PCT,cogs=N,warm=S,warmgain=G,warmfriction=F,cpr=N,
// glitch=RATE"): any of them, in any order, each at most once; keys left out keep their
// defaults. Each value must lie within what a motor can be (gain above 0 up to 10,000,000
// counts/s per %, tau from 10 us to 100 s, friction, noise and breakaway up to 100 %, delay a
// whole number up to 1000 cycles, ...), and breakaway, when given, at least the friction.
// Returns nothing on anything else.
std::optional<TMotorConstants> ParseMotorConstants(const std::string& text);

// A DC motor with inertia, back-EMF, Coulomb friction with stiction, a small seeded load
// disturbance and a quadrature encoder that reports whole counts; optionally with a drive lag,
// a delay of whole servo cycles, play before the encoder, encoder noise, Stribeck friction, a
// second mass on a spring (the encoder on either mass), a constant load, a gravity arm, a
// spring to a wall, an inertia that varies with position, a current limit, cogging, warming
// up, an encoder of fewer counts per revolution and glitches of the reading.
class TMotorPlant {
 public:
  // Creates the motor at rest at position 0; the seed fixes the disturbance sequence.
  explicit TMotorPlant(uint64_t seed = 1, const TMotorConstants& constants = {});

  // Advances the motor by dt seconds, one servo cycle, with the given drive in % of full PWM.
  void Step(double drivePercent, double dt);

  // Restarts the disturbance and encoder noise sequences from the given seed.
  void Reseed(uint64_t seed);

  // Returns the encoder reading: whole counts, as the board's counter sees them.
  int64_t EncoderCounts() const;

  // Returns the motor's position in counts, not rounded, and its speed in counts per second.
  double Position() const { return FPosition; }
  double Velocity() const { return FVelocity; }

  // Returns where the second mass stands (the motor's position where there is none).
  double LoadPosition() const { return FConstants.ResonanceHz > 0 ? FPosition - FTwist : FPosition; }

 private:
  double NextNoise();
  double NextEncoderNoise();
  void StepExact(const TMotorConstants& c, double drivePercent, double dt);
  void StepNumeric(const TMotorConstants& c, double drivePercent, double dt);
  void FollowEncoder();
  void Glitch(double dt);
  TMotorConstants Warmed() const;

  TMotorConstants FConstants;
  bool FNumeric = false;  // a lag, a Stribeck speed, a second mass or a force that depends on
                          // where the motor stands: integrated in small steps
  double FPosition = 0;
  double FVelocity = 0;
  double FLaggedDrive = 0;    // the drive after the lag
  double FLoadVelocity = 0;   // the second mass's speed
  double FTwist = 0;          // the spring's twist: motor position less the second mass's
  double FEncoderSide = 0;    // where the encoder's side of the play stands
  int64_t FEncoderOffset = 0; // the present reading's noise
  int64_t FGlitch = 0;        // the present reading's glitch
  double FTime = 0;           // seconds since the start, for warming up
  std::deque<double> FDelayed;  // drives on their way to the motor
  uint64_t FRandom;
  uint64_t FEncoderRandom;
  uint64_t FGlitchRandom;
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
  bool IntegralPerSecond = false;  // another firmware's law: the integral sums error x period
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
