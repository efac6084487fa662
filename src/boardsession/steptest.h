#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "globals/records.h"
#include "steprun/steprun.h"

class TBoardLink;

// Told while a step test waits for its answer: the answer lines received so far and the lines
// a complete answer has.
using TStepProgress = std::function<void(int lines, int ofLines)>;

// Reads the board's parameters ("l") into params. Returns false with the reason in failure
// when the answer is incomplete or does not parse, or the port fails.
bool ReadBoardParameters(TBoardLink& link, TPIDParams& params, QString& failure);

// Runs one step test "r<prediv>c<step>ok1" on a board whose parameters are params and returns
// the run with its samples and figures, stamped with the present time. Returns nothing, with
// the reason in failure, when the answer is missing, breaks off before all 199 samples, or the
// port fails. progress, when given, is told a few times a second while the answer comes in.
std::optional<TStepRun> RunStepTest(TBoardLink& link, const TPIDParams& params, int step,
                                    int prediv, QString& failure,
                                    const TStepProgress& progress = {});
