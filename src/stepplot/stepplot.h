#pragma once

#include <QSize>
#include <QString>
#include <vector>

#include "globals/result.h"
#include "steprun/steprun.h"

class QPainter;

// The size of a picture in pixels (SVG: in its view box).
inline constexpr QSize kStepPlotSize{1200, 800};

// Draws the runs overlaid and aligned at the step, in two panels sharing the time axis: the
// error above with the 2 % settling band and the step, the output below with each run's output
// limit when the runs come near one. Each run has its own colour and a legend entry with its
// caption; later runs are drawn over earlier ones. The time axis is in seconds when every run's
// sample period is known, in samples otherwise. Needs a QGuiApplication (for the fonts).
void DrawStepPlot(QPainter& painter, const QSize& size, const std::vector<TStepRun>& runs,
                  const QString& title);

enum class TPlotFormat { Png, Svg };

// Writes the picture to a file in the given format (WriteOutputFile: regular files only, whole
// or not at all). On failure an existing file is left as it was.
TResult<void> SaveStepPlot(const QString& fileName, TPlotFormat format, const std::vector<TStepRun>& runs,
                           const QString& title);
