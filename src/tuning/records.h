#pragma once

// Step-test runs as the fit and the choice read them: the loop's state before each worked out
// from the run itself, and the runs of one measurement of a board put together, whether they
// were just measured or taken from the history.

#include <vector>

#include "globals/result.h"
#include "steprun/steprun.h"
#include "tuning/choice.h"

// Returns a run as the fit reads it, with the given loop state before it.
TStepRecord RecordOf(const TStepRun& run, const TStepStart& start);

// Returns the loop's state before a run as the run's own samples tell it: the error before the
// step from the first sample (less the motion of its cycles where they were not all sampled),
// and the integral from the first sample whose output is off the limit where the error stood
// still (no D in it): its output less P x error is I x the integral there, less the errors
// summed since the step (those between samples taken as running straight). The command is
// taken as 0 and a feed-forward of it as part of the integral's drive, which it equals in every
// cycle of a run. A status read before the test is older than the step by the time the answer
// takes: the samples are the truer start, and the same for a run taken from the history.
TStepStart StartOfRun(const TStepRun& run);

// Returns the records of the runs of one measurement of a board: the step tests in the order
// they were taken (by their numbers), each started as StartOfRun says, and the last rest record
// (a step of 0) among them. Refuses, saying why, runs of different boards (ports), runs made
// with different loop settings (a suggestion starts from one set of gains, and the rest record
// must show the loop of the steps), and runs without a step test. Where the samples cannot
// tell the integral's sum (a loop without I and without FF0 shows nothing of it), the sum of
// the state read before the run is taken from statusBefore (index-parallel to runs, when
// given): the board sums its errors whatever I is, and new gains with an I turn that sum into
// a push.
TResult<TBoardRecords> RecordsOfRuns(std::vector<TStepRun> runs, const std::vector<TStepStart>& statusBefore = {});
