// zirv7ctl suggest: what it prints, as tables or as JSON.
#include <QJsonArray>
#include <QJsonObject>

#include "ctl/runtable.h"
#include "ctl/steps.h"
#include "ctl/suggest.h"
#include "globals/jsontext.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"

namespace {

const TStepFigures kNoFigures;

std::optional<double> Samples(std::optional<int> samples) {
  if (!samples) return std::nullopt;
  return double(*samples);
}

QString LawVerdictText(TLawVerdict verdict) {
  switch (verdict) {
    case TLawVerdict::Matches: return QStringLiteral("the board's outputs follow the model's law");
    case TLawVerdict::Differs: return QStringLiteral("the board's outputs do not follow the model's law");
    case TLawVerdict::Undecided: break;
  }
  return QStringLiteral("the record tells too little to check the law");
}

// Says what the count jump is and the cap the suggestion keeps to, and when the present gains
// pass it.
QString CountJumpNote(const TSuggestReport& r) {
  QString note = QStringLiteral("count jump: how far one count of error moves the output (P + I + D / servo period), "
                                "%1 % of \"Max Output (m):\" at most\n")
                     .arg(FormatNumber(r.Goal.MaxCountJumpPct));
  if (CountJumpPct(r.Setup.Loop) > r.Goal.MaxCountJumpPct)
    note += QStringLiteral("the present gains pass it: a count that flickers swings the drive by %1 of its limit\n")
                .arg(PercentText(CountJumpPct(r.Setup.Loop)));
  return note;
}

// Says what the gains must do when gain and time constant are off by the mismatch.
QString MismatchNote(const TTuningGoal& goal) {
  return QStringLiteral("mismatch: gain and time constant \u00B1%1 % off must settle too, with overshoot at most %2 "
                        "(the target %3 + the corner allowance of %4 points)\n")
      .arg(QString::number(goal.Mismatch * 100, 'f', 0), PercentText(CornerOvershootLimitPct(goal)),
           PercentText(goal.TargetOvershootPct), FormatNumber(goal.CornerAllowancePct));
}

QString Mismatch(const TTuningGoal& goal) {
  return QStringLiteral("\u00B1%1 %").arg(QString::number(goal.Mismatch * 100, 'f', 0));
}

std::optional<double> PeriodMs(const TSuggestReport& r) {
  return r.Runs.empty() ? std::nullopt : SamplePeriodMs(r.Present, r.Setup.Prediv);
}

// One column of figures: measured ones have no worst case.
struct TFigureColumn {
  QString Header;
  const TStepFigures* Figures;
  const TPrediction* Prediction;  // null for a measured run
};

std::vector<QStringList> FigureRows(const TSuggestReport& r, const std::vector<TFigureColumn>& columns) {
  const std::optional<double> period = PeriodMs(r);
  std::vector<QStringList> rows = {{QStringLiteral("figure")}, {QStringLiteral("settling")}, {QStringLiteral("overshoot")},
                                   {QStringLiteral("rise")}, {QStringLiteral("peak output")},
                                   {QStringLiteral("ss error")}, {QStringLiteral("iae")},
                                   {QStringLiteral("rest output p-p")}, {QStringLiteral("rest error p-p")},
                                   {QStringLiteral("settling, worst of ") + Mismatch(r.Goal)},
                                   {QStringLiteral("overshoot, worst of ") + Mismatch(r.Goal)}};
  for (const TFigureColumn& c : columns) {
    const TStepFigures& f = *c.Figures;
    rows[0].append(c.Header);
    rows[1].append(TimeText(Samples(f.SettlingSamples), period));
    rows[2].append(PercentText(f.OvershootPct));
    rows[3].append(TimeText(f.RiseSamples, period));
    rows[4].append(PercentText(f.PeakOutput));
    rows[5].append(QString::number(f.SteadyStateError, 'f', 2));
    rows[6].append(QString::number(f.Iae, 'f', 0));
    rows[7].append(f.RestOutputPpPct ? PercentText(*f.RestOutputPpPct) : QStringLiteral("-"));
    rows[8].append(f.RestErrorPp ? QString::number(*f.RestErrorPp, 'f', 0) : QStringLiteral("-"));
    rows[9].append(c.Prediction ? TimeText(Samples(c.Prediction->WorstSettlingSamples), period) : QString());
    rows[10].append(c.Prediction ? PercentText(c.Prediction->WorstOvershootPct) : QString());
  }
  return rows;
}

// The gains with the count jump they make in the loop.
QJsonObject GainsJson(const TGains& g, const TLoopSettings& loop) {
  return {{QStringLiteral("P"), g.P}, {QStringLiteral("I"), g.I}, {QStringLiteral("D"), g.D},
          {QStringLiteral("FF0"), g.FF0}, {QStringLiteral("FF1"), g.FF1},
          {QStringLiteral("count_jump_pct"), FigureJson(CountJumpPct(WithGains(loop, g)))}};
}

QJsonObject PredictionJson(const TPrediction& p, std::optional<double> period) {
  QJsonObject o = FiguresJson(p.Figures, period);
  o.insert(QStringLiteral("worst_settling_samples"), FigureJson(Samples(p.WorstSettlingSamples)));
  o.insert(QStringLiteral("worst_overshoot_pct"), FigureJson(p.WorstOvershootPct));
  return o;
}

// Says what the fitted motor has beyond gain, time constant and friction: "a drive lag of
// 2.00 ms, a delay of 1 servo cycle, a load of 3.10 % of drive (-0.60 % per 100 counts), 2.5
// counts of play"; empty when nothing.
QString MotorBeyondText(const TMotorModel& m) {
  QStringList parts;
  if (m.Lag > 0) parts.append(QStringLiteral("a drive lag of %1 ms").arg(QString::number(m.Lag * 1000, 'f', 2)));
  if (m.DelayCycles > 0)
    parts.append(QStringLiteral("a delay of %1 servo cycle%2").arg(m.DelayCycles).arg(m.DelayCycles == 1 ? "" : "s"));
  if (m.Load != 0 || m.LoadSlope != 0)
    parts.append(QStringLiteral("a load of %1 % of drive (%2 % per 100 counts)")
                     .arg(QString::number(m.Load, 'f', 2), QString::number(m.LoadSlope * 100, 'f', 2)));
  if (m.Play > 0) parts.append(QStringLiteral("%1 counts of play").arg(QString::number(m.Play, 'f', 1)));
  return parts.join(QStringLiteral(", "));
}

QJsonObject MotorJson(const TIdentification& id) {
  QJsonObject o{{QStringLiteral("usable"), id.Usable},
                {QStringLiteral("gain"), FigureJson(id.Motor.Gain)},
                {QStringLiteral("time_constant_ms"), FigureJson(id.Motor.TimeConstant * 1000)},
                {QStringLiteral("friction_pct"), FigureJson(id.Motor.Friction)},
                {QStringLiteral("lag_ms"), FigureJson(id.Motor.Lag * 1000)},
                {QStringLiteral("delay_cycles"), id.Motor.DelayCycles},
                {QStringLiteral("load_pct"), FigureJson(id.Motor.Load)},
                {QStringLiteral("load_pct_per_count"), FigureJson(id.Motor.LoadSlope)},
                {QStringLiteral("play_counts"), FigureJson(id.Motor.Play)},
                {QStringLiteral("fit_rms"), FigureJson(id.FitRms)},
                {QStringLiteral("fit_rms_pct"), FigureJson(id.FitRmsPct)}};
  if (!id.Usable) {
    o.insert(QStringLiteral("problem"), QString::fromStdString(id.Problem));
    o.insert(QStringLiteral("advice"), QString::fromStdString(id.Advice));
  }
  return o;
}

QJsonArray WritesJson(const std::vector<TPlannedWrite>& writes) {
  QJsonArray array;
  for (const TPlannedWrite& w : writes)
    array.append(QJsonObject{{QStringLiteral("key"), QLatin1String(w.Row->FileKey)},
                             {QStringLiteral("from"), w.From},
                             {QStringLiteral("to"), w.To}});
  return array;
}

QJsonObject SuggestedJson(const TSuggestReport& r) {
  const TSuggestion& s = r.Suggestion;
  QJsonObject o{{QStringLiteral("found"), s.Found}};
  if (!s.Found) {
    o.insert(QStringLiteral("problem"), QString::fromStdString(s.Problem));
    o.insert(QStringLiteral("advice"), QString::fromStdString(s.Advice));
    return o;
  }
  o.insert(QStringLiteral("unchanged"), s.Unchanged);
  o.insert(QStringLiteral("gains"), GainsJson(s.Gains, r.Setup.Loop));
  o.insert(QStringLiteral("deadband"), r.Deadband);
  o.insert(QStringLiteral("count_jump_pct_in_force"), FigureJson(r.CountJumpInForcePct));
  o.insert(QStringLiteral("note"), s.Note.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(s.Note)));
  o.insert(QStringLiteral("predicted"), PredictionJson(s.Predicted, PeriodMs(r)));
  return o;
}

QJsonObject BoardRunsJson(const TBoardRuns& runs) {
  return {{QStringLiteral("runs"), QJsonArray{runs.Forward.Id, runs.Reverse.Id, runs.Rest.Id}},
          {QStringLiteral("forward"), FiguresJson(runs.Forward.Figures, SamplePeriodMs(runs.Forward))},
          {QStringLiteral("reverse"), FiguresJson(runs.Reverse.Figures, SamplePeriodMs(runs.Reverse))},
          {QStringLiteral("rest"), FiguresJson(runs.Rest.Figures, SamplePeriodMs(runs.Rest))}};
}

QJsonObject VerificationJson(const TSuggestReport& r) {
  if (!r.After) return {};
  QJsonArray failures;
  for (const TFigureFailure& f : r.Failures)
    failures.append(QJsonObject{{QStringLiteral("run"), QString::fromStdString(f.Run)},
                                {QStringLiteral("figure"), QString::fromStdString(f.Figure)},
                                {QStringLiteral("text"), QString::fromStdString(f.Text)}});
  QJsonObject o = BoardRunsJson(*r.After);
  o.insert(QStringLiteral("run"), r.After->Forward.Id);
  o.insert(QStringLiteral("predicted"), PredictionJson(r.AfterPredicted, PeriodMs(r)));
  o.insert(QStringLiteral("measured"), FiguresJson(r.After->Forward.Figures, SamplePeriodMs(r.After->Forward)));
  o.insert(QStringLiteral("failures"), failures);
  o.insert(QStringLiteral("kept"), r.Kept);
  return o;
}

QJsonArray LawJson(const std::vector<TLoopLawCheck>& checks) {
  QJsonArray array;
  for (const TLoopLawCheck& c : checks)
    array.append(QJsonObject{{QStringLiteral("verdict"), c.Verdict == TLawVerdict::Matches   ? QStringLiteral("matches")
                                                         : c.Verdict == TLawVerdict::Differs ? QStringLiteral("differs")
                                                                                             : QStringLiteral("undecided")},
                             {QStringLiteral("checked"), c.Checked},
                             {QStringLiteral("worst_deviation_pct"), FigureJson(c.WorstDeviation)},
                             {QStringLiteral("how"), QString::fromStdString(c.How)}});
  return array;
}

QJsonObject ExtrasJson(const TPlantExtras& x) {
  QJsonArray findings;
  for (const std::string& f : x.Findings) findings.append(QString::fromStdString(f));
  return {{QStringLiteral("flicker_counts"), x.FlickerCounts},
          {QStringLiteral("flicker_events"), x.FlickerEvents},
          {QStringLiteral("hunts_at_rest"), x.HuntsAtRest},
          {QStringLiteral("ringing_hz"), FigureJson(x.RingingHz)},
          {QStringLiteral("play_counts"), FigureJson(x.PlayCounts)},
          {QStringLiteral("findings"), findings}};
}

// Returns what the suggested deadband stands against: a flickering count, play, the friction
// that holds the motor off target (the suggestion's note says how far), or else a count that
// would come and go at rest with gains whose count jump passes the rest limit.
QString DeadbandCause(const TSuggestReport& r) {
  if (r.Deadband == DeadbandAgainstFlicker(r.Extras)) return QStringLiteral("flicker");
  if (r.Deadband == DeadbandAgainstPlay(r.Extras)) return QStringLiteral("play");
  if (!r.Suggestion.Note.empty()) return QStringLiteral("friction");
  return QStringLiteral("count coming and going at rest, which would move the output by more than a rest may,");
}

}  // namespace

void PrintFit(TCtlIo& io, const TSuggestReport& r) {
  const TIdentification& id = r.Identification;
  if (!(id.Motor.Gain > 0)) return;  // refused before any fit
  QStringList ids;
  for (const TStepRun& run : r.Runs) ids.append(QStringLiteral("#%1").arg(run.Id));
  io.Out << QStringLiteral("motor (fitted to run %1): gain %2 counts/s per %, time constant %3 ms, friction %4 %\n")
                .arg(ids.join(QStringLiteral(", ")), QString::number(id.Motor.Gain, 'f', 0),
                     QString::number(id.Motor.TimeConstant * 1000, 'f', 2), QString::number(id.Motor.Friction, 'f', 2));
  const QString beyond = MotorBeyondText(id.Motor);
  if (!beyond.isEmpty()) io.Out << QStringLiteral("the motor has: %1\n").arg(beyond);
  io.Out << QStringLiteral("fit_rms %1 counts (%2 % of the step)\n")
                .arg(QString::number(id.FitRms, 'f', 2), QString::number(id.FitRmsPct, 'f', 2));
  for (const TLoopLawCheck& law : r.Law)
    io.Out << QStringLiteral("loop law: %1, %2 samples compared (worst %3 % of full drive); %4\n")
                  .arg(LawVerdictText(law.Verdict))
                  .arg(law.Checked)
                  .arg(QString::number(law.WorstDeviation, 'g', 2), QString::fromStdString(law.How));
  for (const std::string& finding : r.Extras.Findings) io.Out << "the records show: " << QString::fromStdString(finding) << "\n";
}

void PrintSuggestion(TCtlIo& io, const TSuggestReport& r) {
  const TGains present = GainsOf(r.Setup.Loop), suggested = r.Suggestion.Gains;
  // Known only once the gains are chosen, so here rather than with the fit.
  if (r.CountJumpInForcePct > 0 && r.CountJumpInForcePct < r.Goal.MaxCountJumpPct)
    io.Out << QStringLiteral("against the %1 one count may move the output by at most %2 % of \"Max Output (m):\"\n")
                  .arg(GlitchCounts(r.Extras) > 0
                           ? QStringLiteral("encoder's glitches (its count jumping by as much as %1 counts for a sample)")
                                 .arg(GlitchCounts(r.Extras))
                           : QStringLiteral("flicker"),
                       FormatNumber(r.CountJumpInForcePct));
  if (r.Deadband != r.Present.Deadband)
    io.Out << QStringLiteral("against the %1 the suggestion sets \"Deadband (b):\" to %2 %3\n")
                  .arg(DeadbandCause(r), FormatNumber(r.Deadband),
                       r.Deadband == 1 ? QStringLiteral("count") : QStringLiteral("counts"));
  io.Out << "\n";
  std::vector<QStringList> gains = {{QStringLiteral("gain"), QStringLiteral("present"), QStringLiteral("suggested")}};
  for (const auto& [name, field] : {std::pair{"P", &TGains::P}, {"I", &TGains::I}, {"D", &TGains::D},
                                    {"FF0", &TGains::FF0}, {"FF1", &TGains::FF1}})
    gains.push_back({QLatin1String(name), FormatNumber(present.*field), FormatNumber(suggested.*field)});
  gains.push_back({QStringLiteral("Deadband"), FormatNumber(r.Present.Deadband), FormatNumber(r.Deadband)});
  gains.push_back({QStringLiteral("count jump"), PercentText(CountJumpPct(r.Setup.Loop)),
                   PercentText(CountJumpPct(WithGains(r.Setup.Loop, suggested)))});
  PrintTable(io, gains, 1);
  io.Out << CountJumpNote(r);
  io.Out << MismatchNote(r.Goal);
  io.Out << "\n";
  PrintTable(io, FigureRows(r, {{QStringLiteral("present, measured"), &r.Runs.front().Figures, nullptr},
                                {QStringLiteral("present, at rest"), r.Before ? &r.Before->Rest.Figures : &kNoFigures, nullptr},
                                {QStringLiteral("present, predicted"), &r.PresentPredicted.Figures, &r.PresentPredicted},
                                {QStringLiteral("suggested, predicted"), &r.Suggestion.Predicted.Figures, &r.Suggestion.Predicted}}),
             1);
  if (!r.Suggestion.Note.empty()) io.Out << "note: " << QString::fromStdString(r.Suggestion.Note) << "\n";
  if (r.Suggestion.Unchanged)
    io.Out << "\nThe present gains settle as soon as anything found: nothing to change.\n";
}

void PrintVerification(TCtlIo& io, const TSuggestReport& r) {
  if (!r.After || !r.Before) return;
  io.Out << QStringLiteral("\nverification (runs #%1, #%2, #%3):\n").arg(r.After->Forward.Id).arg(r.After->Reverse.Id).arg(r.After->Rest.Id);
  std::vector<TFigureColumn> columns = {{QStringLiteral("before"), &r.Before->Forward.Figures, nullptr},
                                        {QStringLiteral("after"), &r.After->Forward.Figures, nullptr},
                                        {QStringLiteral("before, back"), &r.Before->Reverse.Figures, nullptr},
                                        {QStringLiteral("after, back"), &r.After->Reverse.Figures, nullptr},
                                        {QStringLiteral("before, at rest"), &r.Before->Rest.Figures, nullptr},
                                        {QStringLiteral("after, at rest"), &r.After->Rest.Figures, nullptr}};
  // Gains found on the board have no prediction where the model gave none.
  if (r.Suggestion.Found)
    columns.insert(columns.begin(), {QStringLiteral("predicted"), &r.AfterPredicted.Figures, &r.AfterPredicted});
  PrintTable(io, FigureRows(r, columns), 1);
  if (r.Kept)
    io.Out << (r.Search && r.Search->Kept && GainsOf(LoopSettings(*r.Search->Kept)) != r.Suggestion.Gains
                   ? "\nEvery figure is within the goal and none is worse: the gains found on the board stay.\n"
                   : "\nEvery figure is within the goal and none is worse: the suggestion stays.\n");
  for (const TFigureFailure& f : r.Failures) io.Out << "failed: " << QString::fromStdString(f.Text) << "\n";
}

void PrintSuggestJson(TCtlIo& io, const TSuggestReport& r) {
  QJsonArray runs;
  for (const TStepRun& run : r.Runs) runs.append(run.Id);
  QJsonObject o{{QStringLiteral("goal"), QJsonObject{{QStringLiteral("target_overshoot_pct"), r.Goal.TargetOvershootPct},
                                                     {QStringLiteral("mismatch_pct"), FigureJson(r.Goal.Mismatch * 100)},
                                                     {QStringLiteral("corner_allowance_pct"), r.Goal.CornerAllowancePct},
                                                     {QStringLiteral("max_count_jump_pct"), r.Goal.MaxCountJumpPct}}},
                {QStringLiteral("runs"), runs},
                {QStringLiteral("motor"), MotorJson(r.Identification)},
                {QStringLiteral("loop_law"), LawJson(r.Law)},
                {QStringLiteral("extras"), ExtrasJson(r.Extras)}};
  // Every key on every report: null where the procedure did not get that far.
  o.insert(QStringLiteral("refused"), r.Refusal.isEmpty() ? QJsonValue() : QJsonValue(r.Refusal));
  o.insert(QStringLiteral("before"), r.Before ? QJsonValue(BoardRunsJson(*r.Before)) : QJsonValue());
  o.insert(QStringLiteral("present"), QJsonValue());
  o.insert(QStringLiteral("suggested"), QJsonValue());
  if (r.Identification.Usable) {
    o.insert(QStringLiteral("present"),
             QJsonObject{{QStringLiteral("gains"), GainsJson(GainsOf(r.Setup.Loop), r.Setup.Loop)},
                         {QStringLiteral("measured"), FiguresJson(r.Runs.front().Figures, PeriodMs(r))},
                         {QStringLiteral("predicted"), PredictionJson(r.PresentPredicted, PeriodMs(r))}});
    o.insert(QStringLiteral("suggested"), SuggestedJson(r));
  }
  o.insert(QStringLiteral("writes"), WritesJson(r.Writes));
  o.insert(QStringLiteral("verification"), r.After ? QJsonValue(VerificationJson(r)) : QJsonValue());
  o.insert(QStringLiteral("search"), SearchJson(r));
  io.Out << JsonText(o);
}
