// zirv7ctl track: the following error, the output and FF1 at a constant speed of the board's
// test oscillator.
#include <cmath>

#include "boardsession/interrupt.h"
#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "globals/numtext.h"
#include "motion/trackpicture.h"
#include "protocol/transactions.h"

namespace {

// Returns the move that the command line asks for (its values checked by the table).
TTrackRequest TrackRequestOf(const TCommandArgs& args) {
  TTrackRequest r;
  r.Speed = args.WholeNumber("speed", 0);
  r.ForSeconds = args.Number("for", r.ForSeconds);
  r.Distance = args.Number("distance", r.Distance);
  r.FwdRev = args.Has("fwd-rev");
  r.Ripple = args.Has("ripple");
  r.Apply = args.Has("apply");
  r.CommandLine = CommandLine(args);
  return r;
}

QString Fixed(double v, int decimals) { return FixedNumberText(v, decimals); }
QString Maybe(const std::optional<double>& v, int decimals) { return v ? Fixed(*v, decimals) : QStringLiteral("-"); }

// The figures of each move, a column a move.
void PrintRun(TCtlIo& io, const TTrackRun& run) {
  std::vector<QStringList> rows = {{QStringLiteral("FF1 %1").arg(FormatNumber(run.Params.FF1))}};
  auto row = [&](const QString& name, const std::function<QString(const TTrackLeg&)>& cell) {
    QStringList cells{name};
    for (const TTrackLeg& leg : run.Legs) cells.append(cell(leg));
    rows.push_back(cells);
  };
  for (const TTrackLeg& leg : run.Legs) rows[0].append(leg.Speed > 0 ? QStringLiteral("FORWARD") : QStringLiteral("BACK"));
  row(QStringLiteral("speed (counts/s)"), [](const TTrackLeg& l) { return Maybe(l.Figures.Speed, 1); });
  row(QStringLiteral("oscillator promises"), [](const TTrackLeg& l) {
    return QStringLiteral("%1 (o %2)").arg(Fixed(l.Figures.ExpectedSpeed, 1), FormatNumber(l.Oscillator));
  });
  auto settled = [](const TTrackLeg& l, double v, int d) { return l.Figures.SettleSeconds ? Fixed(v, d) : QStringLiteral("-"); };
  row(QStringLiteral("following error (counts)"), [&](const TTrackLeg& l) { return settled(l, l.Figures.Error.Mean, 2); });
  row(QStringLiteral("error p-p (counts)"), [&](const TTrackLeg& l) { return settled(l, l.Figures.Error.PeakToPeak, 2); });
  row(QStringLiteral("output (%)"), [&](const TTrackLeg& l) { return settled(l, l.Figures.Output.Mean, 3); });
  row(QStringLiteral("output p-p (%)"), [&](const TTrackLeg& l) { return settled(l, l.Figures.Output.PeakToPeak, 3); });
  row(QStringLiteral("settled after (s)"), [](const TTrackLeg& l) {
    return l.Figures.SettleSeconds ? Fixed(*l.Figures.SettleSeconds, 3) : QStringLiteral("not settled");
  });
  row(QStringLiteral("samples (settled)"), [](const TTrackLeg& l) {
    return QStringLiteral("%1 (%2)").arg(l.Figures.Samples).arg(l.Figures.SettledSamples);
  });
  row(QStringLiteral("largest error (counts)"), [](const TTrackLeg& l) { return FormatNumber(l.Figures.LargestError); });
  row(QStringLiteral("servo"), [](const TTrackLeg& l) { return l.Figures.Tripped ? QStringLiteral("TRIPPED") : QStringLiteral("on"); });
  PrintTable(io, rows, 1);
  for (const TTrackLeg& leg : run.Legs)
    if (leg.Figures.Tripped)
      io.Out << "the servo tripped: \"Fault Error (f):\" " << FormatNumber(run.Params.FaultError)
             << " against a largest error of " << FormatNumber(leg.Figures.LargestError) << " counts\n";
  if (run.Legs.size() > 1)
    io.Out << "the command ended " << FormatNumber(run.EndCommand - run.StartCommand)
           << " counts from where it started\n";
  if (!run.Ripple) return;
  const TRipple ripple = RippleOf(*run.Ripple);
  io.Out << "ripple over 199 cycles in a row (" << Maybe(ripple.Milliseconds, 1) << " ms): error p-p "
         << FormatNumber(ripple.ErrorPeakToPeak) << " counts, output p-p " << Fixed(ripple.OutputPeakToPeak, 3)
         << " %\n";
}

void PrintFeedForward(TCtlIo& io, const TTrackReport& r) {
  if (!r.FeedForward) {
    io.Out << "FF1: nothing to suggest: " << r.FeedForwardNote << "\n";
    return;
  }
  QStringList predicted;
  for (double e : r.FeedForward->Errors) predicted.append(Fixed(e, 2));
  io.Out << "FF1 " << FormatNumber(r.FeedForward->FF1) << " (now " << FormatNumber(r.Before->Params.FF1)
         << ") would make the following error " << predicted.join(QStringLiteral(" / "))
         << " counts (predicted by the loop law)\n";
}

void PrintOutcome(TCtlIo& io, const TTrackReport& r) {
  if (!r.After) return;
  io.Out << "\nwith FF1 " << FormatNumber(r.FeedForward->FF1) << ":\n";
  PrintRun(io, *r.After);
  if (r.Kept) io.Out << "FF1 " << FormatNumber(r.FeedForward->FF1) << " stays on the board: nothing is worse\n";
  else if (!r.Worse.isEmpty())
    io.Out << "FF1 went back to " << FormatNumber(r.Before->Params.FF1) << ": " << r.Worse.join(QStringLiteral(", ")) << "\n";
}

bool WriteTrackPictures(TCtlIo& io, const TCommandArgs& args, const QString& port, const TTrackReport& r) {
  if (!r.Before) return true;
  bool ok = true;
  for (const auto& [option, format] : {std::pair{"png", TPlotFormat::Png}, std::pair{"svg", TPlotFormat::Svg}}) {
    const QString path = args.Value(option);
    if (path.isEmpty()) continue;
    if (const TResult<void> saved = SaveTrackPlot(path, format, TrackPicture(r), TrackTitle(r, port)); !saved) {
      PrintFailure(io, path, saved.Failure());
      ok = false;
    }
  }
  return ok;
}

TTrackHooks TrackHooks(TCtlIo& io, const QString& port, bool yes) {
  TTrackHooks hooks;
  static_cast<TBoardHooks&>(hooks) = BoardHooks(io, port, yes);
  hooks.Measured = [&io](const TTrackReport& r) {
    PrintRun(io, *r.Before);
    PrintFeedForward(io, r);
    io.Out.flush();
  };
  return hooks;
}

}  // namespace

int RunTrack(const TCommandArgs& args, TCtlIo& io) {
  const TTrackRequest request = TrackRequestOf(args);
  const QString port = args.Value(kPortOption.Name);
  TInterruptGuard guard;
  TRunStore store;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  io.Err << port << ": speed " << request.Speed << " (o " << FormatNumber(OscillatorValue(request.Speed)) << ", "
         << FormatNumber(std::round(OscillatorSpeed(OscillatorValue(request.Speed)))) << " counts/s) for "
         << Fixed(MoveSeconds(request), 2) << " s" << (request.FwdRev ? ", and back" : "") << "\n" << Qt::flush;
  const TTrackReport report = RunTrack(session, store, request, TrackHooks(io, port, args.Has(kYesOption.Name)));
  PrintOutcome(io, report);
  if (report.Failure) PrintFailure(io, port, *report.Failure);
  if (report.MoveJournalFailure)
    PrintHistoryFailure(io, {QStringLiteral("the oscillator is stopped, but the history could not mark the move "
                                            "finished (%1): the next command on the port will stop it again")
                                 .arg(report.MoveJournalFailure->Message),
                             report.MoveJournalFailure->Explanation});
  bool ended = true;
  if (report.Transaction) ended = PrintTransactionEnd(io, port, *report.Transaction);
  const bool pictures = WriteTrackPictures(io, args, port, report);
  int status = report.Succeeded() && ended && pictures ? kExitOk : kExitFailed;
  if (report.Transaction) status = OutputStatusAfter(io, *report.Transaction, status);
  return status;
}
