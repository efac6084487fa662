#pragma once

// The parts the pictures of the companion share, so that every picture looks alike: colours,
// panels with their axes and grid, the legend's entries, and the PNG and SVG renderings.

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QPen>
#include <QRectF>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

#include "monitor/chartaxis.h"

class QPainter;

// Colours that stay apart from each other in print and for most colour-blind readers.
const QColor kPalette[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                           QColor(214, 39, 40),  QColor(148, 103, 189), QColor(140, 86, 75),
                           QColor(227, 119, 194), QColor(127, 127, 127), QColor(188, 189, 34),
                           QColor(23, 190, 207)};
const QColor kGrid(226, 226, 226);
const QColor kFrame(160, 160, 160);
const QColor kText(40, 40, 40);
const QColor kBand(46, 160, 67, 40);
const QColor kReference(110, 110, 110);
const QColor kLimit(200, 40, 40);

inline constexpr double kMargin = 16;
inline constexpr double kPanelGap = 18;
inline constexpr double kTickLength = 4;
inline constexpr int kLabelsPerPanel = 6;

// A linear map from values to device coordinates.
struct TScale {
  TAxisRange View;
  double P0;
  double P1;
  double operator()(double v) const {
    return P0 + (v - View.Min) / (View.Max - View.Min) * (P1 - P0);
  }
};

// Returns lo..hi widened by a fraction of its span on both sides (a flat range by 1).
TAxisRange Padded(double lo, double hi, double fraction);

// The horizontal axis the panels of a picture share: its title and the range it shows.
struct TPlotAxis {
  QString Title;
  TAxisRange View;
};

// One panel: its rectangle, the value range it shows and its title.
struct TPanel {
  QRectF Rect;
  TAxisRange Y;
  QString Title;
  TScale X(const TPlotAxis& t) const { return {t.View, Rect.left(), Rect.right()}; }
  TScale Ys() const { return {Y, Rect.bottom(), Rect.top()}; }
};

// Returns where an axis with about count labels has them: at multiples of a round step.
std::vector<double> Ticks(const TAxisRange& view, int count);

// Draws the panel's value labels and grid lines, and its title along its left edge.
void DrawYAxis(QPainter& p, const TPanel& panel);
// Draws the grid lines of the shared axis, with their labels and the axis title when asked.
void DrawXGrid(QPainter& p, const TPanel& panel, const TPlotAxis& axis, bool labels);
void DrawFrame(QPainter& p, const TPanel& panel);

// Draws one entry of a legend: its mark, drawn by mark in a box left of the first line, and its
// text over as many lines as it needs. Returns the top of the next entry.
double DrawLegendLine(QPainter& p, const QRectF& area, double y, const QString& text,
                      const std::function<void(const QRectF&)>& mark);
// A horizontal line through the middle of a legend mark's box.
std::function<void(const QRectF&)> LineMark(QPainter& p, const QPen& pen);

// Fills the picture white, sets the fonts and draws the title; returns the font of the rest.
QFont BeginPicture(QPainter& p, const QSize& size, const QString& title);

// Renders a picture of kStepPlotSize drawn by draw as PNG or SVG bytes.
using TDraw = std::function<void(QPainter& painter, const QSize& size)>;
QByteArray RenderPng(const QSize& size, const TDraw& draw);
QByteArray RenderSvg(const QSize& size, const QString& title, const TDraw& draw);
