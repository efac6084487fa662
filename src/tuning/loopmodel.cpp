#include "tuning/loopmodel.h"

#include <algorithm>
#include <cmath>

TLoopSettings LoopSettings(const TPIDParams& params) {
  TLoopSettings s;
  s.P = params.P;
  s.I = params.I;
  s.D = params.D;
  s.Deadband = params.Deadband;
  s.MaxOutput = std::clamp(params.MaxOutput, 0.0, 100.0);
  s.FF0 = params.FF0;
  s.FF1 = params.FF1;
  s.FaultError = params.FaultError;
  s.Period = std::clamp(params.TicksPerServo, 1, 100) * 100e-6;
  return s;
}

double LoopCycle(const TLoopSettings& settings, TLoopState& state, double command, double feedback,
                 double& error) {
  const double raw = command - feedback;
  if (settings.FaultError > 0 && std::abs(raw) > settings.FaultError) state.Enabled = false;
  error = std::abs(raw) <= settings.Deadband ? 0 : raw;
  const double errorD = (error - state.PreviousError) / settings.Period;
  const double commandVelocity = (command - state.PreviousCommand) / settings.Period;
  state.PreviousError = error;
  state.PreviousCommand = command;
  if (!state.Enabled) {
    state.ErrorI = 0;
    return 0;
  }
  const double integrated = state.ErrorI + error;
  const double unlimited = settings.P * error + settings.D * errorD + settings.FF0 * command +
                           settings.FF1 * commandVelocity + settings.I * integrated;
  const double output = std::clamp(unlimited, -settings.MaxOutput, settings.MaxOutput);
  // The integral only grows while the output is not held at the limit.
  if (output == unlimited) state.ErrorI = integrated;
  return output;
}

double RestDrive(const TLoopSettings& settings, const TStepStart& start) {
  const double error = std::abs(start.Error) <= settings.Deadband ? 0 : start.Error;
  const double drive = settings.P * error + settings.I * start.ErrorI + settings.FF0 * start.Command;
  return std::clamp(drive, -settings.MaxOutput, settings.MaxOutput);
}

TStepSimulation::TStepSimulation(const TMotorModel& motor, const TStepTestSetup& setup)
    : FCycle(motor, setup.Loop.Period), FSetup(setup) {
  const TStepStart& start = setup.Start;
  FLoop.ErrorI = start.ErrorI;
  FLoop.PreviousError = std::abs(start.Error) <= setup.Loop.Deadband ? 0 : start.Error;
  FLoop.PreviousCommand = start.Command;
  FStartCount = start.Command - start.Error;
  FMotor.Encoder = FSampledPosition = FStartCount + start.PositionFraction;
  FMotor.Position = FMotor.Encoder + start.PlaySide * motor.Play / 2;
  FMotor.Velocity = start.Velocity;
  // Before the step the loop held its drive: the lag has caught up with it, and it fills the
  // cycles on their way to the motor.
  FMotor.Drive = RestDrive(setup.Loop, start);
  FDelayed.assign(static_cast<size_t>(std::max(motor.DelayCycles, 0)), FMotor.Drive);
  FCommand = start.Command + setup.Step;
}

void TStepSimulation::StepAgain(double step) {
  FCommand += step;
  FGiven = 0;
}

bool TStepSimulation::Next(double& error, double& output) { return Advance(nullptr, false, error, output); }

bool TStepSimulation::NextDrivenBy(double sampledDrive, double& error, double& output) {
  return Advance(&sampledDrive, false, error, output);
}

bool TStepSimulation::NextDrivenByCycles(const double* drives, double& error, double& output) {
  return Advance(drives, true, error, output);
}

bool TStepSimulation::Advance(const double* drives, bool everyCycle, double& error, double& output) {
  if (FGiven >= FSetup.Samples) return false;
  for (int cycle = 0; cycle <= FSetup.Prediv; ++cycle) {
    // The board's counter sees whole counts.
    FSampledPosition = FMotor.Encoder;
    output = LoopCycle(FSetup.Loop, FLoop, FCommand, std::floor(FMotor.Encoder), error);
    const bool sampled = cycle == FSetup.Prediv;
    double drive = output;
    if (drives && everyCycle) drive = drives[cycle];
    else if (drives && sampled) drive = *drives;
    if (!FDelayed.empty()) {
      std::swap(drive, FDelayed[FNextDelayed]);
      FNextDelayed = (FNextDelayed + 1) % FDelayed.size();
    }
    FCycle.Advance(FMotor, drive);
  }
  ++FGiven;
  return true;
}

TStepSamples SimulateStepTest(const TMotorModel& motor, const TStepTestSetup& setup) {
  TStepSamples samples;
  samples.Errors.reserve(setup.Samples);
  samples.Outputs.reserve(setup.Samples);
  TStepSimulation simulation(motor, setup);
  double error = 0, output = 0;
  while (simulation.Next(error, output)) {
    samples.Errors.push_back(error);
    samples.Outputs.push_back(output);
  }
  return samples;
}
