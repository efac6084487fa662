#include "boardtuning/suggestonboard.h"

#include <QElapsedTimer>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "boardsession/journal.h"
#include "globals/numtext.h"

namespace {

// Sets the report's refusal: why nothing is suggested, and what to try.
bool Refuse(TSuggestReport& r, const QString& problem, const QString& advice) {
  r.Refusal = problem;
  r.RefusalAdvice = advice;
  return false;
}

// Fills the report's runs and the records to fit, from new tests or from the history: the
// runs of one measurement, in the order they were taken, the loop's state before each read
// from its samples (and, where those cannot tell the integral's sum, from the status read
// before a new test).
bool GatherRuns(TBoardSession* session, TRunStore& history, const TSuggestRequest& request, TSuggestReport& r,
                const TBoardHooks& hooks, TBoardRecords& records) {
  std::vector<TStepRun> runs = request.History;
  std::vector<TStepStart> status;
  if (runs.empty()) {
    TResult<TBoardRuns> before =
        MeasureBoard(*session, history, r.Present, *request.Step, request.Prediv.value_or(0), QStringLiteral("before"), hooks);
    if (!before) {
      const std::optional<TFailure> stop = hooks.Stop ? hooks.Stop() : std::nullopt;
      r.Failure = stop ? TFailure{QStringLiteral("%1 during the step test; nothing was written").arg(stop->Message), {}}
                       : before.Failure();
      return false;
    }
    r.Before = std::move(*before);
    runs = {r.Before->Forward, r.Before->Reverse, r.Before->Rest};
    status = {r.Before->ForwardStart, r.Before->ReverseStart, r.Before->RestStart};
  }
  TResult<TBoardRecords> chosen = RecordsOfRuns(runs, status);
  if (!chosen) {
    r.Failure = TFailure{chosen.Failure().Message + QStringLiteral("; nothing was written"), chosen.Failure().Explanation};
    return false;
  }
  records = std::move(*chosen);
  for (const TStepRun& run : runs)
    if (run.Step != 0) r.Runs.push_back(run);
  if (!session) r.Present = r.Runs.back().Params;
  return true;
}

// Fits the motor and chooses gains. Returns false when there is nothing to suggest (a board
// whose loop differs, a poor fit, what the model cannot handle, or no gains that meet the goal).
bool Choose(const TSuggestRequest& request, const TBoardRecords& records, TSuggestReport& r) {
  const TStepRun& first = r.Runs.front();
  TChoice c = ChooseGains(records, {r.Present, StepAmplitude(request.Step.value_or(first.Step), r.Present),
                                    request.Prediv.value_or(first.Prediv), r.Goal});
  r.Law = std::move(c.Law);
  r.Identification = std::move(c.Identification);
  r.Extras = std::move(c.Extras);
  r.Deadband = c.Deadband;
  r.CountJumpInForcePct = c.CountJumpInForcePct;
  r.Setup = c.Setup;
  r.PresentPredicted = std::move(c.PresentPredicted);
  r.Suggestion = std::move(c.Suggestion);
  if (c.Refusal.empty()) return true;
  return Refuse(r, QString::fromStdString(c.Refusal), QString::fromStdString(c.Advice));
}

// Returns whether gains may be searched on the board where the model gives none or its
// suggestion fails: not on a board whose loop differs from the law the model assumes, nor
// after a failure.
bool Searchable(const TSuggestReport& r) {
  if (r.Failure || r.Runs.empty()) return false;
  return std::none_of(r.Law.begin(), r.Law.end(), [](const TLoopLawCheck& law) { return law.Verdict == TLawVerdict::Differs; });
}

// Whether the suggestion is tried first: there is one, and it changes something.
bool Guessing(const TSuggestReport& r) { return r.Suggestion.Found && !r.Suggestion.Unchanged; }

int SearchStep(const TSuggestRequest& request, const TSuggestReport& r) { return request.Step.value_or(r.Runs.back().Step); }

// The smallest step, in counts, a search without the model's suggestion starts from: its
// settling band (2 %) must hold a count, or no settling can be told from a count's flicker.
constexpr int kLeastSearchCounts = 50;
int SearchPrediv(const TSuggestRequest& request, const TSuggestReport& r) {
  return request.Prediv.value_or(r.Runs.back().Prediv);
}

// The parameters the trials put their gains into: the board's, with the suggestion's
// feed-forward where there is a suggestion.
TPIDParams SearchBase(const TSuggestReport& r, const TPIDParams& board) {
  if (!r.Suggestion.Found) return board;
  TPIDParams base = board;
  base.FF0 = r.Suggestion.Gains.FF0;
  base.FF1 = r.Suggestion.Gains.FF1;
  return base;
}

}  // namespace

void TakeFirstGuessInto(TSearchSetup& setup, const std::optional<TSearchGains>& suggested,
                        const TIdentification& identification, const TPlantExtras& extras, const TStepTestSetup& test) {
  if (suggested && GlitchCounts(extras) == 0) {
    setup.Guess = suggested;
    return;
  }
  // Within the hold the model chooses as it would have without the suggestion's bolder count
  // jump: from the deadband the records ask for (or the board's), gains that pull against the
  // friction where some do, else the fastest within the hold.
  TStepTestSetup held = test;
  held.Loop.Deadband = std::max(setup.Loop.Deadband, setup.DeadbandFloor);
  TSearchSetup within = setup;
  within.Goal = GoalAgainstGlitches(setup.Goal, extras);
  if (suggested && identification.Usable) {
    TTuningGoal pulling = within.Goal;
    pulling.FrictionMarginPct = FrictionMarginPct(identification, setup.Goal);
    const TSuggestion model = SuggestGains(identification.Motor, held, pulling);
    if (model.Found && !model.Unchanged) {
      setup.Guess = TSearchGains{model.Gains.P, model.Gains.I, model.Gains.D, model.Deadband};
      return;
    }
  }
  TakeModelGuessInto(within, identification, extras, held, held.Loop.Deadband);
  setup.Guess = within.Guess;
}

namespace {

TSearchGains SuggestedGuess(const TSuggestReport& r) {
  const TPIDParams suggested = SuggestedParams(r);
  return TSearchGains{suggested.P, suggested.I, suggested.D, suggested.Deadband};
}

TSearchSetup SearchSetupOf(const TSuggestRequest& request, const TSuggestReport& r, const TPIDParams& board,
                           const TSearchBudget& budget) {
  TSearchSetup setup;
  setup.Goal = r.Goal;
  setup.Loop = LoopSettings(board);
  setup.Step = SearchStep(request, r);
  setup.Multiplier = std::max(1, board.Multiplier);
  setup.Prediv = SearchPrediv(request, r);
  setup.MaxRuns = budget.Runs;
  if (r.Before) setup.Before = FiguresOf(*r.Before);
  TakeRecordsInto(setup, r.Identification, r.Extras);
  if (Guessing(r) || !r.Suggestion.Found)
    TakeFirstGuessInto(setup, Guessing(r) ? std::optional(SuggestedGuess(r)) : std::nullopt, r.Identification, r.Extras,
                       r.Setup);
  return setup;
}

QString Range(double low, double high) { return QStringLiteral("%1 to %2").arg(FormatNumber(low), FormatNumber(high)); }

// The suggestion as the search tries it first, when it does.
std::optional<TSearchGains> GuessTried(TGainSearch& search) {
  const std::optional<TPlannedRun> first = search.Next();
  if (!first || first->Purpose != TRunPurpose::Probe) return std::nullopt;
  return first->Gains;
}

// What apply will do, shown before the question: the suggestion's writes, and the search's
// step tests, travel, time, bounds and EEPROM writes.
TWritePlan ApplyPlan(const TSuggestRequest& request, const TSuggestReport& r, const TBoardSession& session,
                     const TSearchBudget& budget) {
  const TPIDParams& board = session.Board();
  const TSearchSetup setup = SearchSetupOf(request, r, board, budget);
  const TSearchBounds bounds = SearchBounds(setup);
  const int counts = std::abs(setup.Step) * setup.Multiplier;
  TWritePlan plan;
  plan.Command = QStringLiteral("suggest");
  plan.Port = session.PortName();
  // Where the records show a glitch, the search may start elsewhere (TakeFirstGuessInto).
  const bool suggestionFirst = Guessing(r) && setup.Guess == SuggestedGuess(r);
  plan.Source = suggestionFirst ? QStringLiteral("the suggestion, then trials") : QStringLiteral("trials of gains");
  TGainSearch first(setup);
  const std::optional<TSearchGains> tried = GuessTried(first);
  const TPIDParams triedParams = tried ? WithSearchGains(SearchBase(r, board), *tried) : SuggestedParams(r);
  if (suggestionFirst) plan.Steps = {{QString(), PlanWrites(board, ParamValuesOf(triedParams))}};
  plan.MoreWrites = size_t(budget.Writes) - std::min(size_t(budget.Writes), plan.Total());
  if (suggestionFirst)
    plan.Details.append(QStringLiteral("the suggestion first, with a step of %1, then verified with a step of %2 each way "
                                       "and a rest record; where it fails, gains are searched:")
                            .arg(SmallStep(setup.Step))
                            .arg(setup.Step));
  if (suggestionFirst && tried && tried->Deadband != SuggestedParams(r).Deadband)
    plan.Details.append(QStringLiteral("the suggestion is tried with \"Deadband (b):\" %1: one count of error moves its "
                                       "output by more than the %2 % of \"Max Output (m):\" a rest may, and where the motor "
                                       "stops on the edge of a count a rest record may or may not show it")
                            .arg(FormatNumber(tried->Deadband), FormatNumber(kRestLimitPct)));
  plan.Details.append(
      QStringLiteral("at most %1 step tests of %2 (%3 counts; a quarter of it for gains far from those measured), the motor "
                     "moving within %3 counts of where it stands, in about %4 s (at most %5 s with the tests so far)")
          .arg(budget.Runs)
          .arg(setup.Step)
          .arg(counts)
          .arg(QString::number(std::min(budget.Seconds, budget.Runs * budget.RunSeconds), 'f', 0))
          .arg(QString::number(kTuningSeconds, 'f', 0)));
  plan.Details.append(QStringLiteral("gains within P %1, I %2, D %3 and Deadband %4, one count of error moving the output "
                                     "by at most %5 % (%6 % of \"Max Output (m):\")")
                          .arg(Range(bounds.PMin, bounds.PMax), Range(0, bounds.IMax), Range(0, bounds.DMax),
                               Range(0, bounds.DeadbandMax), FormatNumber(bounds.MaxCountJump), FormatNumber(r.Goal.MaxCountJumpPct)));
  if (setup.GlitchCounts > 0)
    plan.Details.append(QStringLiteral("the encoder's count jumps for a sample by as much as %1 counts: gains are held to those "
                                       "whose kick at such a glitch, the motor resting at the deadband's edge, moves the "
                                       "output by about %2, at most %3 % of drive, as a rest may")
                            .arg(FormatNumber(setup.GlitchCounts), QString::fromStdString(GlitchKickText(setup.GlitchCounts)),
                                 QString::number(bounds.QuietCountJump, 'f', 1)));
  const QString fault = board.FaultError > 0 ? QStringLiteral(", a following error beyond %1 (half of \"Fault Error (f):\")")
                                                   .arg(FormatNumber(board.FaultError / 2))
                                             : QString();
  plan.Details.append(QStringLiteral("a trial that shows a growing oscillation, the output held at its limit%1 gets the "
                                     "board's values back at once; a trip of the servo ends the search")
                          .arg(fault));
  plan.Details.append(QStringLiteral("gains stay only when they meet the goal and no figure is worse than now; otherwise the "
                                     "board's values go back"));
  return plan;
}

// The runs of the search's last verification, as the report shows them: the first step each
// way of the whole step (a run that only brought the motor back is not one), and the rest record.
std::optional<TBoardRuns> JudgedRuns(const TGainSearch& search, const std::vector<TStepRun>& stored, int step) {
  if (!search.JudgedFigures() || stored.size() < search.Runs().size()) return std::nullopt;
  TBoardRuns runs;
  bool forward = false, reverse = false;
  for (int index : search.JudgeRuns()) {
    const TStepRun& run = stored[size_t(index)];
    const TStepStart& start = search.Runs()[size_t(index)].Record.Setup.Start;
    if (run.Step == 0) {
      runs.Rest = run;
    } else if (std::abs(run.Step) != std::abs(step)) {
      continue;
    } else if ((run.Step > 0) == (step > 0)) {
      if (std::exchange(forward, true)) continue;
      runs.Forward = run;
      runs.ForwardStart = start;
    } else {
      if (std::exchange(reverse, true)) continue;
      runs.Reverse = run;
      runs.ReverseStart = start;
    }
  }
  return runs;
}

// Why the board gets its values back after a search that kept nothing.
TFailure SearchPutBackReason(const TGainSearch& search) {
  if (search.End() == TSearchEnd::Tripped)
    return {QStringLiteral("trial %1 tripped the servo (a following error beyond \"Fault Error (f):\"); the search ends")
                .arg(search.Trials().back().Number),
            QStringLiteral("The servo stays switched off until something enables it again (on this board a step test "
                           "does); find out what made the motor run away before trying again.")};
  if (!search.Failures().empty()) {
    // Where the encoder's glitches held every trial to a small kick, that is why nothing was
    // kept, whatever figure the last verification failed on.
    const auto& failures = search.Failures();
    const auto glitch =
        std::find_if(failures.begin(), failures.end(), [](const TFigureFailure& f) { return f.Figure == "glitches"; });
    QString why = glitch == failures.end() ? QString() : QString::fromStdString(glitch->Text);
    if (!why.isEmpty()) why = why.front().toUpper() + why.mid(1) + QLatin1Char('.');
    // A search that verified nothing says why it had nothing to verify.
    const QString last = search.JudgeRuns().empty() ? QString() : QStringLiteral("the last verified: ");
    return {QStringLiteral("no gains tried both meet the goal and do no worse than before; %1%2")
                .arg(last, QString::fromStdString(failures.front().Text)),
            why};
  }
  return {QStringLiteral("no gains tried both meet the goal and do no worse than before"), {}};
}

// Tries the suggestion, where there is one, and searches for gains on the board, all in one
// transaction with one journal entry; keeps what the verdict lets stay, else puts the board
// back.
void SearchOnBoard(TBoardSession& session, TRunStore& history, const TSuggestRequest& request, TSuggestReport& r,
                   const TBoardHooks& hooks, double secondsUsed) {
  const TPIDParams board = session.Board();
  const int used = r.Before ? 3 : 0;
  const TSearchBudget budget = SearchBudget(board, SearchPrediv(request, r), used, secondsUsed);
  const TSearchSetup setup = SearchSetupOf(request, r, board, budget);
  TGainSearch search(setup);
  TStoreJournal journal(history, session.PortName(), request.CommandLine, r.Plan.JournalText());
  QString source = QStringLiteral("the search");
  TWriteTransaction txn(session, &journal, TransactionHooks(hooks, &source));
  TSessionTrialBoard trials(session, history, txn, SearchBase(r, board), SearchStep(request, r), SearchPrediv(request, r),
                            hooks, &source, GuessTried(search));
  const TSearchOutcome out = RunGainSearch(search, trials, budget, hooks.Progress);
  TBoardSearchReport& report = r.Search.emplace();
  report.Trials = search.Trials();
  report.Runs = trials.StoredRuns();
  report.End = search.End();
  report.Bounds = search.Bounds();
  report.Budget = budget;
  r.After = JudgedRuns(search, report.Runs, SearchStep(request, r));
  r.Failures = search.Failures();
  if (r.After && r.Suggestion.Found) {
    TStepTestSetup setup = r.Setup;
    setup.Loop = LoopSettings(r.After->Forward.Params);
    setup.Start = r.After->ForwardStart;
    r.AfterPredicted = PredictStepTest(r.Identification.Motor, setup, r.Goal);
  }
  source.clear();
  if (out.Failure) {
    if (txn.IsOpen()) txn.PutBack(*out.Failure);
  } else if (search.Kept()) {
    const TPIDParams kept = WithSearchGains(SearchBase(r, board), *search.Kept());
    if (txn.Write(ParamValuesOf(kept), TValueText::Shown) && txn.Keep()) {
      r.Kept = true;
      report.Kept = kept;
    }
  } else {
    txn.PutBack(SearchPutBackReason(search));
  }
  report.Writes = int(txn.Result().Values.size());
  report.Seconds = out.Seconds;
  r.Transaction = txn.Result();
}

// Asks with the plan; measures the gains before where the history gave them, then tries the
// suggestion and searches.
void Apply(TBoardSession& session, TRunStore& history, const TSuggestRequest& request, TSuggestReport& r,
           const TBoardHooks& hooks, double secondsUsed) {
  if (Guessing(r)) {
    r.Writes = PlanWrites(session.Board(), ParamValuesOf(SuggestedParams(r)));
    r.HeldAlready = r.Writes.empty();
    if (r.HeldAlready) return;
  }
  if (!Confirmed(hooks, r.Plan)) {
    r.Declined = true;
    r.Writes.clear();
    return;
  }
  QElapsedTimer clock;
  clock.start();
  if (!r.Before) {
    const TPIDParams& board = session.Board();
    TResult<TBoardRuns> before = MeasureBoard(session, history, board, SearchStep(request, r), SearchPrediv(request, r),
                                              QStringLiteral("before"), hooks);
    if (!before) {
      r.Failure = before.Failure();
      return;
    }
    r.Before = std::move(*before);
  }
  SearchOnBoard(session, history, request, r, hooks, secondsUsed + double(clock.nsecsElapsed()) / 1e9);
}

}  // namespace

bool TSuggestReport::Succeeded(bool apply) const {
  if (Failure || Declined) return false;
  if (apply && Search) return Kept;
  if (!Refusal.isEmpty()) return false;
  return !apply || Suggestion.Unchanged || HeldAlready || Kept;
}

TSuggestReport SuggestGains(TBoardSession* session, TRunStore& history, const TSuggestRequest& request,
                            const TSuggestHooks& hooks) {
  QElapsedTimer clock;
  clock.start();
  TSuggestReport r;
  r.Goal = request.Goal;
  r.Transaction.End = TTransactionEnd::Untouched;
  if (session) r.Present = session->Board();
  if (request.Apply && session && !r.Present.Enabled) {
    Refuse(r, QStringLiteral("the servo is disabled: no gains are tried on a motor the board does not hold"),
           QStringLiteral("find out what switched it off (a following error beyond \"Fault Error (f):\"), enable it, "
                          "then run suggest again"));
    return r;
  }
  TBoardRecords records;
  if (!GatherRuns(session, history, request, r, hooks, records)) return r;
  const bool chosen = Choose(request, records, r);
  const bool searchable =
      session && Searchable(r) &&
      (Guessing(r) || std::abs(SearchStep(request, r)) * std::max(1, session->Board().Multiplier) >= kLeastSearchCounts);
  if (searchable) r.Plan = ApplyPlan(request, r, *session, SearchBudget(session->Board(), SearchPrediv(request, r), 3, 0));
  if (!chosen && !(request.Apply && searchable)) return r;
  const double secondsUsed = double(clock.nsecsElapsed()) / 1e9;
  if (hooks.Chosen) hooks.Chosen(r);
  if (request.Apply && searchable && !(chosen && r.Suggestion.Unchanged))
    Apply(*session, history, request, r, hooks, secondsUsed);
  return r;
}

TPIDParams SuggestedParams(const TSuggestReport& r) {
  TPIDParams params = WithGains(r.Present, r.Suggestion.Gains);
  params.Deadband = r.Deadband;
  return params;
}

TStepRun PredictedRun(const TStepRun& like, const TPIDParams& params, const TPrediction& prediction,
                      const QString& label) {
  TStepRun run;
  run.Time = like.Time;
  run.Port = like.Port;
  run.Label = label;
  run.Step = like.Step;
  run.Prediv = like.Prediv;
  run.Params = params;
  run.Errors = prediction.Samples.Errors;
  run.Outputs = prediction.Samples.Outputs;
  UpdateFigures(run);
  return run;
}
