// The tables of runs: each figure's cell, and cells that stay narrow whatever a damaged
// history holds.
#include <gtest/gtest.h>

#include <QTextStream>
#include <limits>

#include "ctl/runtable.h"

namespace {

TStepRun PlainRun() {
  TStepRun run;
  run.Id = 3;
  run.Step = 100;
  run.Prediv = 1;
  run.Figures.RiseSamples = 12.5;
  run.Figures.SettlingSamples = 40;
  run.Figures.PeakSample = 20;
  return run;
}

TEST(RunTable, FigureCellsInFixedNotationUpToWhatAColumnShows) {
  struct TCase {
    TFigure Figure;
    double Value;
    const char* Text;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const TCase cases[] = {
      {TFigure::Iae, 1234.4, "1234"},
      {TFigure::Iae, 999999999999999.0, "999999999999999"},
      {TFigure::Iae, 1e300, "1E300"},
      {TFigure::Iae, -2.5e20, "-2.5E20"},
      {TFigure::Overshoot, 12.34, "12.3 %"},
      {TFigure::Overshoot, 1e16, "1E16 %"},
      {TFigure::Overshoot, inf, "inf %"},
      {TFigure::SteadyStateError, -0.125, "-0.13"},
      {TFigure::SteadyStateError, 3.5e200, "3.5E200"},
      {TFigure::RestOutputPp, 7.25, "7.3 %"},
      {TFigure::RestErrorPp, 1e18, "1E18"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(FigureCaption(c.Figure).toStdString() + " " + std::to_string(c.Value));
    TStepRun run = PlainRun();
    switch (c.Figure) {
      case TFigure::Iae: run.Figures.Iae = c.Value; break;
      case TFigure::Overshoot: run.Figures.OvershootPct = c.Value; break;
      case TFigure::SteadyStateError: run.Figures.SteadyStateError = c.Value; break;
      case TFigure::RestOutputPp: run.Figures.RestOutputPpPct = c.Value; break;
      default: run.Figures.RestErrorPp = c.Value; break;
    }
    EXPECT_EQ(FigureText(run, c.Figure), QString::fromLatin1(c.Text));
  }
  EXPECT_EQ(TimeText(12.5, std::nullopt), "12.5 smp");
  EXPECT_EQ(TimeText(12.5, 0.2), "2.50 ms");
  EXPECT_EQ(TimeText(4e300, std::nullopt), "4E300 smp");
  EXPECT_EQ(TimeText(std::nullopt, 0.2), "-");
}

TEST(RunTable, DamagedValuesKeepTheTablesNarrow) {
  TStepRun run = PlainRun();
  run.Figures.Iae = -1.7976931348623157e308;
  run.Figures.OvershootPct = 1e308;
  run.Figures.RiseSamples = 1e308;
  run.Figures.RestOutputPpPct = 1e300;
  run.Params.P = 1e308;
  QString out, err, in;
  QTextStream o(&out), e(&err), i(&in);
  TCtlIo io{o, e, i};
  PrintRunTable(io, {run});
  PrintHistoryTable(io, {TRunListing{run, 0}});
  o.flush();
  for (const QString& line : out.split(u'\n')) EXPECT_LT(line.size(), 250) << line.toStdString();
}

}  // namespace
