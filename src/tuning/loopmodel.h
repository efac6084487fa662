#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "globals/records.h"
#include "tuning/motormodel.h"

// The board's servo loop as it runs, cycle by cycle, on a model of the motor: the encoder in
// whole counts, the deadband, the derivative per second of the servo period, the integral as
// a plain sum of errors per cycle (what the status reports as error_i) that stops growing
// while the output is held at the limit, the output limit, feed-forward of the command
// position and velocity, and the following-error trip.

// The gains and settings one cycle uses, taken from the board's parameters.
struct TLoopSettings {
  double P = 0;
  double I = 0;
  double D = 0;
  double Deadband = 0;
  double MaxOutput = 100;  // % of full PWM, as the board limits it: 0 to 100
  double FF0 = 0;
  double FF1 = 0;
  double FaultError = 0;   // 0: no trip
  double Period = 4e-4;    // servo cycle, s: ticks per servo cycle x 100 us
};

// Returns the settings the board runs with when it holds params (limits applied as the board
// applies them: output limit 0 to 100 %, 1 to 100 ticks per cycle).
TLoopSettings LoopSettings(const TPIDParams& params);

// The loop's state between cycles.
struct TLoopState {
  double ErrorI = 0;         // sum of errors, as the status reports it
  double PreviousError = 0;  // after the deadband
  double PreviousCommand = 0;
  bool Enabled = true;
};

// One cycle of the loop: returns the drive for the cycle (% of full PWM; 0 once tripped) and
// sets error to the error after the deadband, as the board reports it.
double LoopCycle(const TLoopSettings& settings, TLoopState& state, double command,
                 double feedback, double& error);

// Where a step test starts: the loop's state before the step, and the motor, at rest unless
// Velocity says otherwise (a step back taken while the step still moves the motor).
struct TStepStart {
  double Command = 0;         // the command before the step (feed-forward of position sees it)
  double Error = 0;           // command minus feedback before the step
  double ErrorI = 0;          // the integral before the step
  double PositionFraction = 0.5;  // where within its encoder count the motor stands
  double Velocity = 0;        // the motor's speed, counts per second
  double PlaySide = 0;        // where the motor stands within the play around the encoder, -1 to 1
};

// Returns the drive the loop applies in its state before a step: P x error + I x integral +
// FF0 x command, limited (the error has not changed, so D adds nothing).
double RestDrive(const TLoopSettings& settings, const TStepStart& start);

// A step test as the board runs it: the command moves by Step counts (the step times the step
// multiplier), then every Prediv + 1 cycles one sample of the last cycle's error and output.
struct TStepTestSetup {
  TLoopSettings Loop;
  double Step = 0;
  int Prediv = 0;
  int Samples = kStepTestSamples;
  TStepStart Start;
};

// Returns the time between two samples in seconds.
inline double SamplePeriod(const TStepTestSetup& setup) { return (setup.Prediv + 1) * setup.Loop.Period; }

// Runs a step test on a motor model and hands out its samples one at a time, so that a caller
// scoring the response can stop as soon as it has seen enough.
class TStepSimulation {
 public:
  TStepSimulation(const TMotorModel& motor, const TStepTestSetup& setup);

  // Runs the cycles up to the next sample; returns false when all samples have been given.
  bool Next(double& error, double& output);

  // As Next, but the motor gets sampledDrive in the sampled cycle instead of the loop's
  // output: a replay of a run where every cycle was sampled knows what the board applied.
  bool NextDrivenBy(double sampledDrive, double& error, double& output);

  // As Next, but the motor gets drives[0 .. prediv] in the cycles up to the sample instead of
  // the loop's outputs.
  bool NextDrivenByCycles(const double* drives, double& error, double& output);

  // Moves the command by another step from where the run left the loop and the motor, and
  // gives the samples of that run from the start (a step back, say).
  void StepAgain(double step);

  // Returns the error of the last sample as a counter of fractions of a count would read it
  // (half a count above where the motor stood, as the whole-count reading lies on average).
  double UnroundedError() const { return FCommand - FSampledPosition + 0.5; }

  // Returns where the encoder's side of the motor stood when the encoder was read for the last
  // sample, not rounded, relative to the encoder count it started in.
  double SampledTravel() const { return FSampledPosition - FStartCount; }

 private:
  bool Advance(const double* drives, bool everyCycle, double& error, double& output);

  TMotorCycle FCycle;
  TStepTestSetup FSetup;
  TLoopState FLoop;
  TMotorState FMotor;
  std::vector<double> FDelayed;  // drives on their way to the motor, a ring
  size_t FNextDelayed = 0;
  double FCommand = 0;
  double FStartCount = 0;
  double FSampledPosition = 0;
  int FGiven = 0;
};

// The samples of a step test, index-parallel, as the board answers them.
struct TStepSamples {
  std::vector<double> Errors;
  std::vector<double> Outputs;
};

// Runs a whole step test on a motor model.
TStepSamples SimulateStepTest(const TMotorModel& motor, const TStepTestSetup& setup);
