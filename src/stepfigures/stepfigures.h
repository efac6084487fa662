#pragma once

#include <optional>
#include <span>

// The figures of one step-response run, on the position response y[k] = step - error[k] of
// samples k = 0, 1, ... A negative step is mirrored first, so that every figure reads the same
// way for both directions: the response rises towards |step|.
struct TStepFigures {
  // From the first crossing of 10 % of the step to the first crossing of 90 %, each placed by
  // linear interpolation between the samples around it; empty when 90 % is never reached.
  std::optional<double> RiseSamples;
  // (max y - step) / step x 100, or 0 when y never exceeds the step.
  double OvershootPct = 0;
  // The index of max y (the first one when several samples share it).
  int PeakSample = 0;
  // The first index from which |y - step| stays within 2 % of |step| to the end of the
  // record; empty when the last sample is still outside.
  std::optional<int> SettlingSamples;
  // The mean error over the last 10 % of the samples (at least one), mirrored with the step.
  double SteadyStateError = 0;
  // The sum of |error| over the run.
  double Iae = 0;
  // The largest |output| of the run.
  double PeakOutput = 0;
  // Whether some output reached the output limit ("Max Output (m):").
  bool Saturated = false;
  // How quietly the loop rests: the peak-to-peak of the output over the run's settled tail, in
  // % of the output limit (of 100 % when it is not known), and of the error, in counts. The
  // tail is the last quarter of the run when the run settled before it, else the samples from
  // settling on when there are at least kMinRestSamples; a run with a step of 0 (a rest
  // record) is all tail. Empty when there is no such tail: then a rest record has to tell.
  std::optional<double> RestOutputPpPct;
  std::optional<double> RestErrorPp;
};

// The fewest samples a settled tail needs to judge how the loop rests.
inline constexpr int kMinRestSamples = 20;

// The settling band: a fraction of |step|.
inline constexpr double kSettlingBand = 0.02;

// Returns the figures of a run whose command moved by step counts. errors and outputs are
// index-parallel; maxOutput is the board's output limit in %, when known. A run without
// samples gives the default figures. A run with a step of 0 is a rest record: it has the rest
// figures, IAE, peak output, saturation and steady-state error (the mean error of its last
// tenth), and none of the figures of a response.
TStepFigures ComputeStepFigures(std::span<const double> errors, std::span<const double> outputs,
                                double step, std::optional<double> maxOutput);

// The time figures of a run in milliseconds: a figure in samples times the sample period.
struct TStepTimes {
  std::optional<double> RiseMs;
  double PeakMs = 0;
  std::optional<double> SettlingMs;
};

// Returns the figures' times for a sample period in milliseconds.
TStepTimes StepTimes(const TStepFigures& figures, double samplePeriodMs);
