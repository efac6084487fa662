// zirv7ctl suggest: the motor fitted to a step test, gains chosen for it, and with --apply
// written and verified; the board gets its values back when the verification is interrupted
// or does worse than the gains before it.
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <tuple>

#include "ctl/commands.h"
#include "ctl/porterrors.h"
#include "ctl/steps.h"
#include "ctl/suggest.h"
#include "globals/numtext.h"
#include "protocol/transactions.h"
#include "boardsession/interrupt.h"
#include "boardsession/session.h"
#include "boardsession/steptest.h"
#include "tuning/verdict.h"

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

// How often the status is asked for before a test goes without it.
constexpr int kStatusAttempts = 5;

// The loop's state before a test, as the status reports it; nothing when no status could be
// read. On a loaded machine an answer may come later than the read waits, or behind the tail
// of the answer before it, so the read is tried again. A start made up instead (command 0)
// would be taken for the truth: with a feed-forward of position the recorded outputs would
// then look like another loop law's.
std::optional<TStepStart> ReadStart(TBoardLink& link) {
  for (int attempt = 0; attempt < kStatusAttempts && !TInterruptGuard::Interrupted(); ++attempt) {
    TPIDStatus status;
    try {
      ReadStatus(link.Channel(), status);
    } catch (const Exception&) {
      continue;
    }
    link.TakeReceiveErrors();
    if (status.Valid)
      return TStepStart{double(status.Command), double(status.Command) - status.Feedback, status.ErrorI, 0.5};
  }
  return std::nullopt;
}

// The board keeps its integral when the gains change, and new gains may set the motor moving:
// waits, up to three seconds, for it to come to rest near its command before a verification.
void WaitForRest(TBoardLink& link, const TPIDParams& params) {
  QElapsedTimer clock;
  clock.start();
  int still = 0;
  double last = 0;
  while (still < 3 && clock.elapsed() < 3000 && !TInterruptGuard::Interrupted()) {
    const std::optional<TStepStart> now = ReadStart(link);
    const bool near = now && std::abs(now->Error) <= std::max(1.0, params.Deadband);
    still = near && std::abs(now->Command - now->Error - last) <= 1 ? still + 1 : 0;
    if (now) last = now->Command - now->Error;
    QThread::msleep(20);
  }
}

QString GainsCaption(const TPIDParams& p) {
  return QStringLiteral("P %1 I %2 D %3").arg(FormatNumber(p.P), FormatNumber(p.I), FormatNumber(p.D));
}

// Runs a step test with the board's present parameters and stores it.
std::optional<TStepRun> MeasuredRun(TCtlIo& io, TBoardLink& link, TRunStore& store, const TPIDParams& params,
                                    int step, int prediv, const QString& label, TStepStart& start) {
  if (step == 0)
    io.Err << link.PortName() << ": rest record, " << GainsCaption(params) << "\n" << Qt::flush;
  else
    io.Err << link.PortName() << ": step test, step " << step << ", " << GainsCaption(params) << "\n" << Qt::flush;
  const std::optional<TStepStart> known = ReadStart(link);
  if (!known) {
    PrintSilentBoard(io, link.PortName(), link.Port(),
                     QStringLiteral("no status before the test in %1 tries").arg(kStatusAttempts), QStringLiteral("s"));
    return std::nullopt;
  }
  start = *known;
  QString failure;
  std::optional<TStepRun> run = RunStepTest(link, params, step, prediv, failure);
  if (!run) {
    PrintError(io, link.PortName(), failure);
    return std::nullopt;
  }
  run->Label = QStringLiteral("%1: %2").arg(label, GainsCaption(params));
  if (!StoreRun(io, store, *run)) return std::nullopt;
  return run;
}

// Measures the board with its present parameters: the step, the step back (so that the motor
// ends where it began) and a rest record of every cycle with the command left alone. Nothing
// when a run fails or the user interrupts.
std::optional<TBoardRuns> MeasureBoard(TCtlIo& io, TBoardLink& link, TRunStore& store, const TPIDParams& params,
                                       int step, int prediv, const QString& label) {
  TBoardRuns runs;
  std::optional<TStepRun> forward, reverse, rest;
  forward = MeasuredRun(io, link, store, params, step, prediv, label, runs.ForwardStart);
  if (forward && !TInterruptGuard::Interrupted())
    reverse = MeasuredRun(io, link, store, params, -step, prediv, label + QStringLiteral(", back"), runs.ReverseStart);
  if (reverse && !TInterruptGuard::Interrupted()) {
    WaitForRest(link, params);  // a slow loop may still be moving when the step's record ends
    rest = MeasuredRun(io, link, store, params, 0, 0, label + QStringLiteral(", at rest"), runs.RestStart);
  }
  if (!rest || TInterruptGuard::Interrupted()) return std::nullopt;
  runs.Forward = std::move(*forward);
  runs.Reverse = std::move(*reverse);
  runs.Rest = std::move(*rest);
  return runs;
}

// Fills the report's runs and the records to fit, from a new test or from the history.
bool GatherRuns(TCtlIo& io, TBoardLink& link, TRunStore& store, const TSuggestOptions& o, TSuggestReport& r,
                TBoardRecords& records) {
  std::vector<TStepRun> runs;
  std::vector<TStepStart> status;
  if (!o.History.empty()) {
    if (!LoadRuns(io, store, o.History, runs)) return false;
  } else {
    r.Before = MeasureBoard(io, link, store, r.Present, *o.Step, o.Prediv.value_or(0), QStringLiteral("before"));
    if (!r.Before) return false;
    runs = {r.Before->Forward, r.Before->Reverse, r.Before->Rest};
    status = {r.Before->ForwardStart, r.Before->ReverseStart, r.Before->RestStart};
  }
  TResult<TBoardRecords> chosen = RecordsOfRuns(runs, status);
  if (!chosen) {
    PrintError(io, kName, chosen.Failure().Message + QStringLiteral("; nothing was written"));
    io.Err << "  " << chosen.Failure().Explanation << "\n";
    return false;
  }
  records = std::move(*chosen);
  for (const TStepRun& run : runs)
    if (run.Step != 0) r.Runs.push_back(run);
  if (o.Port.isEmpty()) r.Present = r.Runs.back().Params;
  return true;
}

// Says why nothing is suggested and that nothing was written.
bool Refuse(TCtlIo& io, TSuggestReport& r, const QString& problem, const QString& advice) {
  r.Refusal = problem;
  PrintError(io, kName, QStringLiteral("%1; nothing was written").arg(problem));
  if (!advice.isEmpty()) io.Err << "  " << advice << "\n";
  return false;
}

// Fits the motor and chooses gains; prints what it found. Returns false when there is
// nothing to suggest (a board whose loop differs, a poor fit, what the model cannot handle, or
// no gains that meet the goal).
bool Choose(TCtlIo& io, const TSuggestOptions& o, const TBoardRecords& records, TSuggestReport& r, bool json) {
  const TStepRun& first = r.Runs.front();
  TChoice c = ChooseGains(records, {r.Present, StepAmplitude(o.Step.value_or(first.Step), r.Present),
                                    o.Prediv.value_or(first.Prediv), r.Goal});
  r.Law = std::move(c.Law);
  r.Identification = std::move(c.Identification);
  r.Extras = std::move(c.Extras);
  r.Deadband = c.Deadband;
  r.CountJumpInForcePct = c.CountJumpInForcePct;
  r.Setup = c.Setup;
  r.PresentPredicted = std::move(c.PresentPredicted);
  r.Suggestion = std::move(c.Suggestion);
  if (!json && r.Identification.Motor.Gain > 0) PrintFit(io, r);
  if (!c.Refusal.empty()) return Refuse(io, r, QString::fromStdString(c.Refusal), QString::fromStdString(c.Advice));
  if (!json) PrintSuggestion(io, r);
  return true;
}

// Writes the suggestion, verifies it with a step each way and a rest record, and keeps it only
// when every figure is within the goal and none is worse than with the gains before it;
// otherwise, and when the verification is interrupted or fails, puts the board back.
bool WriteAndVerify(TCtlIo& io, TBoardSession& session, TRunStore& store, TSuggestReport& r) {
  TBoardLink& link = session.Link();
  const TPIDParams& board = session.Board();
  // A value the board stores otherwise than sent would be verified in the suggestion's name.
  if (!WriteToBoard(io, session, ParamValuesOf(SuggestedParams(r)), TEchoRule::Stop, QStringLiteral("the suggestion")))
    return PutBoardBack(io, session) && false;
  WaitForRest(link, board);
  const int step = int(r.Setup.Step / std::max(1, board.Multiplier));
  if (!TInterruptGuard::Interrupted())
    r.After = MeasureBoard(io, link, store, board, step, r.Setup.Prediv, QStringLiteral("after"));
  if (TInterruptGuard::Interrupted()) PrintError(io, link.PortName(), QStringLiteral("interrupted"));
  if (!r.After || TInterruptGuard::Interrupted()) return PutBoardBack(io, session) && false;
  TStepTestSetup setup = r.Setup;
  setup.Loop = LoopSettings(board);
  setup.Start = r.After->ForwardStart;
  r.AfterPredicted = PredictStepTest(r.Identification.Motor, setup, r.Goal);
  r.Failures = JudgeVerification(FiguresOf(*r.Before), FiguresOf(*r.After), r.Goal, board.Deadband);
  // New gains exercise what the old ones may not have (an I where there was none): the law is
  // checked again on what they did.
  for (const auto& [name, run, start] : {std::tuple{"forward", &r.After->Forward, &r.After->ForwardStart},
                                         std::tuple{"reverse", &r.After->Reverse, &r.After->ReverseStart}}) {
    const TLoopLawCheck law = CheckLoopLaw(RecordOf(*run, *start));
    if (law.Verdict == TLawVerdict::Differs)
      r.Failures.push_back({name, "loop law",
                            std::string("the ") + name + " step with the new gains does not follow the loop law the model "
                            "assumes (sample " + std::to_string(law.WorstSample) + "): this board's loop is another one"});
  }
  r.Kept = r.Failures.empty();
  if (r.Kept) {
    session.Keep();
    return true;
  }
  QStringList why;
  for (const TFigureFailure& f : r.Failures) why.append(QString::fromStdString(f.Text));
  PrintError(io, link.PortName(), QStringLiteral("the suggestion is put back: %1").arg(why.join(QStringLiteral("; "))));
  PutBoardBack(io, session);
  return false;
}

// Says what --apply will write and asks, unless --yes; then journals the board's values,
// writes and verifies. The gains before are measured first where the history gave them.
bool Apply(TCtlIo& io, TBoardSession& session, TRunStore& store, const TSuggestOptions& o, TSuggestReport& r,
           const QString& commandLine, bool json) {
  TBoardLink& link = session.Link();
  const TPIDParams& board = session.Board();
  r.Writes = PlanWrites(board, ParamValuesOf(SuggestedParams(r)));
  if (r.Writes.empty()) {
    io.Err << link.PortName() << ": the board holds the suggested gains already: nothing to write\n";
    return true;
  }
  if (json && !o.Yes) {
    // The table goes where the question goes, so that standard output stays JSON.
    TCtlIo shown{io.Err, io.Err, io.In};
    PrintFit(shown, r);
    PrintSuggestion(shown, r);
  }
  io.Err << QStringLiteral("suggest will make %1 EEPROM write%2 on %3: %4\n")
                .arg(r.Writes.size())
                .arg(r.Writes.size() == 1 ? "" : "s")
                .arg(link.PortName(), DescribeWrites(r.Writes))
         << Qt::flush;
  if (!o.Yes && !Confirm(io, QStringLiteral("Write to the board's EEPROM?"))) {
    PrintError(io, kName, QStringLiteral("nothing was written"));
    r.Writes.clear();
    return false;
  }
  if (!r.Before) {
    r.Before = MeasureBoard(io, link, store, board, int(r.Setup.Step / std::max(1, board.Multiplier)), r.Setup.Prediv,
                            QStringLiteral("before"));
    if (!r.Before) return false;
  }
  JournalWrites(io, session, store, commandLine, DescribeWrites(r.Writes));
  return WriteAndVerify(io, session, store, r);
}

bool WritePictures(TCtlIo& io, const QCommandLineParser& parser, const TSuggestReport& r, const QString& where) {
  if (r.Runs.empty() || !r.Suggestion.Found) return true;
  const TStepRun& before = r.Before ? r.Before->Forward : r.Runs.front();
  std::vector<TStepRun> runs = {before};
  const TPIDParams suggested = SuggestedParams(r);
  runs.push_back(PredictedRun(before, suggested, r.Suggestion.Predicted,
                              QStringLiteral("suggested, predicted: %1").arg(GainsCaption(suggested))));
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
  parser.addOption({QStringLiteral("yes"), QStringLiteral("Write without asking.")});
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
      "(199 cycles, the command left alone); or takes stored runs of one measurement (such as\n"
      "the three a suggest stores) and gives the answer the live suggest gave from them; runs of\n"
      "different boards or different loop settings are refused. Checks that the board's\n"
      "outputs follow the loop law the model assumes (a board whose loop differs gets\n"
      "nothing), fits the motor (gain, time constant, Coulomb friction, a drive lag and a\n"
      "delay of whole servo cycles, a load constant or changing with position, play between\n"
      "motor and encoder, and the speed a step back starts with), says what the records show\n"
      "beyond it (a flickering count, hunting at rest, ringing; ringing refuses), and chooses\n"
      "P, I, D and FF1 for the shortest 2 % settling with at most the target overshoot on the\n"
      "fitted motor. The step back, from where the step leaves the loop, must do as well, and\n"
      "the output must stay within the rest limit in the settled tails. With gain and time\n"
      "constant off by the mismatch (each way, all four corners) the test must still settle\n"
      "(within twice the run), with at most the target overshoot plus the corner allowance (3\n"
      "points by default, --corner-allowance): the corners are the edges of what the fit may\n"
      "be off by, and a board's measured overshoot is allowed as much beyond the target, as no\n"
      "model matches a board exactly. Prints the suggestion beside the present gains with\n"
      "predicted figures for both, then asks. The motor must come within a count of target\n"
      "by the end of both runs, also with half a percent more friction than fitted (the fit\n"
      "may be off), and rest quietly with half the friction too; where no gains that meet the\n"
      "goal do, \"Deadband (b):\" is set a count wider, or nothing is suggested. Where the\n"
      "count flickers (glitches, noise, a motor on the edge of a count) the deadband is set to\n"
      "the flicker, and where it flickers often (noise) one count may move the output by at\n"
      "most 10 %; where the fit finds play between motor and encoder, the deadband is a count\n"
      "at least, so that the loop does not hunt across the play. Values are those the window's\n"
      "fields show exactly. --apply writes the changed values, asking first unless --yes, and\n"
      "measures again (step, step back, rest): the suggestion stays only when settling,\n"
      "overshoot, steady-state error (a count, or the deadband), IAE and the output's\n"
      "peak-to-peak at rest (10 % of \"Max Output (m):\") are within the goal and none is worse\n"
      "than before; otherwise the board gets its values back, the failing figure is named and\n"
      "the exit status is 1. Nothing is written when the fit is poor. --png/--svg draw before,\n"
      "predicted and after, with the rest records.\n"
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
  TBoardSession session;
  TBoardLink& link = session.Link();
  TSuggestReport r;
  r.Goal = o.Goal;
  if (!o.Port.isEmpty()) {
    if (!OpenBoard(io, session, o.Port)) return kExitFailed;
    r.Present = session.Board();
  }
  TBoardRecords records;
  const bool gathered = GatherRuns(io, link, store, o, r, records);
  if (TInterruptGuard::Interrupted()) {
    PrintError(io, o.Port.isEmpty() ? kName : o.Port,
               QStringLiteral("interrupted during the step test; nothing was written"));
    return kExitFailed;
  }
  if (!gathered) return kExitFailed;
  bool ok = Choose(io, o, records, r, json);
  if (ok && o.Apply && !r.Suggestion.Unchanged) {
    ok = Apply(io, session, store, o, r, CommandLine(kName, args), json);
    if (!json) PrintVerification(io, r);
  }
  if (json) PrintSuggestJson(io, r);
  ok &= WritePictures(io, parser, r, o.Port);
  return ok ? kExitOk : kExitFailed;
}
