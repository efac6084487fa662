#pragma once

// What zirv7ctl suggest prints of its report: the fitted motor, the present and the suggested
// gains with their predicted figures, and after --apply the verification.

#include "boardtuning/suggestonboard.h"
#include "ctl/ctlio.h"

// Prints the fitted motor and how well it replays the runs (nothing when no fit was made),
// the loop-law check and what the records show beyond the model.
void PrintFit(TCtlIo& io, const TSuggestReport& report);

// Prints the present and suggested gains and the figures measured and predicted for them.
void PrintSuggestion(TCtlIo& io, const TSuggestReport& report);

// Prints the verification: the figures predicted for the suggestion against those measured.
void PrintVerification(TCtlIo& io, const TSuggestReport& report);

// Prints everything as one JSON object.
void PrintSuggestJson(TCtlIo& io, const TSuggestReport& report);
