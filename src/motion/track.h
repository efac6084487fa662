#pragma once

// zirv7ctl track as a procedure: the board's oscillator run at a speed for a bounded time and
// distance (and back with fwd-rev), the status sampled while the axis moves, the figures at
// speed, what FF1 would do by the loop law, and with apply FF1 written, measured again and
// kept only when nothing is worse, through the board session's one write transaction. The
// oscillator is stopped on every way out before anything else.

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "boardsession/procedure.h"
#include "boardsession/transaction.h"
#include "motion/movefigures.h"
#include "motion/statusstream.h"
#include "runstore/runstore.h"
#include "steprun/steprun.h"
#include "tuning/feedforward.h"

// What track is asked to do.
struct TTrackRequest {
  int Speed = 0;            // in the window's "Pos X 10 per sec:" units: 10 x Speed counts/s
  double ForSeconds = kDefaultForSeconds;
  double Distance = kDefaultDistance;  // counts
  bool FwdRev = false;      // move back as far the other way
  bool Ripple = false;      // a step test of step 0 during the (first) move: 199 cycles in a row
  bool Apply = false;       // write the suggested FF1 and verify it
  QString CommandLine;      // the command line as the journal keeps it

  static constexpr double kDefaultForSeconds = 2;
  static constexpr double kDefaultDistance = 4000;
};

// One move of the oscillator: its value, when it ran on the stream's clock, and its figures.
struct TTrackLeg {
  int Speed = 0;       // window units, signed
  double Oscillator = 0;  // the "o" value sent
  double StartSeconds = 0;
  double StopSeconds = 0;
  TMoveFigures Figures;
};

// One measurement: every sample on one clock (from before the first move to after the last),
// the legs, and the ripple record.
struct TTrackRun {
  TPIDParams Params;   // the board's values during the run
  std::vector<TStatusSample> Samples;
  std::vector<TTrackLeg> Legs;
  std::optional<TStepRun> Ripple;
  double StartCommand = 0;  // the command before the first move
  double EndCommand = 0;    // after the last
};

// Everything track found and did.
struct TTrackReport {
  TTrackRequest Request;
  std::optional<TTrackRun> Before;  // measured with the board's values
  std::optional<TFeedForward> FeedForward;  // FF1 suggested, with its prediction
  QString FeedForwardNote;           // why none is suggested
  // After apply:
  bool Declined = false;             // the question was answered no
  std::optional<TTrackRun> After;    // measured with the suggested FF1
  QStringList Worse;                 // the figures that were worse with it
  bool Kept = false;                 // FF1 stayed on the board
  std::optional<TTransactionResult> Transaction;
  // Why track failed or refused: the servo disabled, a bound too small for --ripple, an
  // interruption, a board that stopped answering, an oscillator that could not be stopped.
  std::optional<TFailure> Failure;
  std::optional<TFailure> MoveJournalFailure;  // a move's entry that could not be marked finished

  // Returns whether track did what it was asked: measured, and with apply kept or refused FF1
  // honestly (nothing worse is a success; worse put back is a failure).
  bool Succeeded() const;
};

// What track asks of the program that runs it; the base's hooks as every board procedure has.
struct TTrackHooks : TBoardHooks {
  // Told when the measurement with the board's values is done and FF1 worked out, before the
  // question: what the user judges the write by.
  std::function<void(const TTrackReport& report)> Measured;
};

// Returns how long one move lasts: the time and the distance bound, whichever ends it first.
double MoveSeconds(const TTrackRequest& request);

// Runs track on the board of session (open, its values read); moves are journaled in history.
TTrackReport RunTrack(TBoardSession& session, TRunStore& history, const TTrackRequest& request,
                      const TTrackHooks& hooks);
