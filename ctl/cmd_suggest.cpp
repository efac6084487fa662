// zirv7ctl suggest: the motor fitted to a step test, gains chosen for it, and with --apply
// written and verified; the board gets its values back when the verification is interrupted
// or does worse than the gains before it.
#include "boardsession/interrupt.h"
#include "boardtuning/suggestonboard.h"
#include "ctl/commands.h"
#include "ctl/steps.h"
#include "ctl/suggest.h"

namespace {

const QString kName = QStringLiteral("suggest");

struct TSuggestOptions {
  QString Port;
  std::optional<int> Step;
  std::optional<int> Prediv;
  TTuningGoal Goal;
  bool Apply = false;
  bool Yes = false;
  std::vector<qint64> History;  // stored runs to fit instead of a new test
};

// Run numbers: the values of --from-history and, after it, the arguments that follow.
bool ReadHistory(TCtlIo& io, const QCommandLineParser& parser, std::vector<qint64>& ids) {
  const QString option = QStringLiteral("from-history");
  if (!parser.isSet(option)) {
    if (parser.positionalArguments().isEmpty()) return true;
    PrintError(io, kName, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    return false;
  }
  return ReadRunIds(io, kName, parser.values(option) + parser.positionalArguments(), ids);
}

bool ReadOptions(TCtlIo& io, const QCommandLineParser& parser, TSuggestOptions& o) {
  o.Port = parser.value(QStringLiteral("port"));
  o.Apply = parser.isSet(QStringLiteral("apply"));
  o.Yes = parser.isSet(QStringLiteral("yes"));
  double mismatchPct = o.Goal.Mismatch * 100;
  if (!ReadHistory(io, parser, o.History) ||
      !IntOption(io, parser, kName, kStepOption, o.Step) ||
      !IntOption(io, parser, kName, kPredivOption, o.Prediv) ||
      !NumberOption(io, parser, kName, QStringLiteral("target-overshoot"), 0, 100, o.Goal.TargetOvershootPct) ||
      !NumberOption(io, parser, kName, QStringLiteral("mismatch"), 0, 90, mismatchPct) ||
      !NumberOption(io, parser, kName, QStringLiteral("corner-allowance"), 0, 100, o.Goal.CornerAllowancePct) ||
      !NumberOption(io, parser, kName, QStringLiteral("count-jump"), 1, 1000, o.Goal.MaxCountJumpPct))
    return false;
  o.Goal.Mismatch = mismatchPct / 100;
  const bool live = o.History.empty();
  if ((live || o.Apply) && o.Port.isEmpty()) {
    PrintError(io, kName, live ? QStringLiteral("--port and --step are required") : QStringLiteral("--apply needs --port"));
    return false;
  }
  if ((live && !o.Step) || (o.Step && *o.Step == 0)) {
    PrintError(io, kName, o.Step ? QStringLiteral("--step must not be 0") : QStringLiteral("--port and --step are required"));
    return false;
  }
  return true;
}

bool WritePictures(TCtlIo& io, const QCommandLineParser& parser, const TSuggestReport& r, const QString& where) {
  if (r.Runs.empty() || (!r.Suggestion.Found && !r.Search)) return true;
  const TStepRun& before = r.Before ? r.Before->Forward : r.Runs.back();
  std::vector<TStepRun> runs = {before};
  const TPIDParams suggested = SuggestedParams(r);
  if (r.Suggestion.Found)
    runs.push_back(PredictedRun(before, suggested, r.Suggestion.Predicted,
                                QStringLiteral("suggested, predicted: %1").arg(GainsCaption(suggested))));
  for (const TStepRun& trial : SearchPictureRuns(r)) runs.push_back(trial);
  if (r.After) runs.push_back(r.After->Forward);
  if (r.Before) runs.push_back(r.Before->Rest);
  if (r.After) runs.push_back(r.After->Rest);
  const QString title = QStringLiteral("Suggested gains%1, step %2, prediv %3")
                            .arg(where.isEmpty() ? QString() : QStringLiteral(" on ") + where)
                            .arg(runs.front().Step)
                            .arg(runs.front().Prediv);
  return WriteRunFiles(io, parser, runs, title);
}

void AddOptions(QCommandLineParser& parser) {
  AddStepTestOptions(parser);
  parser.addOption({QStringLiteral("target-overshoot"), QStringLiteral("The most overshoot allowed, % (default 5)."), QStringLiteral("PCT")});
  parser.addOption({QStringLiteral("mismatch"), QStringLiteral("How far off gain and time constant may be, % (default 20)."), QStringLiteral("PCT")});
  parser.addOption({QStringLiteral("corner-allowance"),
                    QStringLiteral("Points of overshoot beyond the target allowed with the mismatch (default 3)."),
                    QStringLiteral("PCT")});
  parser.addOption({QStringLiteral("count-jump"),
                    QStringLiteral("The most one count of error may move the output, % of \"Max Output (m):\" (default 20)."),
                    QStringLiteral("PCT")});
  parser.addOption({QStringLiteral("apply"), QStringLiteral("Write the suggestion and verify it with a step test.")});
  AddYesOption(parser);
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print the result as JSON.")});
  parser.addOption({QStringLiteral("from-history"), QStringLiteral("Fit stored runs instead of a new test."), QStringLiteral("RUN")});
  AddOutputOptions(parser, false);
  parser.addPositionalArgument(QStringLiteral("RUN"), QStringLiteral("More stored runs after --from-history."), QStringLiteral("[RUN...]"));
}

}  // namespace

int RunSuggest(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Measures the board with its present gains: the step, the step back and a rest record\n"
      "(199 cycles, the command left alone); or takes stored runs. Checks that the board's\n"
      "outputs follow the loop law the model assumes (a board whose loop differs gets\n"
      "nothing), fits the motor (gain, time constant, Coulomb friction), says what the records\n"
      "show beyond it (a flickering count, play, hunting at rest, ringing; ringing refuses),\n"
      "and chooses P, I, D and FF1 for the shortest 2 % settling with at most the target\n"
      "overshoot on the fitted motor. With gain\n"
      "and time constant off by the mismatch (each way, all four corners) the test must still\n"
      "settle, with at most the target overshoot plus the corner allowance (3 points by\n"
      "default, --corner-allowance): the corners are the edges of what the fit may be off by,\n"
      "and a board's measured overshoot is allowed as much beyond the target, as no model\n"
      "matches a board exactly. Prints the suggestion beside the present gains with predicted\n"
      "figures for both, then asks. I is kept large enough to pull the motor within a count\n"
      "of target against its friction (and half a percent more, as the fit may be off); where\n"
      "no gains that meet the goal have it, \"Deadband (b):\" is set to the counts the friction\n"
      "holds the motor off target, or, beyond the settling band, nothing is suggested. Where\n"
      "the count flickers, one count may move the output by at most 10 %, and where it\n"
      "flickers often (noise), the deadband is set to the flicker; where the records show\n"
      "play between motor and encoder, to a count at least, so that the loop does not hunt\n"
      "across the play. Values are those the window's fields show exactly. --apply writes\n"
      "the changed values, asking first unless --yes, and measures again (step, step back,\n"
      "rest): the suggestion stays only when settling, overshoot, steady-state error (a count,\n"
      "or the deadband), IAE and the output's peak-to-peak at rest (10 % of \"Max Output (m):\")\n"
      "are within the goal and none is worse than before; otherwise the board gets its values\n"
      "back, the failing figure is named and the exit status is 1. Nothing is written when the\n"
      "fit is poor. --png/--svg draw before, predicted and after, with the rest records.\n"
      "\n"
      "The count jump: the encoder reports whole counts, and one count of error moves the\n"
      "output by P + I + D / servo period in the cycle it appears (the board's D acts on the\n"
      "error's change per second). The suggestion keeps that within 20 % of \"Max Output (m):\"\n"
      "(--count-jump): a count that flickers while the motor stands still then swings the drive\n"
      "by at most a fifth of its range, instead of buzzing and heating the motor, and the loop\n"
      "keeps a linear range of five counts or more. Gains that settle sooner with a larger jump\n"
      "are left out; present gains beyond it are never kept."));
  AddOptions(parser);
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName,
                        QStringLiteral("--port NAME --step N"),
                        args, io, exitCode))
    return exitCode;
  TSuggestOptions o;
  if (!ReadOptions(io, parser, o)) return kExitUsage;
  const bool json = parser.isSet(QStringLiteral("json"));

  // Ctrl+C only raises a flag: an operation under way ends cleanly and the board gets its
  // values back.
  TInterruptGuard guard;
  TRunStore store;
  if (!OpenRunHistory(io, store)) return kExitFailed;
  TSuggestRequest request;
  request.Step = o.Step;
  request.Prediv = o.Prediv;
  request.Goal = o.Goal;
  request.Apply = o.Apply;
  request.CommandLine = CommandLine(kName, args);
  if (!o.History.empty() && !LoadRuns(io, store, o.History, request.History)) return kExitFailed;
  TBoardSession session;
  if (!o.Port.isEmpty() && !OpenBoard(io, session, o.Port)) return kExitFailed;
  const QString where = o.Port.isEmpty() ? kName : o.Port;
  TSuggestHooks hooks;
  static_cast<TBoardHooks&>(hooks) = BoardHooks(io, where, o.Yes);
  bool shown = false;
  const auto printChosen = [](TCtlIo& out, const TSuggestReport& r) {
    PrintFit(out, r);
    if (r.Suggestion.Found) PrintSuggestion(out, r);
    else PrintModelRefusal(out, r);
  };
  hooks.Chosen = [&](const TSuggestReport& r) {
    shown = true;
    if (!json) {
      printChosen(io, r);
    } else if (o.Apply && !o.Yes && !r.Suggestion.Unchanged) {
      // The table goes where the question goes, so that standard output stays JSON.
      TCtlIo shownIo{io.Err, io.Err, io.In};
      printChosen(shownIo, r);
    }
    io.Out.flush();
  };
  const TSuggestReport r = SuggestGains(o.Port.isEmpty() ? nullptr : &session, store, request, hooks);
  if (!json && !shown) PrintFit(io, r);
  bool ok = r.Succeeded(o.Apply);
  if (r.Failure) PrintFailure(io, where, *r.Failure);
  if (!r.Refusal.isEmpty() && !r.Search) {
    PrintError(io, kName, QStringLiteral("%1; nothing was written").arg(r.Refusal));
    if (!r.RefusalAdvice.isEmpty()) io.Err << "  " << r.RefusalAdvice << "\n" << Qt::flush;
  }
  if (r.HeldAlready)
    io.Err << where << ": the board holds the suggested gains already: nothing to write\n" << Qt::flush;
  ok &= PrintTransactionEnd(io, where, r.Transaction);
  if (!json) {
    if (!o.Apply) PrintApplyNote(io, r);
    PrintSearch(io, r);
    PrintVerification(io, r);
  }
  if (json) PrintSuggestJson(io, r);
  ok &= WritePictures(io, parser, r, o.Port);
  return OutputStatusAfter(io, r.Transaction, ok ? kExitOk : kExitFailed);
}
