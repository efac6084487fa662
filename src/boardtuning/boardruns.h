#pragma once

// The board measured for tuning with the gains it holds: the loop's state before a test, a wait
// for the loop to come to rest, and the three runs a verdict judges (a step, the step back so
// that the motor ends where it began, and a rest record with the command left alone), each
// stored in the run history.

#include <QString>

#include "boardsession/procedure.h"
#include "boardsession/session.h"
#include "globals/result.h"
#include "runstore/runstore.h"
#include "steprun/steprun.h"
#include "tuning/identify.h"
#include "tuning/loopmodel.h"
#include "tuning/records.h"
#include "tuning/verdict.h"

// The board measured with one set of gains: a step forward, the step back, the loop at rest.
struct TBoardRuns {
  TStepRun Forward;
  TStepRun Reverse;
  TStepRun Rest;
  TStepStart ForwardStart;
  TStepStart ReverseStart;
  TStepStart RestStart;
};

// Returns the figures a verification judges of the runs.
TBoardFigures FiguresOf(const TBoardRuns& runs);

// Returns the loop's state before a test as the status reports it. On a loaded machine an
// answer may come later than the read waits, or behind the tail of the answer before it, so the
// read is tried again, up to five times; a start made up instead (command 0) would be taken for
// the truth. Fails when no status came, or when hooks.Stop says stop.
TResult<TStepStart> ReadStart(TBoardSession& session, const TBoardHooks& hooks);

// The board keeps its integral when the gains change, and new gains may set the motor moving:
// waits, up to maxMs (three seconds), for it to come to rest near its command (within a count,
// or the deadband of params).
void WaitForRest(TBoardSession& session, const TPIDParams& params, const TBoardHooks& hooks, int maxMs = 3000);

// Runs one step test (step 0: a rest record) with params on the board, after reading the
// loop's state into start, and labels it "<label>: P .. I .. D ..", without storing it. Told to
// hooks.Progress as it begins.
TResult<TStepRun> UnstoredRun(TBoardSession& session, const TPIDParams& params, int step, int prediv,
                              const QString& label, TStepStart& start, const TBoardHooks& hooks);

// Stores a run in history; the failure says it is the history's.
TResult<void> StoreRun(TRunStore& history, TStepRun& run);

// Runs one step test (step 0: a rest record) with params on the board, after reading the
// loop's state into start, labels it "<label>: P .. I .. D .." and stores it in history. Told
// to hooks.Progress as it begins.
TResult<TStepRun> MeasuredRun(TBoardSession& session, TRunStore& history, const TPIDParams& params, int step,
                              int prediv, const QString& label, TStepStart& start, const TBoardHooks& hooks);

// Measures the board with params: the step, the step back and a rest record. Fails at the
// first run that fails, or when hooks.Stop says stop between runs.
TResult<TBoardRuns> MeasureBoard(TBoardSession& session, TRunStore& history, const TPIDParams& params, int step,
                                 int prediv, const QString& label, const TBoardHooks& hooks);

// Returns "P 0.2 I 0.0005 D 0.0015": the gains of params.
QString GainsCaption(const TPIDParams& params);
