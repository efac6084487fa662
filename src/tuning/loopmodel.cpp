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

TStepSimulation::TStepSimulation(const TMotorModel& motor, const TStepTestSetup& setup)
    : FModel(motor), FSetup(setup) {
  const TStepStart& start = setup.Start;
  FLoop.ErrorI = start.ErrorI;
  FLoop.PreviousError = std::abs(start.Error) <= setup.Loop.Deadband ? 0 : start.Error;
  FLoop.PreviousCommand = start.Command;
  FStartCount = start.Command - start.Error;
  FMotor.Position = FSampledPosition = FStartCount + start.PositionFraction;
  FCommand = start.Command + setup.Step;
  FDecay = std::exp(-setup.Loop.Period / motor.TimeConstant);
}

bool TStepSimulation::Next(double& error, double& output) { return Advance(nullptr, error, output); }

bool TStepSimulation::NextDrivenBy(double sampledDrive, double& error, double& output) {
  return Advance(&sampledDrive, error, output);
}

bool TStepSimulation::Advance(const double* sampledDrive, double& error, double& output) {
  if (FGiven >= FSetup.Samples) return false;
  for (int cycle = 0; cycle <= FSetup.Prediv; ++cycle) {
    // The board's counter sees whole counts.
    FSampledPosition = FMotor.Position;
    output = LoopCycle(FSetup.Loop, FLoop, FCommand, std::floor(FMotor.Position), error);
    const bool sampled = cycle == FSetup.Prediv;
    AdvanceMotor(FModel, FMotor, sampled && sampledDrive ? *sampledDrive : output, FSetup.Loop.Period, FDecay);
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
