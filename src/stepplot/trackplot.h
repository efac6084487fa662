#pragma once

// Pictures of moves at constant speed, in the style of the step pictures: the following error
// above and the output below against time, with the oscillator's start and stop marked and
// the mean error at speed drawn over the samples it was taken from.

#include <QSize>
#include <QString>
#include <optional>
#include <vector>

#include "globals/result.h"
#include "stepplot/stepplot.h"

class QPainter;

// One move of a trace: where the oscillator ran and what it showed.
struct TTrackPlotMove {
  QString Caption;        // "forward, speed 100: 1000 counts/s (measured 999.6)"
  double StartSeconds = 0;
  double StopSeconds = 0;
  // The mean error at speed and the time from which it was taken; none when it did not settle.
  std::optional<double> MeanError;
  double SettledFromSeconds = 0;
};

// One measurement: the samples on one clock and its moves.
struct TTrackPlotTrace {
  QString Caption;  // "FF1 0", "FF1 0.000497"
  std::vector<double> Seconds, Errors, Outputs;
  std::vector<TTrackPlotMove> Moves;
};

struct TTrackPlot {
  std::vector<TTrackPlotTrace> Traces;
  double MaxOutput = 0;  // drawn when an output comes near it
};

// Draws the picture. Needs a QGuiApplication (for the fonts).
void DrawTrackPlot(QPainter& painter, const QSize& size, const TTrackPlot& plot, const QString& title);

// Writes the picture to a file in the given format, whole or not at all.
TResult<void> SaveTrackPlot(const QString& fileName, TPlotFormat format, const TTrackPlot& plot,
                            const QString& title);
