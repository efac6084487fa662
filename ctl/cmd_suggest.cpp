// zirv7ctl suggest: the motor fitted to a step test, gains chosen for it, and with --apply
// written and verified; the board gets its values back when the verification is interrupted
// or does worse than the gains before it.
#include "boardsession/interrupt.h"
#include "boardtuning/suggestonboard.h"
#include "ctl/commands.h"
#include "ctl/steps.h"
#include "ctl/suggest.h"

namespace {

const QString kSuggest = QStringLiteral("suggest");

struct TSuggestOptions {
  QString Port;
  std::optional<int> Step;
  std::optional<int> Prediv;
  TTuningGoal Goal;
  bool Apply = false;
  bool Yes = false;
  std::vector<qint64> History;  // stored runs to fit instead of a new test
};

TSuggestOptions ReadOptions(const TCommandArgs& args) {
  TSuggestOptions o;
  o.Port = args.Value("port");
  o.Step = args.WholeNumber("step");
  o.Prediv = args.WholeNumber("prediv");
  o.Apply = args.Has("apply");
  o.Yes = args.Has("yes");
  o.Goal.TargetOvershootPct = args.Number("target-overshoot", o.Goal.TargetOvershootPct);
  o.Goal.Mismatch = args.Number("mismatch", o.Goal.Mismatch * 100) / 100;
  o.Goal.CornerAllowancePct = args.Number("corner-allowance", o.Goal.CornerAllowancePct);
  o.Goal.MaxCountJumpPct = args.Number("count-jump", o.Goal.MaxCountJumpPct);
  // Run numbers: the values of --from-history and, after it, the arguments that follow.
  o.History = RecordNumbers(args.Values("from-history") + args.Positional());
  return o;
}

bool WritePictures(TCtlIo& io, const TCommandArgs& args, const TSuggestReport& r, const QString& where) {
  if (r.Runs.empty() || (!r.Suggestion.Found && !r.Search)) return true;
  const TStepRun& before = r.Before ? r.Before->Forward : r.Runs.front();
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
  return WriteRunFiles(io, args, runs, title);
}

}  // namespace

int RunSuggest(const TCommandArgs& args, TCtlIo& io) {
  const TSuggestOptions o = ReadOptions(args);
  const bool json = args.Has("json");

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
  request.CommandLine = CommandLine(args);
  if (!o.History.empty() && !LoadRuns(io, store, o.History, request.History)) return kExitFailed;
  TBoardSession session;
  if (!o.Port.isEmpty() && !OpenBoard(io, session, o.Port)) return kExitFailed;
  const QString where = o.Port.isEmpty() ? kSuggest : o.Port;
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
    PrintError(io, kSuggest, QStringLiteral("%1; nothing was written").arg(r.Refusal));
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
  ok &= WritePictures(io, args, r, o.Port);
  return OutputStatusAfter(io, r.Transaction, ok ? kExitOk : kExitFailed);
}
