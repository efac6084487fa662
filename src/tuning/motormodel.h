#pragma once

#include <algorithm>
#include <cmath>
#include <optional>

// A DC motor seen from the board: drive in % of full PWM in, encoder counts out.

// The constants that describe the motor to the servo loop. Besides the motor itself (gain,
// time constant, Coulomb friction) what is common on real machines: the drive reaching the
// motor late (a lag of the amplifier or the winding, a delay of whole servo cycles), a load
// (constant, as on a vertical axis, or changing with position, as a spring or an arm), and
// play between motor and encoder. Each is absent at 0.
struct TMotorModel {
  double Gain = 0;          // no-load speed per % of drive, counts per second
  double TimeConstant = 0;  // mechanical time constant, s
  double Friction = 0;      // Coulomb friction, as the % of drive it takes to overcome it
  double Lag = 0;           // the drive reaches the motor through a first-order lag of this many s
  int DelayCycles = 0;      // ... and this many servo cycles late
  double Load = 0;          // a force towards negative positions, % of drive, at LoadOrigin
  double LoadSlope = 0;     // the load's change per count of position (a spring pressed in: > 0)
  double LoadOrigin = 0;    // the position (counts) where the load is Load
  double Play = 0;          // counts the motor moves, end to end, without the encoder following
  // Where the load's change with position begins (a spring to a wall): on LoadOrigin's side
  // the load is Load, beyond it changes by LoadSlope per count pressed in. None: it changes
  // everywhere.
  std::optional<double> LoadKnee = std::nullopt;

  // Returns how far x lies beyond where the load changes with position, from LoadOrigin where
  // it changes everywhere: signed, counts.
  double LoadTravel(double x) const {
    if (!LoadKnee) return x - LoadOrigin;
    return *LoadKnee >= LoadOrigin ? std::max(0.0, x - *LoadKnee) : std::min(0.0, x - *LoadKnee);
  }
  // Returns the load at position x, % of drive towards negative positions.
  double LoadAt(double x) const { return Load + LoadSlope * LoadTravel(x); }
  // Returns how much the load changes (in size) over a step of travel counts from LoadOrigin:
  // the spring a step presses in or lets go of.
  double LoadChangeOver(double travel) const { return LoadSlope * std::abs(LoadTravel(LoadOrigin + travel)); }
  // Returns whether the load at either end of a step of travel counts from where it is Load
  // pulls harder than friction holds: the motor carries a load.
  bool LoadBeyondFriction(double travel) const {
    return std::max(std::abs(Load), std::abs(LoadAt(LoadOrigin + travel))) > Friction;
  }
};

// The motor's state: its position (counts, not rounded), velocity (counts per second), the
// drive after the lag (the drive itself without one), and where the encoder's side of the play
// stands (the motor's position without play).
struct TMotorState {
  double Position = 0;
  double Velocity = 0;
  double Drive = 0;
  double Encoder = 0;
};

// The motor over one servo cycle of dt seconds with the drive held, solved exactly: velocity
// approaches gain x (drive after the lag - friction in the direction of motion - the load) with
// the time constant, the lagged drive approaches the drive with the lag; a motor that comes to
// rest stays there while the lagged drive less the load does not exceed the friction
// (stiction), and friction never reverses it. The load is taken where the motor stands at the
// start of the cycle. What every cycle of a run shares is worked out once.
class TMotorCycle {
 public:
  TMotorCycle(const TMotorModel& motor, double dt);

  // Advances the motor by one cycle with the given drive (before the lag and the delay: the
  // caller delays it).
  void Advance(TMotorState& state, double drivePercent) const;

  const TMotorModel& Motor() const { return FMotor; }

 private:
  // The motion over t seconds while the motor keeps direction (or is held at rest): where it
  // goes with the drive u, c the friction and load it works against.
  struct TLeg;
  TLeg LegFor(const TMotorState& state, double u, double c) const;
  double StopTime(const TLeg& leg, double within, double direction) const;
  bool ExtremumBeyondCycle(double ratio) const;
  void Move(TMotorState& state, double u) const;

  TMotorModel FMotor;
  double FDt;
  double FDecay;     // exp(-dt / time constant)
  double FLagDecay;  // exp(-dt / lag); 0 without a lag
  double FStopRatioBeyond = INFINITY;  // a ratio of a leg without lag above it stops after the cycle
  double FExtremumRate = 0;    // 1 / lag - 1 / time constant
  double FExtremumGrowth = 0;  // exp(dt x FExtremumRate)
};

// Returns where the encoder's side of the play stands once the motor is at position: it stays
// until the motor has crossed the play, then the motor drags it along at the play's edge.
double FollowPlay(double encoder, double position, double play);
