// zirv7ctl suggest: the motor fitted to a step test, gains chosen for it, and with --apply
// written and verified; the board gets its values back when the verification is interrupted
// or does worse than the gains before it.
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

#include "ctl/commands.h"
#include "ctl/steps.h"
#include "ctl/suggest.h"
#include "globals/numtext.h"
#include "protocol/transactions.h"
#include "boardsession/session.h"
#include "boardsession/interrupt.h"
#include "boardsession/steptest.h"

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

// The loop's state before a test, as the status reports it; a status that cannot be read
// leaves the start of a settled loop.
TStepStart ReadStart(TBoardLink& link) {
  TPIDStatus status;
  try {
    ReadStatus(link.Channel(), status);
  } catch (const Exception&) {
    return {};
  }
  link.TakeReceiveErrors();
  if (!status.Valid) return {};
  return {double(status.Command), double(status.Command) - status.Feedback, status.ErrorI, 0.5};
}

// The board keeps its integral when the gains change, and new gains may set the motor moving:
// waits, up to three seconds, for it to come to rest near its command before a verification.
void WaitForRest(TBoardLink& link, const TPIDParams& params) {
  QElapsedTimer clock;
  clock.start();
  int still = 0;
  double last = 0;
  while (still < 3 && clock.elapsed() < 3000 && !TInterruptGuard::Interrupted()) {
    const TStepStart now = ReadStart(link);
    const bool near = std::abs(now.Error) <= std::max(1.0, params.Deadband);
    still = near && std::abs(now.Command - now.Error - last) <= 1 ? still + 1 : 0;
    last = now.Command - now.Error;
    QThread::msleep(20);
  }
}

QString GainsCaption(const TPIDParams& p) {
  return QStringLiteral("P %1 I %2 D %3").arg(FormatNumber(p.P), FormatNumber(p.I), FormatNumber(p.D));
}

// Runs a step test with the board's present parameters and stores it.
std::optional<TStepRun> MeasuredRun(TCtlIo& io, TBoardLink& link, TRunStore& store, const TPIDParams& params,
                                    int step, int prediv, const QString& label, TStepStart& start) {
  io.Err << link.PortName() << ": step test, step " << step << ", " << GainsCaption(params) << "\n" << Qt::flush;
  start = ReadStart(link);
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

// Fills the report's runs and the records to fit, from a new test or from the history.
bool GatherRuns(TCtlIo& io, TBoardLink& link, TRunStore& store, const TSuggestOptions& o, TSuggestReport& r,
                std::vector<TStepRecord>& records) {
  if (!o.History.empty()) {
    QString error;
    if (!store.Load(o.History, r.Runs, error)) {
      PrintError(io, TRunStore::DefaultPath(), error);
      return false;
    }
    for (const TStepRun& run : r.Runs) records.push_back(RecordOf(run, {}));
    if (o.Port.isEmpty()) r.Present = r.Runs.back().Params;
    return true;
  }
  TStepStart start;
  std::optional<TStepRun> run = MeasuredRun(io, link, store, r.Present, *o.Step, o.Prediv.value_or(0),
                                            QStringLiteral("before"), start);
  if (!run) return false;
  records.push_back(RecordOf(*run, start));
  r.Runs.push_back(std::move(*run));
  return true;
}

// Fits the motor and chooses gains; prints what it found. Returns false when there is
// nothing to suggest (a poor fit, or no gains that meet the goal).
bool Choose(TCtlIo& io, const TSuggestOptions& o, const std::vector<TStepRecord>& records, TSuggestReport& r,
            bool json) {
  r.Identification = IdentifyMotor(records);
  if (!json) PrintFit(io, r);
  if (!r.Identification.Usable) {
    PrintError(io, kName, QStringLiteral("the fit is poor: %1; nothing was written").arg(QString::fromStdString(r.Identification.Problem)));
    io.Err << "  " << QString::fromStdString(r.Identification.Advice) << "\n";
    return false;
  }
  const TStepRun& newest = r.Runs.back();
  const int step = o.Step.value_or(newest.Step);
  r.Setup.Loop = LoopSettings(r.Present);
  r.Setup.Step = StepAmplitude(step, r.Present);
  r.Setup.Prediv = o.Prediv.value_or(newest.Prediv);
  r.Setup.Start.Command = records.back().Setup.Start.Command;
  r.PresentPredicted = PredictStepTest(r.Identification.Motor, r.Setup, r.Goal);
  r.Suggestion = SuggestGains(r.Identification.Motor, r.Setup, r.Goal);
  if (!r.Suggestion.Found) {
    PrintError(io, kName, QStringLiteral("%1; nothing was written").arg(QString::fromStdString(r.Suggestion.Problem)));
    io.Err << "  " << QString::fromStdString(r.Suggestion.Advice) << "\n";
    return false;
  }
  if (!json) PrintSuggestion(io, r);
  return true;
}

QString WritesText(const std::vector<TPlannedWrite>& writes) {
  QStringList parts;
  for (const TPlannedWrite& w : writes) parts.append(DescribeWrite(w));
  return parts.join(QStringLiteral(", "));
}

// Returns whether a is worse for the goal than b: more overshoot beyond the target, or as
// much and a later settling (never counts as latest).
bool Worse(const TStepFigures& a, const TStepFigures& b, const TTuningGoal& goal) {
  const double excessA = std::max(0.0, a.OvershootPct - goal.TargetOvershootPct);
  const double excessB = std::max(0.0, b.OvershootPct - goal.TargetOvershootPct);
  if (excessA != excessB) return excessA > excessB;
  return a.SettlingSamples.value_or(INT_MAX) > b.SettlingSamples.value_or(INT_MAX);
}

// Writes the suggestion, runs the verification and keeps the suggestion unless the run was
// interrupted, failed or did worse than the gains before it.
bool WriteAndVerify(TCtlIo& io, TBoardSession& session, TRunStore& store, TSuggestReport& r) {
  TBoardLink& link = session.Link();
  const TPIDParams& board = session.Board();
  // A value the board stores otherwise than sent would be verified in the suggestion's name.
  const TParamValues target = ParamValuesOf(WithGains(board, r.Suggestion.Gains));
  if (!WriteToBoard(io, session, target, TEchoRule::Stop, QStringLiteral("the suggestion")))
    return PutBoardBack(io, session) && false;
  WaitForRest(link, board);
  TStepStart start;
  std::optional<TStepRun> after;
  if (!TInterruptGuard::Interrupted())
    after = MeasuredRun(io, link, store, board, int(r.Setup.Step / std::max(1, board.Multiplier)), r.Setup.Prediv,
                        QStringLiteral("after"), start);
  if (TInterruptGuard::Interrupted()) PrintError(io, link.PortName(), QStringLiteral("interrupted"));
  if (!after || TInterruptGuard::Interrupted()) return PutBoardBack(io, session) && false;
  r.After = std::move(after);
  TStepTestSetup setup = r.Setup;
  setup.Loop = LoopSettings(board);
  setup.Start = start;
  r.AfterPredicted = PredictStepTest(r.Identification.Motor, setup, r.Goal);
  r.Kept = MeetsGoal(r.After->Figures, r.Goal) || !Worse(r.After->Figures, r.Runs.back().Figures, r.Goal);
  if (r.Kept) {
    session.Keep();
    return true;
  }
  PrintError(io, link.PortName(), QStringLiteral("the suggestion did worse on the board than the gains before it"));
  PutBoardBack(io, session);
  return false;
}

// Says what --apply will write and asks, unless --yes; then writes and verifies.
bool Apply(TCtlIo& io, TBoardSession& session, TRunStore& store, const TSuggestOptions& o, TSuggestReport& r,
           const QString& commandLine) {
  TBoardLink& link = session.Link();
  const TPIDParams& board = session.Board();
  r.Writes = PlanWrites(board, ParamValuesOf(WithGains(board, r.Suggestion.Gains)));
  if (r.Writes.empty()) {
    io.Err << link.PortName() << ": the board holds the suggested gains already: nothing to write\n";
    return true;
  }
  io.Err << QStringLiteral("suggest will make %1 EEPROM write%2 on %3: %4\n")
                .arg(r.Writes.size())
                .arg(r.Writes.size() == 1 ? "" : "s")
                .arg(link.PortName(), WritesText(r.Writes))
         << Qt::flush;
  if (!o.Yes && !Confirm(io, QStringLiteral("Write to the board's EEPROM?"))) {
    PrintError(io, kName, QStringLiteral("nothing was written"));
    r.Writes.clear();
    return false;
  }
  JournalWrites(io, session, store, commandLine, WritesText(r.Writes));
  return WriteAndVerify(io, session, store, r);
}

bool WritePictures(TCtlIo& io, const QCommandLineParser& parser, const TSuggestReport& r, const QString& where) {
  if (r.Runs.empty() || !r.Suggestion.Found) return true;
  std::vector<TStepRun> runs = {r.Runs.back()};
  const TPIDParams suggested = WithGains(r.Present, r.Suggestion.Gains);
  runs.push_back(PredictedRun(r.Runs.back(), suggested, r.Suggestion.Predicted,
                              QStringLiteral("suggested, predicted: %1").arg(GainsCaption(suggested))));
  if (r.After) runs.push_back(*r.After);
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
      "Runs a step test with the board's present gains (or takes stored runs), fits the motor\n"
      "to it (gain, time constant, Coulomb friction) and chooses P, I, D and FF1 for the\n"
      "shortest 2 % settling with at most the target overshoot on the fitted motor. With gain\n"
      "and time constant off by the mismatch (each way, all four corners) the test must still\n"
      "settle, with at most the target overshoot plus the corner allowance (3 points by\n"
      "default, --corner-allowance): the corners are the edges of what the fit may be off by,\n"
      "and a board's measured overshoot is allowed as much beyond the target, as no model\n"
      "matches a board exactly. Prints the suggestion beside the present gains with predicted\n"
      "figures for both. --apply writes the changed values, asking first\n"
      "unless --yes, and verifies them with a step test; the board gets its values back when\n"
      "the verification is interrupted, fails or does worse. Nothing is written when the fit\n"
      "is poor. --png/--svg draw before and after.\n"
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
  std::vector<TStepRecord> records;
  if (!GatherRuns(io, link, store, o, r, records)) return kExitFailed;
  bool ok = !TInterruptGuard::Interrupted() && Choose(io, o, records, r, json);
  if (ok && o.Apply && !r.Suggestion.Unchanged) {
    ok = Apply(io, session, store, o, r, CommandLine(kName, args));
    if (!json) PrintVerification(io, r);
  }
  if (json) PrintSuggestJson(io, r);
  ok &= WritePictures(io, parser, r, o.Port);
  return ok ? kExitOk : kExitFailed;
}
