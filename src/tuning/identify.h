#pragma once

#include <string>
#include <vector>

#include "tuning/loopmodel.h"
#include "tuning/motormodel.h"

// One step test as the board ran it: how (loop settings, step in counts, prediv, start) and
// what it answered (error and output of each sample, index-parallel).
struct TStepRecord {
  TStepTestSetup Setup;
  std::vector<double> Errors;
  std::vector<double> Outputs;
};

// The motor found in a step test, how well the model replays the test, and whether it is good
// enough to choose gains on.
struct TIdentification {
  bool Usable = false;
  TMotorModel Motor;
  double FitRms = 0;     // root mean square of model minus measured position, counts
  double FitRmsPct = 0;  // the same as % of |step|
  // Relative standard errors of the fitted gain and time constant (0.05 = 5 %): how firmly
  // the run pins them down.
  double GainSpread = 0;
  double TimeConstantSpread = 0;
  double FrictionSpread = 0;  // the friction's standard error, % of drive (infinite: not shown)
  std::string Problem;  // why the fit is not usable; empty when it is
  std::string Advice;   // what to try instead
  // Each run's start as the fit found it: where within its count the motor stood, and the
  // speed it still had (a step back taken while the step moved it).
  std::vector<TStepStart> Starts;
};

// Fits the motor to step tests by least squares: gain, time constant, Coulomb friction, a lag and a
// delay of whole cycles of the drive, a load (constant and changing with position, from a knee on
// where that explains much more: a spring to a wall) and the speed each run starts with. The model,
// driven as the board drove the motor (by the measured outputs when every cycle was sampled, by the
// loop model otherwise), must reproduce the measured positions of every run. Refuses (Usable false,
// with the problem and advice) a run that hardly moved the motor, one where the servo switched off,
// runs the model does not replay within 2.5 % of the step (FitRms and FitRmsPct are those of the
// run replayed worst), runs that leave gain or time constant uncertain by more than 10 %, and a
// time constant ten times the run's length or more, which no run of that length shows.
// The records come in the order they were taken: a run that starts where the one before it
// left the command, while that one still moved, is fitted with the speed it started with.
TIdentification IdentifyMotor(const std::vector<TStepRecord>& records);

// Fits the motor to one step test.
inline TIdentification IdentifyMotor(const TStepRecord& record) {
  return IdentifyMotor(std::vector<TStepRecord>{record});
}

// Returns the error of every servo cycle of a step test (after the deadband): the recorded
// errors where every cycle was sampled; otherwise the step's error (the step and the error
// before it) in the first cycle, and from there straight from sample to sample.
std::vector<double> CycleErrors(const TStepRecord& record);

// Returns the measured positions of a step test: the encoder's travel since the start, in
// counts, one per sample.
std::vector<double> MeasuredTravel(const TStepRecord& record);
