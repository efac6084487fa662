#pragma once

// A DC motor seen from the board: drive in % of full PWM in, encoder counts out.

// The constants that describe the motor to the servo loop.
struct TMotorModel {
  double Gain = 0;          // no-load speed per % of drive, counts per second
  double TimeConstant = 0;  // mechanical time constant, s
  double Friction = 0;      // Coulomb friction, as the % of drive it takes to overcome it
};

// The motor's position (counts, not rounded) and velocity (counts per second).
struct TMotorState {
  double Position = 0;
  double Velocity = 0;
};

// Advances the motor by dt seconds with the drive held at drivePercent, solving its equation
// exactly: velocity approaches gain x (drive - friction in the direction of motion) with the
// time constant; a motor that comes to rest stays there while |drive| does not exceed the
// friction (stiction), and friction never reverses it. decay is exp(-dt / time constant),
// passed in because every cycle of a run shares it.
void AdvanceMotor(const TMotorModel& motor, TMotorState& state, double drivePercent, double dt,
                  double decay);
