#pragma once

// The figures of a move at constant speed, from the status samples taken while the board's
// oscillator ran: the speed the command moved at, the following error and the output at speed,
// how long the error took to settle, and whether the servo tripped.

#include <optional>
#include <vector>

#include "motion/statusstream.h"
#include "steprun/steprun.h"
#include "tuning/feedforward.h"

// The band the error settles into: within 10 % of its mean at speed, and never narrower than a
// count and a half. The encoder counts whole counts, so an error that is a fraction of a count
// reads a count either side of its nearest whole count now and then: a band of one count around
// a mean of -0.4 holds -1 and 0 but not the 1 a settled loop still reads.
inline constexpr double kSettleFraction = 0.1;
inline constexpr double kSettleFloorCounts = 1.5;

// The fewest settled samples that make figures at speed.
inline constexpr int kFewestSettledSamples = 3;

// A value at speed: its mean and peak-to-peak over the settled samples.
struct TAtSpeedValue {
  double Mean = 0;
  double PeakToPeak = 0;
};

struct TMoveFigures {
  double ExpectedSpeed = 0;     // counts/s the oscillator value promises (29,400,000 / o)
  std::optional<double> Speed;  // counts/s, the slope of the command samples while moving
  int Samples = 0;              // samples taken while the oscillator ran
  double SampleInterval = 0;    // their mean spacing, s
  // Seconds from the oscillator's start until the error stayed within the band; none when it
  // did not settle (or fewer than kFewestSettledSamples samples stayed).
  std::optional<double> SettleSeconds;
  // When the settling happened, as closely as the samples tell, in seconds from the start: after
  // the board gave the sample before the settled one (sent at SettleEarliest or later) and
  // before it gave the settled one (answered by SettleLatest). A busy machine that samples
  // unevenly, or keeps an answer waiting, widens this span well beyond the mean spacing.
  double SettleEarliest = 0;
  double SettleLatest = 0;
  int SettledSamples = 0;
  TAtSpeedValue Error;          // over the settled samples
  TAtSpeedValue Output;
  double Command = 0;           // the mean command over the settled samples
  bool Tripped = false;         // a sample showed the servo switched off
  double LargestError = 0;      // the largest |error| of every sample from the start on
  double Travel = 0;            // the counts the command moved, first to last sample

  // Returns the move as the feed-forward prediction reads it; nothing when it did not settle
  // or its speed is unknown.
  std::optional<TAtSpeed> AtSpeed() const;
};

// Returns the figures of the samples sent from startSeconds (the oscillator's start) to
// stopSeconds (its stop); samples outside are not counted, except that a trip after the stop
// is seen. expectedSpeed is 29,400,000 / o.
TMoveFigures MoveFigures(const std::vector<TStatusSample>& samples, double startSeconds, double stopSeconds,
                         double expectedSpeed);

// What a record of servo cycles in a row (a step test of step 0 during a move) shows of the
// ripple at speed, faster than status samples can follow.
struct TRipple {
  std::optional<double> Milliseconds;  // the time the record spans
  double ErrorPeakToPeak = 0;
  double OutputPeakToPeak = 0;
};

// Returns the ripple of a record.
TRipple RippleOf(const TStepRun& record);
