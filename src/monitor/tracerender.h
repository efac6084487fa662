#pragma once

#include <QRect>
#include <cstddef>

#include "monitor/chartaxis.h"

class QPainter;

// How a trace is turned into line segments.
enum class TTraceMode {
  // Per pixel column only the first, lowest, highest and last point of the column's run of
  // points: the same pixels as every segment, at a cost bound by the plot width.
  Reduced,
  // Every segment from point i to point i + 1 (the reference the reduced mode must match).
  EverySegment,
};

// Where a trace is drawn: the mapping of both axes and the plot rectangle it is clipped to.
struct TPlotMapping {
  TAxisMap X;
  TAxisMap Y;
  QRect Clip;
};

// Draws the polyline through n points (xs ascending) with the painter's pen, as aliased
// segments between vertices snapped to device pixels. Nothing outside the clip is drawn.
void DrawTrace(QPainter& painter, const double* xs, const double* ys, size_t n,
               const TPlotMapping& map, TTraceMode mode);
