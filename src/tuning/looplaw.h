#pragma once

#include <string>

#include "tuning/identify.h"

// Whether a board runs the loop law the model assumes (see loopmodel.h): whatever the motor,
// the output of every cycle is fixed by that law and the errors before it, so replaying the
// recorded outputs from the recorded errors tells whether the board's loop is the one the
// suggestion is chosen for.

enum class TLawVerdict {
  Matches,    // every replayed output agrees within the tolerance
  Differs,    // some output does not: the board's loop is another one
  Undecided,  // the record holds too little that tells laws apart (errors of 0 throughout)
};

struct TLoopLawCheck {
  TLawVerdict Verdict = TLawVerdict::Undecided;
  int Checked = 0;             // samples replayed and compared
  double WorstDeviation = 0;   // the largest |replayed - recorded| output, % of full drive
  int WorstSample = -1;        // where it was
  std::string How;             // how the record was checked, for the report
};

// The most a replayed output may differ from the recorded one, % of full drive: the board
// prints its outputs with four decimals.
inline constexpr double kLawTolerance = 0.002;

// Replays the record's outputs from its errors with the model's law. At prediv 0 every cycle
// is sampled and the replay is exact: P x error + D x (error - previous error) / period +
// FF0 x command + I x (integral + error), limited to the output limit, the integral growing
// only while the output is not held at the limit. The integral the record starts with is not
// known exactly (it moves between the status read and the step), so it is worked out from the
// first sample whose output is not at the limit, and the first sample (whose D term needs the
// error of the cycle before the record) is not compared. At a larger prediv the cycles
// between two samples are not recorded: the law is replayed only where the error held still
// over three samples, where D adds nothing and each sample's output must exceed the one
// before by I x (prediv + 1) x error; a sample off by whole D kicks of a count is left out,
// as a count may have come and gone between the samples unseen.
TLoopLawCheck CheckLoopLaw(const TStepRecord& record, double tolerance = kLawTolerance);
