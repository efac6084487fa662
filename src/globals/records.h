#pragma once

#include <cstdint>

// The board's fourteen servo-loop parameters, plus the "servo enabled" state that comes
// with them in the "l" answer. Valid says the last "l" exchange parsed completely.
struct TPIDParams {
  bool Valid = false;
  int32_t Enabled = 0;
  double P = 0;
  double I = 0;
  double D = 0;
  double Deadband = 0;
  double MaxOutput = 0;
  double FF0 = 0;
  double FF1 = 0;
  double FaultError = 0;
  int32_t Multiplier = 0;
  int32_t TicksPerServo = 0;
  int32_t HallTimeout = 0;
  int32_t DoChargeElcos = 0;
  int32_t PhaseAdvance = 0;
  int32_t SVMCycle = 0;
};

// The samples of the board's step test ("r<prediv>c<step>ok1"): one error and one output each.
inline constexpr int kStepTestSamples = 199;

// The board's status as answered to "s". Valid is set when all nine lines parsed.
struct TPIDStatus {
  bool Valid = false;
  int32_t Enabled = 0;
  double Error = 0;
  double ErrorI = 0;
  double ErrorD = 0;
  int32_t Feedback = 0;
  int32_t Command = 0;
  double Output = 0;
  int32_t LimitState = 0;
  int32_t TestOsc = 0;
};
