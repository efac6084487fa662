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
  std::string Problem;  // why the fit is not usable; empty when it is
  std::string Advice;   // what to try instead
};

// Fits gain, time constant and Coulomb friction of the motor to step tests by least squares:
// the model, driven as the board drove the motor (by the measured outputs when every cycle
// was sampled, by the loop model otherwise), must reproduce the measured positions of every
// run. Refuses (Usable false, with the problem and advice) a run that hardly moved the motor,
// one where the servo switched off, runs the model does not replay within 2.5 % of the step
// (FitRms and FitRmsPct are those of the run replayed worst), and runs that leave gain or
// time constant uncertain by more than 10 %.
TIdentification IdentifyMotor(const std::vector<TStepRecord>& records);

// Fits the motor to one step test.
inline TIdentification IdentifyMotor(const TStepRecord& record) {
  return IdentifyMotor(std::vector<TStepRecord>{record});
}

// Returns the measured positions of a step test: the encoder's travel since the start, in
// counts, one per sample.
std::vector<double> MeasuredTravel(const TStepRecord& record);
