#pragma once

#include <QString>

#include "motion/track.h"
#include "stepplot/trackplot.h"

// Returns the picture of a track: the measurement with the board's values and, after apply,
// the one with the suggested FF1, each with its moves.
TTrackPlot TrackPicture(const TTrackReport& report);

// Returns the picture's title: "Following error on COM2 at speed 100 (1000 counts/s)".
QString TrackTitle(const TTrackReport& report, const QString& port);
