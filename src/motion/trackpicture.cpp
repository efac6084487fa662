#include "motion/trackpicture.h"

#include <cmath>

#include "globals/numtext.h"
#include "protocol/transactions.h"

namespace {

QString MoveCaption(const TTrackLeg& leg) {
  const TMoveFigures& f = leg.Figures;
  QString text = QStringLiteral("%1, speed %2: %3 counts/s")
                     .arg(leg.Speed > 0 ? QStringLiteral("forward") : QStringLiteral("back"))
                     .arg(leg.Speed)
                     .arg(FormatNumber(std::round(f.ExpectedSpeed)));
  if (f.Speed) text += QStringLiteral(" (measured %1)").arg(FixedNumberText(*f.Speed, 1));
  if (f.Tripped) return text + QStringLiteral("; the servo tripped");
  if (!f.SettleSeconds) return text + QStringLiteral("; the error did not settle");
  return text + QStringLiteral("; error %1 mean, %2 p-p").arg(FixedNumberText(f.Error.Mean, 2),
                                                              FixedNumberText(f.Error.PeakToPeak, 2));
}

TTrackPlotTrace Trace(const TTrackRun& run) {
  TTrackPlotTrace t;
  t.Caption = QStringLiteral("FF1 %1").arg(FormatNumber(run.Params.FF1));
  for (const TStatusSample& s : run.Samples) {
    t.Seconds.push_back(s.Seconds);
    t.Errors.push_back(s.Status.Error);
    t.Outputs.push_back(s.Status.Output);
  }
  for (const TTrackLeg& leg : run.Legs) {
    TTrackPlotMove m{MoveCaption(leg), leg.StartSeconds, leg.StopSeconds, std::nullopt, 0};
    if (leg.Figures.SettleSeconds) {
      m.MeanError = leg.Figures.Error.Mean;
      m.SettledFromSeconds = leg.StartSeconds + *leg.Figures.SettleSeconds;
    }
    t.Moves.push_back(m);
  }
  return t;
}

}  // namespace

TTrackPlot TrackPicture(const TTrackReport& report) {
  TTrackPlot plot;
  for (const std::optional<TTrackRun>* run : {&report.Before, &report.After})
    if (*run) {
      plot.Traces.push_back(Trace(**run));
      plot.MaxOutput = (*run)->Params.MaxOutput;
    }
  return plot;
}

QString TrackTitle(const TTrackReport& report, const QString& port) {
  return QStringLiteral("Following error on %1 at speed %2 (%3 counts/s)%4")
      .arg(port)
      .arg(report.Request.Speed)
      .arg(FormatNumber(std::round(OscillatorSpeed(OscillatorValue(report.Request.Speed)))),
           report.Request.FwdRev ? QStringLiteral(", and back") : QString());
}
