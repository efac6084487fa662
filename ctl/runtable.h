#pragma once

// The figures of runs as the tables show and rank them, and the table of runs.

#include <QString>
#include <optional>
#include <vector>

#include "ctl/ctlio.h"
#include "runstore/runstore.h"
#include "steprun/steprun.h"

// The figures of a run as the tables show them, in the order of kAllFigures.
enum class TFigure {
  Rise, Overshoot, Peak, Settling, SteadyStateError, Iae, PeakOutput, Saturated, RestOutputPp, RestErrorPp
};
inline constexpr TFigure kAllFigures[] = {TFigure::Rise,     TFigure::Overshoot,
                                          TFigure::Peak,     TFigure::Settling,
                                          TFigure::SteadyStateError, TFigure::Iae,
                                          TFigure::PeakOutput, TFigure::Saturated,
                                          TFigure::RestOutputPp, TFigure::RestErrorPp};

// Returns the figure's column caption ("rise", "overshoot", ...).
QString FigureCaption(TFigure figure);

// Returns the figure of a run as a table cell: times as TimeText, percentages with " %".
QString FigureText(const TStepRun& run, TFigure figure);

// Returns a key by which the lower figure is the better: times in ms where the sample period
// is known, the size of the steady-state error, infinity for a figure that does not exist.
double FigureKey(const TStepRun& run, TFigure figure);

// Returns the run's number in the history, "-" for a run that is not stored.
QString RunNumberText(const TStepRun& run);

// Prints one row per run: id, time, step, prediv and the figures.
void PrintRunTable(TCtlIo& io, const std::vector<TStepRun>& runs);

// Prints the history's row per stored run: id, time, port, label, step, prediv, P, I, D and
// the figures a row has room for.
void PrintHistoryTable(TCtlIo& io, const std::vector<TRunListing>& listings);

// Formats a figure in ms when the period is known, else in samples; "-" when it is empty.
QString TimeText(std::optional<double> samples, std::optional<double> periodMs);

// Returns a percentage as the tables show it: one decimal and " %" ("4.7 %").
QString PercentText(double value);
