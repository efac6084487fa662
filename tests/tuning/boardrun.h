#pragma once

// Step tests on the simulated board (without its wire), turned into the records the tuning
// library reads: what the tests and the benchmark compare the models with.

#include <string>
#include <vector>

#include "sim/board.h"
#include "steprun/steprun.h"
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

// Returns a step test on the board as the history stores it, numbered id.
inline TStepRun StoredRun(zirvsim::TBoardModel& board, int step, int prediv, qint64 id) {
  const TStepRecord record = RunOnBoard(board, step, prediv);
  TStepRun run;
  run.Id = id;
  run.Port = QStringLiteral("COM1");
  run.Step = step;
  run.Prediv = prediv;
  run.Params = ToRecord(board.Params());
  run.Errors = record.Errors;
  run.Outputs = record.Outputs;
  return run;
}

// Measures the board as suggest does, after it has run for a second: the step, the step back
// (at once, or after the seconds a step's answer takes on the line), and a little later a rest
// record.
inline std::vector<TStepRun> MeasuredRuns(zirvsim::TBoardModel& board, int step, int prediv, double between = 0.01,
                                          double beforeRest = 0.3) {
  board.RunFor(1.0);
  std::vector<TStepRun> runs = {StoredRun(board, step, prediv, 1)};
  board.RunFor(between);
  runs.push_back(StoredRun(board, -step, prediv, 2));
  board.RunFor(beforeRest);
  runs.push_back(StoredRun(board, 0, 0, 3));
  return runs;
}
