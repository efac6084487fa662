#pragma once

#include <functional>

#include "globals/records.h"
#include "globals/result.h"
#include "steprun/steprun.h"

class TBoardSession;

// Told while a step test waits for its answer: the answer lines received so far and the lines
// a complete answer has.
using TStepProgress = std::function<void(int lines, int ofLines)>;

// Runs one step test "r<prediv>c<step>ok1" on the board of session, whose parameters are
// params, and returns the run with its samples and figures, stamped with the present time.
// Fails when the answer is missing, breaks off before all 199 samples, or the port fails.
// progress, when given, is told a few times a second while the answer comes in.
TResult<TStepRun> RunStepTest(TBoardSession& session, const TPIDParams& params, int step, int prediv,
                              const TStepProgress& progress = {});
