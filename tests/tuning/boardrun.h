#pragma once

// Step tests on the simulated board (without its wire), turned into the records the tuning
// library reads: what the tests and the benchmark compare the models with.

#include <string>

#include "sim/board.h"
#include "tuning/identify.h"

// Returns the board's parameters as the tool's record holds them.
inline TPIDParams ToRecord(const zirvsim::TBoardParams& b) {
  TPIDParams p;
  p.Valid = true;
  p.Enabled = b.Enabled;
  p.P = b.P;
  p.I = b.I;
  p.D = b.D;
  p.Deadband = b.Deadband;
  p.MaxOutput = b.MaxOutput;
  p.FF0 = b.FeedForward0;
  p.FF1 = b.FeedForward1;
  p.FaultError = b.FaultError;
  p.Multiplier = b.Multiplier;
  p.TicksPerServo = b.TicksPerServo;
  p.HallTimeout = b.HallTimeout;
  p.DoChargeElcos = b.DoChargeElcos;
  p.PhaseAdvance = b.PhaseAdvance;
  p.SVMCycle = b.SVMCycle;
  return p;
}

// Reads the number after "<tag>: " in a status or step-test line.
inline double LineValue(const std::string& line) { return std::stod(line.substr(line.find(": ") + 2)); }

// Runs "r<prediv>c<step>ok1" on the board and returns the run with the loop's state before it,
// as "s" reports it.
inline TStepRecord RunOnBoard(zirvsim::TBoardModel& board, int step, int prediv) {
  TStepRecord record;
  const auto status = board.Answer("s");
  const TPIDParams params = ToRecord(board.Params());
  record.Setup.Loop = LoopSettings(params);
  record.Setup.Step = static_cast<double>(step) * params.Multiplier;
  record.Setup.Prediv = prediv;
  record.Setup.Start.Command = LineValue(status[0]);
  record.Setup.Start.Error = LineValue(status[0]) - LineValue(status[1]);
  record.Setup.Start.ErrorI = LineValue(status[3]);
  for (const std::string& line : board.Answer("r" + std::to_string(prediv) + "c" + std::to_string(step) + "ok1")) {
    if (line.rfind("error: ", 0) == 0) record.Errors.push_back(LineValue(line));
    if (line.rfind("output: ", 0) == 0) record.Outputs.push_back(LineValue(line));
  }
  record.Setup.Samples = static_cast<int>(record.Errors.size());
  return record;
}

// Sets the board's P, I and D.
inline void SetGains(zirvsim::TBoardModel& board, double p, double i, double d) {
  zirvsim::TBoardParams params = board.Params();
  params.P = p;
  params.I = i;
  params.D = d;
  board.SetParams(params);
}
