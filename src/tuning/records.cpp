#include "tuning/records.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "globals/numtext.h"

namespace {

// Returns the error before the step from the first two samples. Every cycle sampled, the first
// sample's error is the step and the error before it: the motor has not moved yet. Otherwise
// the motor moved in the cycles before the first sample; starting from rest at a steady
// acceleration it moved a distance that grows with the square of the cycles, which the first two
// samples (after n0 and n1 cycles) give.
double ErrorBefore(const TStepRecord& r) {
  const double first = r.Errors.front();
  if (r.Setup.Prediv == 0 || r.Errors.size() < 2) return first - r.Setup.Step;
  const double n0 = r.Setup.Prediv, n1 = 2.0 * r.Setup.Prediv + 1;
  const double moved = first - r.Errors[1];  // towards the command: the error falls
  const double perCycleSquared = r.Setup.Step * moved > 0 ? moved / (n1 * n1 - n0 * n0) : 0;
  return first - r.Setup.Step + perCycleSquared * n0 * n0;
}

// Returns whether the loop's output of sample k holds no D: the error stood still into it (over
// the whole block where not every cycle was sampled).
bool StillAt(const TStepRecord& r, size_t k) {
  if (k == 0) return false;
  if (r.Setup.Prediv == 0) return r.Errors[k] == r.Errors[k - 1];
  return k >= 2 && r.Errors[k] == r.Errors[k - 1] && r.Errors[k] == r.Errors[k - 2];
}

// Sets the integral before the step (with the command at 0): from the samples off the limit
// where the error stood still, the integral there less the errors summed since the step. Every
// cycle sampled, the first such sample tells it exactly. Otherwise a cycle between the samples
// may have read another count (an encoder's noise) and put D into the sample's output: at
// prediv 2 a noisy count's D alone read as a load of -3.9 %. Such a kick goes either way, as
// the count went either way: where the still samples tell apart by kicks, the middle of what
// they tell is taken.
void SetIntegralBefore(TStepRecord& r) {
  const TLoopSettings& loop = r.Setup.Loop;
  TStepStart& start = r.Setup.Start;
  if (loop.I == 0 && loop.FF0 == 0) return;
  const std::vector<double> errors = CycleErrors(r);
  const size_t cycles = size_t(r.Setup.Prediv + 1);
  double summed = 0;  // the errors the integral took up since the step, up to the sample's cycle
  std::vector<double> told;  // what each still sample tells
  for (size_t k = 0; k < r.Errors.size() && k < r.Outputs.size(); ++k) {
    const bool limited = std::abs(r.Outputs[k]) >= loop.MaxOutput - 1e-9;
    for (size_t j = k * cycles; j < (k + 1) * cycles && j < errors.size(); ++j)
      if (!limited) summed += errors[j];
    if (limited || !StillAt(r, k)) continue;
    const double withoutIntegral = loop.P * r.Errors[k] + loop.FF0 * r.Setup.Step;
    told.push_back(loop.I != 0 ? (r.Outputs[k] - withoutIntegral) / loop.I - summed
                               : (r.Outputs[k] - loop.P * r.Errors[k]) / loop.FF0 - r.Setup.Step);
    if (cycles == 1) break;
  }
  if (told.empty()) return;
  double& value = loop.I != 0 ? start.ErrorI : start.Command;
  // Samples that tell the same within half a count's kick of D saw none: the first, nearest
  // the step, tells it.
  const auto [least, most] = std::minmax_element(told.begin(), told.end());
  const double drivePerUnit = std::abs(loop.I != 0 ? loop.I : loop.FF0);
  if (!(loop.D > 0) || (*most - *least) * drivePerUnit < loop.D / loop.Period / 2) {
    value = told.front();
    return;
  }
  const auto middle = told.begin() + std::ptrdiff_t(told.size() / 2);
  std::nth_element(told.begin(), middle, told.end());
  value = *middle;
}

// Returns what tells apart the loops two runs ran: their loop settings and step multiplier.
bool SameLoop(const TPIDParams& a, const TPIDParams& b) {
  const TLoopSettings x = LoopSettings(a), y = LoopSettings(b);
  return x.P == y.P && x.I == y.I && x.D == y.D && x.Deadband == y.Deadband && x.MaxOutput == y.MaxOutput &&
         x.FF0 == y.FF0 && x.FF1 == y.FF1 && x.Period == y.Period && a.Multiplier == b.Multiplier;
}

// Places a run where the board's command stood: each run of a measurement starts where the one
// before left the command, so that where the motor stood is known across them (a load that
// changes with position needs it). The feed-forward of the command, which StartOfRun took into
// the integral's drive, is taken back out.
void Chain(TStepRecord& record, double& command) {
  TStepStart& start = record.Setup.Start;
  const TLoopSettings& loop = record.Setup.Loop;
  if (loop.FF0 != 0 && loop.I == 0) {  // the command was read from the feed-forward
    command = start.Command + record.Setup.Step;
    return;
  }
  if (loop.I != 0) start.ErrorI -= loop.FF0 * command / loop.I;
  start.Command = command;
  command += record.Setup.Step;
}

QString GainsText(const TStepRun& run) {
  return QStringLiteral("#%1 with P %2 I %3 D %4 and Deadband %5")
      .arg(run.Id)
      .arg(FormatNumber(run.Params.P), FormatNumber(run.Params.I), FormatNumber(run.Params.D),
           FormatNumber(run.Params.Deadband));
}

}  // namespace

TStepRecord RecordOf(const TStepRun& run, const TStepStart& start) {
  TStepRecord record;
  record.Setup.Loop = LoopSettings(run.Params);
  record.Setup.Step = StepAmplitude(run.Step, run.Params);
  record.Setup.Prediv = run.Prediv;
  record.Setup.Samples = int(run.Errors.size());
  record.Setup.Start = start;
  record.Errors = run.Errors;
  record.Outputs = run.Outputs;
  return record;
}

TStepStart StartOfRun(const TStepRun& run) {
  TStepRecord record = RecordOf(run, {});
  if (record.Errors.empty()) return record.Setup.Start;
  record.Setup.Start.Error = ErrorBefore(record);
  SetIntegralBefore(record);
  return record.Setup.Start;
}

TResult<TBoardRecords> RecordsOfRuns(std::vector<TStepRun> runs, const std::vector<TStepStart>& statusBefore) {
  std::vector<size_t> order(runs.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return runs[a].Id < runs[b].Id; });
  TBoardRecords records;
  double command = 0;
  for (size_t i : order) {
    const TStepRun& run = runs[i];
    const TStepRun& first = runs[order.front()];
    if (run.Port != first.Port)
      return TFailure{QStringLiteral("runs #%1 and #%2 were made on different boards (%3, %4)")
                          .arg(first.Id)
                          .arg(run.Id)
                          .arg(first.Port, run.Port),
                      QStringLiteral("A fit of them would mix two machines. Give the runs of one board, such as the "
                                     "three one suggest stored.")};
    if (!SameLoop(run.Params, first.Params))
      return TFailure{QStringLiteral("the runs were made with different loop settings (%1, %2)")
                          .arg(GainsText(first), GainsText(run)),
                      QStringLiteral("Gains are chosen from one set of present gains, and the rest record must show "
                                     "the loop of the steps. Give the runs of one measurement, such as the three one "
                                     "suggest stored.")};
    TStepRecord record = RecordOf(run, StartOfRun(run));
    const TLoopSettings& loop = record.Setup.Loop;
    if (loop.I == 0 && loop.FF0 == 0 && i < statusBefore.size()) record.Setup.Start.ErrorI = statusBefore[i].ErrorI;
    Chain(record, command);
    if (run.Step == 0) records.Rest = std::move(record);
    else records.Steps.push_back(std::move(record));
  }
  if (records.Steps.empty())
    return TFailure{QStringLiteral("there is no step test among the runs, only rest records"),
                    QStringLiteral("Give runs with a step, such as the three one suggest stored.")};
  return records;
}
