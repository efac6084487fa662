#pragma once

// What zirv7ctl suggest prints of its report: the fitted motor, the present and the suggested
// gains with their predicted figures, and after --apply the verification.

#include <QJsonValue>

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

// Prints why the model gives no gains, where the board is to be searched instead.
void PrintModelRefusal(TCtlIo& io, const TSuggestReport& report);

// Prints what --apply would do: its EEPROM writes at most, its step tests, bounds and time.
void PrintApplyNote(TCtlIo& io, const TSuggestReport& report);

// Prints the trials on the board, when --apply made any, and what the board keeps.
void PrintSearch(TCtlIo& io, const TSuggestReport& report);

// Returns the trials on the board as JSON (null when there were none).
QJsonValue SearchJson(const TSuggestReport& report);

// Returns the trials' runs worth drawing: the first of each trial that became the best so far.
std::vector<TStepRun> SearchPictureRuns(const TSuggestReport& report);
