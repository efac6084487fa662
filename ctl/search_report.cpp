// zirv7ctl suggest: what it prints of the trials on the board, as a table or as JSON, and of
// what --apply would do.
#include <QJsonArray>
#include <QJsonObject>

#include "ctl/runtable.h"
#include "ctl/suggest.h"
#include "globals/numtext.h"

namespace {

QString EndText(TSearchEnd end) {
  switch (end) {
    case TSearchEnd::Kept: return QStringLiteral("kept");
    case TSearchEnd::NoneBetter: return QStringLiteral("none better");
    case TSearchEnd::Tripped: return QStringLiteral("tripped");
    case TSearchEnd::Running: break;
  }
  return QStringLiteral("stopped");
}

// The run numbers of a trial in the history: "#12, #13".
QString TrialRuns(const TBoardSearchReport& s, const TSearchTrial& trial) {
  QStringList ids;
  for (int index : trial.Runs)
    if (size_t(index) < s.Runs.size()) ids.append(QStringLiteral("#%1").arg(s.Runs[size_t(index)].Id));
  return ids.join(QStringLiteral(", "));
}

QJsonObject SearchGainsJson(const TSearchGains& g) {
  return {{QStringLiteral("P"), g.P}, {QStringLiteral("I"), g.I}, {QStringLiteral("D"), g.D}, {QStringLiteral("deadband"), g.Deadband}};
}

}  // namespace

void PrintModelRefusal(TCtlIo& io, const TSuggestReport& r) {
  io.Out << "the model gives no gains: " << r.Refusal << "\n";
  if (!r.RefusalAdvice.isEmpty()) io.Out << "  " << r.RefusalAdvice << "\n";
}

void PrintApplyNote(TCtlIo& io, const TSuggestReport& r) {
  if (r.Plan.Details.isEmpty()) return;
  io.Out << QStringLiteral("\nwith --apply, suggest would make at most %1 EEPROM writes:\n").arg(r.Plan.Total());
  for (const QString& detail : r.Plan.Details) io.Out << "  " << detail << "\n";
}

void PrintSearch(TCtlIo& io, const TSuggestReport& r) {
  if (!r.Search) return;
  const TBoardSearchReport& s = *r.Search;
  io.Out << QStringLiteral("\ntrials on the board (%1 step tests, %2 s, %3 EEPROM writes):\n")
                .arg(s.Runs.size())
                .arg(QString::number(s.Seconds, 'f', 1))
                .arg(s.Writes);
  std::vector<QStringList> rows = {{QStringLiteral("trial"), QStringLiteral("P"), QStringLiteral("I"), QStringLiteral("D"),
                                    QStringLiteral("b"), QStringLiteral("runs"), QStringLiteral("cost"), QStringLiteral("verdict")}};
  for (const TSearchTrial& t : s.Trials)
    rows.push_back({QString::number(t.Number), FormatNumber(t.Gains.P), FormatNumber(t.Gains.I), FormatNumber(t.Gains.D),
                    FormatNumber(t.Gains.Deadband), TrialRuns(s, t),
                    t.Cost ? QString::number(*t.Cost, 'f', 1) : QStringLiteral("-"), QString::fromStdString(t.Verdict)});
  PrintTable(io, rows, 1);
  if (s.Kept)
    io.Out << QStringLiteral("the board keeps P %1 I %2 D %3 Deadband %4\n")
                  .arg(FormatNumber(s.Kept->P), FormatNumber(s.Kept->I), FormatNumber(s.Kept->D), FormatNumber(s.Kept->Deadband));
  else
    io.Out << "the board keeps its own values\n";
}

QJsonValue SearchJson(const TSuggestReport& r) {
  if (!r.Search) return QJsonValue();
  const TBoardSearchReport& s = *r.Search;
  QJsonArray trials;
  for (const TSearchTrial& t : s.Trials) {
    QJsonArray runs;
    for (int index : t.Runs)
      if (size_t(index) < s.Runs.size()) runs.append(s.Runs[size_t(index)].Id);
    trials.append(QJsonObject{{QStringLiteral("trial"), t.Number},
                              {QStringLiteral("gains"), SearchGainsJson(t.Gains)},
                              {QStringLiteral("runs"), runs},
                              {QStringLiteral("cost"), t.Cost ? FigureJson(*t.Cost) : QJsonValue()},
                              {QStringLiteral("dangerous"), t.Danger != TDanger::None},
                              {QStringLiteral("verified"), t.Judged},
                              {QStringLiteral("verdict"), QString::fromStdString(t.Verdict)}});
  }
  QJsonObject kept;
  if (s.Kept) kept = SearchGainsJson({s.Kept->P, s.Kept->I, s.Kept->D, s.Kept->Deadband});
  return QJsonObject{{QStringLiteral("trials"), trials},
                     {QStringLiteral("end"), EndText(s.End)},
                     {QStringLiteral("kept"), s.Kept ? QJsonValue(kept) : QJsonValue()},
                     {QStringLiteral("step_tests"), int(s.Runs.size())},
                     {QStringLiteral("seconds"), FigureJson(s.Seconds)},
                     {QStringLiteral("eeprom_writes"), s.Writes}};
}

std::vector<TStepRun> SearchPictureRuns(const TSuggestReport& r) {
  std::vector<TStepRun> runs;
  if (!r.Search) return runs;
  for (const TSearchTrial& t : r.Search->Trials) {
    if (!t.Better || t.Runs.empty() || size_t(t.Runs.front()) >= r.Search->Runs.size()) continue;
    runs.push_back(r.Search->Runs[size_t(t.Runs.front())]);
  }
  return runs;
}
