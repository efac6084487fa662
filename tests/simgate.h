#pragma once

// Included by every suite that talks to a simulated board in its own process: each poll of the
// tool first lets the boards catch up with the line, so that a wait counted in polls (501 for an
// answer) never runs out because a busy machine kept the board's bytes waiting somewhere.

#include "serial/linechannel.h"
#include "sim/simulator.h"

inline const bool kSimulatedBoardsCatchUp =
    (TLineChannel::SetPollGate(&zirvsim::TBoardSimulator::CatchUpAll), true);
