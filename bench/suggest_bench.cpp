// How well zirv7ctl suggest tunes the machines people have. Every kind of machine the simulated
// board can be (each motor option, and a few combinations), with its parameters drawn from
// seeded ranges, several draws per kind; each at prediv 0 and 2, from the default, a sluggish
// and an oscillating start: suggest --apply --yes as it runs on a board (the present gains
// measured, the model's choice, its suggestion tried first and the search on the board), run
// in this process on the simulated board's model without its wire (--serial: the command on
// the simulated board through its serial line, without pacing), then the gains it left measured on a fresh board with the same machine (a step, the step back and
// a rest record) against the goal and against the start's gains, and the step's settling
// against the best that a grid over P, I, D and Deadband finds offline on the same machine.
//
// For each kind and over all it prints:
//   suggest_goal_met, suggest_goal_met_share: the cases whose final gains settle within the
//     record both ways with at most 5 % overshoot, rest within a count (or the deadband) of
//     target, and keep the output within 10 % of "Max Output (m):" peak-to-peak at rest;
//   suggest_goal_met_lasting: of those, the cases whose gains meet the goal again in each of
//     five more such measurements on the same board, each step a count longer (a motor that
//     rests on the edge of a count, or a glitch that comes while it rests off the middle of its
//     deadband, shows in some rest records and not in others); their lines say "met", the
//     others "met, not lasting" (and the grid's gains, where it ran, "not lasting");
//   suggest_worse_than_before: cases where a figure of the final gains is worse than the
//     start's (the verdict's own rule);
//   suggest_kept_but_missed: cases where suggest kept new gains, telling the user that every
//     figure is within the goal (the board does not have its own values back), and the
//     measurement above of those gains misses the goal; each such case's line says "kept but
//     missed";
//   suggest_goal_met_by_grid: the cases whose machine the grid finds gains for that meet the
//     goal (the most a search could meet; where it finds none, an honest refusal is the answer);
//   suggest_settling_vs_best_median, _worst: settling of the final gains over the grid's best
//     (inf where the goal is missed);
//   suggest_steps_used_worst: step-test exchanges ("r" commands) of one suggest;
//   suggest_seconds_worst: one suggest's time on a board that runs in real time, worked out
//     from the exchanges' line time, servo cycles and waits a paced board spends (--serial:
//     from its processor time and the board's); the slowest cases, of three kinds, are run
//     again through the serial line on paced boards and measured (suggest_seconds_paced_KIND,
//     suggest_seconds_paced_worst, suggest_steps_used_paced_worst);
//   suggest_eeprom_writes_worst: parameter writes of one suggest, put-backs included (in
//     process: the values each trial changes, and the board's own values put back where the
//     search keeps nothing);
//   suggest_unstable_trials: runs with new gains that grew an oscillation, held the output at
//     its limit for over a tenth of the record or let the error pass half of "Fault Error (f):",
//     and suggest_unstable_trials_late: those of them after which the board ran further tests
//     before it got its values back;
//   suggest_repeat_spread: the largest over smallest P of six suggests (without --apply) on one
//     board (draw 0, prediv 0, the default start), and suggest_repeat_deadbands: how many
//     deadbands they chose.
// The grid keeps to the count jump suggest keeps to (one count of error moves the output by at
// most 20 % of its limit), so that both choose among the same gains.
//
// Arguments: --kinds a,b,...  only these kinds; --draws N  draws per kind (default 3);
// --prediv N  only this prediv; --jobs N  machines tuned side by side (default 4; suggest spends
// most of its time waiting for the board); --no-grid  no grid (ratios left out); --grid-cache
// FILE  the grid's results of machines searched before (see ReadGridCache); --no-repeat  no
// repeat spread; --no-paced  no paced measurement; --serial  every case through the serial
// line; --trace  each case's search runs and trials too. Each case's outcome goes to standard
// error, one line each.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "benchutil.h"
#include "ctl/command.h"
#include "runstore/runstore.h"
#include "sim/simulator.h"
#include "tests/tuning/boardrun.h"
#include "boardtuning/boardsearch.h"
#include "boardtuning/suggestonboard.h"
#include "tuning/choice.h"
#include "tuning/gainsearch.h"
#include "tuning/identify.h"
#include "tuning/records.h"
#include "tuning/suggest.h"
#include "tuning/verdict.h"

namespace {

const TTuningGoal kGoal;  // suggest's defaults: 5 % overshoot, 20 % mismatch, 20 % count jump
constexpr int kStep = 200;
constexpr int kDefaultDraws = 3;
constexpr size_t kPacedCases = 3;  // the slowest cases measured again on paced boards
constexpr double kPeriod = 4e-4;  // the default servo cycle
// A step test's answer, 404 lines of about 15 bytes at 57600 baud: the loop runs on while the
// board sends it, so the next exchange finds the motor (and under a load the sum) moved on.
constexpr double kAnswerLineSeconds = 404 * 15 / 5760.0;

// How a parameter of a kind is drawn.
enum class TScale { Linear, Log, Whole };

struct TRange {
  const char* Key;
  double Min, Max;
  TScale Scale = TScale::Linear;
};

// A kind of machine: the keys it always has, the ranges its parameters are drawn from, and
// machines of its kind that come first (known cases).
struct TKind {
  const char* Name;
  const char* Base;
  std::vector<TRange> Ranges;
  std::vector<const char*> Known;
};

const std::vector<TKind> kKinds = {
    // The first-order motor of one time constant; first the one whose sluggish start was fixed
    // once and then refused again.
    {"first_order", "", {{"gain", 300, 6000, TScale::Log}, {"tau", 0.005, 0.06, TScale::Log}, {"friction", 0.2, 1.5}},
     {"gain=700,tau=0.04,friction=1"}},
    {"lag", "", {{"lag", 0.001, 0.003}, {"delay", 0, 1, TScale::Whole}}, {"lag=0.002,delay=1"}},
    {"delay", "", {{"delay", 1, 3, TScale::Whole}}, {}},
    {"play", "", {{"play", 1, 4}}, {"play=3"}},
    {"encoder_noise", "", {{"encnoise", 1, 2, TScale::Whole}}, {}},
    {"glitches", "", {{"glitch", 3, 30, TScale::Log}}, {}},
    {"coarse_encoder", "", {{"cpr", 150, 800, TScale::Log}}, {"cpr=400"}},
    {"stribeck", "", {{"breakaway", 1, 3}, {"stribeck", 30, 300, TScale::Log}}, {}},
    {"high_friction", "", {{"friction", 1.5, 3}, {"gain", 500, 2000, TScale::Log}, {"tau", 0.02, 0.05}}, {}},
    {"constant_load", "", {{"load", -10, 10}}, {}},
    {"gravity_arm", "", {{"gravity", 3, 15}, {"angle", 45, 135}}, {}},
    {"spring_wall", "", {{"spring", 0.02, 0.2, TScale::Log}, {"wall", 20, 150}}, {}},
    {"varying_inertia", "", {{"inertia", 1, 4}, {"angle", 60, 120}}, {}},
    {"current_limit", "", {{"current", 10, 40}}, {}},
    {"cogging", "", {{"cogging", 0.5, 2}, {"cogs", 12, 48, TScale::Whole}}, {}},
    {"warming_up", "", {{"warm", 3, 20}, {"warmgain", -0.3, -0.1}, {"warmfriction", -0.6, -0.2}}, {}},
    {"resonance", "", {{"resonance", 100, 300, TScale::Log}, {"damping", 0.02, 0.1}, {"ratio", 0.3, 1}}, {}},
    {"sensor_on_load", "onload=1", {{"resonance", 150, 400, TScale::Log}, {"damping", 0.05, 0.15}, {"ratio", 0.2, 0.6}}, {}},
    // Combinations: an arm with friction, a coarse encoder and a lagging drive; a worn drive
    // with play, glitches and a delay; a belt axis read on the load, with a current limit and
    // cogging.
    {"arm_machine", "", {{"gravity", 3, 10}, {"friction", 1, 2}, {"cpr", 500, 2000, TScale::Log}, {"lag", 0.0005, 0.0015}}, {}},
    {"worn_drive", "delay=1", {{"play", 1, 3}, {"glitch", 3, 10, TScale::Log}}, {}},
    {"belt_axis", "onload=1", {{"resonance", 150, 300, TScale::Log}, {"damping", 0.05, 0.15}, {"ratio", 0.2, 0.5},
                              {"current", 20, 40}, {"cogging", 0.5, 1}}, {}},
};

// xorshift64*, as the simulator draws: the same draws on every platform.
double NextUniform(uint64_t& state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return static_cast<double>((state * 0x2545F4914F6CDD1Dull) >> 11) / static_cast<double>(1ull << 53);
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

// The --motor text of a kind's draw.
std::string DrawMotor(const TKind& kind, int draw) {
  if (draw < int(kind.Known.size())) return kind.Known[draw];
  uint64_t state = 0x9E3779B97F4A7C15ull * (draw + 1);
  for (const char* c = kind.Name; *c; ++c) state = (state ^ uint64_t(*c)) * 1099511628211ull;
  std::string text = kind.Base;
  for (const TRange& r : kind.Ranges) {
    const double u = NextUniform(state);
    double value = r.Min + u * (r.Max - r.Min);
    if (r.Scale == TScale::Log) value = r.Min * std::pow(r.Max / r.Min, u);
    if (r.Scale == TScale::Whole) value = std::floor(r.Min + u * (r.Max - r.Min + 1));
    text += (text.empty() ? "" : ",") + std::string(r.Key) + "=" + Number(std::min(value, r.Max));
  }
  return text;
}

struct TStart {
  const char* Name;
  double P, I, D;
};

constexpr TStart kStarts[] = {{"default", 0.2, 0.0005, 0.0015}, {"sluggish", 0.03, 0, 0.0005}, {"oscillating", 0.6, 0, 0.0003}};

zirvsim::TBoardParams ParamsOf(const TStart& start) {
  zirvsim::TBoardParams params;
  params.P = start.P, params.I = start.I, params.D = start.D;
  return params;
}

zirvsim::TMotorConstants MotorOf(const std::string& text) {
  const auto motor = zirvsim::ParseMotorConstants(text);
  if (!motor) std::fprintf(stderr, "no motor: %s\n", text.c_str());
  return motor.value_or(zirvsim::TMotorConstants{});
}

TStepFigures Figures(const TStepRecord& r) { return ComputeStepFigures(r.Errors, r.Outputs, r.Setup.Step, r.Setup.Loop.MaxOutput); }

// How long a board runs before suggest starts: a technician tunes a board that has been on,
// its loop at rest (a load held by the integral, say).
constexpr std::chrono::milliseconds kPoweredFor{1000};

// Idle cycles before each run of a measurement: a second, for the loop to come to rest.
constexpr int kSettleCycles = 2500;

// A step, the step back and a rest record on the board as it stands.
TBoardFigures MeasureOn(zirvsim::TBoardModel& board, int prediv, int step = kStep) {
  TBoardFigures f;
  board.RunCycles(kSettleCycles);
  f.Forward = Figures(RunOnBoard(board, step, prediv));
  board.RunCycles(kSettleCycles);
  f.Reverse = Figures(RunOnBoard(board, -kStep, prediv));
  board.RunCycles(kSettleCycles);
  f.Rest = Figures(RunOnBoard(board, 0, 0));
  return f;
}

// A step, the step back and a rest record with the parameters, on a board that runs a copy of
// the given one (a fresh board with the machine, at rest).
TBoardFigures Measure(zirvsim::TBoardModel board, const zirvsim::TBoardParams& params, int prediv) {
  board.SetParams(params);
  return MeasureOn(board, prediv);
}

// Rounds of step, step back and rest record beyond the first measurement, on the same board,
// each step a count longer than the last and the step back as before, so that the motor comes
// to rest at other places: whether it rests on the edge of a count, or a glitch comes while it
// rests off the middle of its deadband, is a matter of where it stops and when, which one rest
// record of 80 ms may not show.
constexpr int kLastingRounds = 5;

// A fresh board with the machine, at rest with the default gains.
zirvsim::TBoardModel FreshBoard(const std::string& motor) {
  zirvsim::TBoardModel board(1, MotorOf(motor));
  board.RunCycles(kSettleCycles);
  return board;
}

bool StepWithinGoal(const TStepFigures& f, double deadband) {
  return f.SettlingSamples && f.OvershootPct <= kGoal.TargetOvershootPct &&
         std::abs(f.SteadyStateError) <= std::max(1.0, deadband) && f.RestOutputPpPct.value_or(0) <= kRestLimitPct;
}

bool GoalMet(const TBoardFigures& f, double deadband) {
  return StepWithinGoal(f.Forward, deadband) && StepWithinGoal(f.Reverse, deadband) && f.Rest &&
         f.Rest->RestOutputPpPct.value_or(INFINITY) <= kRestLimitPct;
}

// What of the measured figures misses the goal, for the lines of kept gains that miss it.
std::string MissedText(const TBoardFigures& f, double deadband) {
  std::string text;
  const auto add = [&](const char* run, const TStepFigures& s) {
    char line[160];
    if (StepWithinGoal(s, deadband)) return;
    std::snprintf(line, sizeof line, "%s%s missed: settling %d overshoot %.1f %% sse %.1f restpp %.1f %%",
                  text.empty() ? "" : "; ", run, s.SettlingSamples.value_or(-1), s.OvershootPct, s.SteadyStateError, s.RestOutputPpPct.value_or(-1));
    text += line;
  };
  add("forward", f.Forward);
  add("reverse", f.Reverse);
  if (!f.Rest) text += text.empty() ? "no rest record" : "; no rest record";
  else if (f.Rest->RestOutputPpPct.value_or(INFINITY) > kRestLimitPct) add("rest", *f.Rest);
  return text;
}

// What misses the goal in the first of kLastingRounds measurements that follow Measure's own on
// a board that runs a copy of the given one, each starting where the last left the motor, with
// a step of kStep + 1, kStep + 2, ... and the step back -kStep; empty where the goal lasts.
std::string LastingMiss(zirvsim::TBoardModel board, const zirvsim::TBoardParams& params, int prediv) {
  board.SetParams(params);
  MeasureOn(board, prediv);
  for (int round = 1; round <= kLastingRounds; ++round)
    if (const TBoardFigures f = MeasureOn(board, prediv, kStep + round); !GoalMet(f, params.Deadband))
      return "round " + std::to_string(round) + " of " + std::to_string(kLastingRounds) + ": " + MissedText(f, params.Deadband);
  return {};
}

// The best forward settling (samples) over a grid of P, I, D and Deadband within the count
// jump (the I in finer steps where the coarse grid finds nothing), refined by a pattern search
// around the best of it (P, I and D up and down by 2^(1/4), then 2^(1/8)). Each candidate is
// first tried with the step alone, then measured whole where it settles sooner than the best.
struct TGridBest {
  std::optional<int> Settling;
  zirvsim::TBoardParams Params;
  bool Lasting = false;  // its gains meet the goal again in later measurements (LastingMiss)
};

TGridBest GridBest(const std::string& motor, int prediv) {
  const zirvsim::TBoardModel fresh = FreshBoard(motor);
  const double maxJump = kGoal.MaxCountJumpPct / 100 * zirvsim::TBoardParams{}.MaxOutput;
  std::optional<int> best;
  zirvsim::TBoardParams bestParams;
  // Returns whether the gains are within the count jump and settle sooner than the best.
  const auto tryParams = [&](const zirvsim::TBoardParams& params) {
    if (params.P + params.I + params.D / kPeriod > maxJump) return false;
    zirvsim::TBoardModel board = fresh;
    board.SetParams(params);
    board.RunCycles(kSettleCycles / 10);
    const TStepFigures forward = Figures(RunOnBoard(board, kStep, prediv));
    if (!StepWithinGoal(forward, params.Deadband) || (best && *forward.SettlingSamples >= *best)) return false;
    const TBoardFigures whole = Measure(fresh, params, prediv);
    if (!GoalMet(whole, params.Deadband) || (best && *whole.Forward.SettlingSamples >= *best)) return false;
    best = *whole.Forward.SettlingSamples;
    bestParams = params;
    return true;
  };
  const auto sweep = [&](std::initializer_list<double> integrals) {
    for (double deadband : {0.0, 1.0, 2.0})
      for (double i : integrals)
        for (int a = 0; a <= 21; ++a)
          for (int b = -1; b <= 19; ++b) {
            zirvsim::TBoardParams params;
            params.P = 0.01 * std::exp2(a / 2.0), params.I = i, params.D = b < 0 ? 0 : 1e-5 * std::exp2(b / 2.0);
            params.Deadband = deadband;
            if (params.P + params.I + params.D / kPeriod > maxJump) break;
            tryParams(params);
          }
  };
  sweep({0.0, 0.0002, 0.001, 0.005, 0.02});
  // A load held against its integral may need an I between those: where none of them meets the
  // goal, the I in finer steps before the machine is said to have no such gains.
  if (!best) sweep({0.00005, 0.0001, 0.0003, 0.0005, 0.0007, 0.0014, 0.003, 0.01});
  if (!best) return {};
  for (double step : {std::exp2(0.25), std::exp2(0.125)})
    for (bool moved = true; moved;) {
      moved = false;
      for (double zirvsim::TBoardParams::*gain : {&zirvsim::TBoardParams::P, &zirvsim::TBoardParams::D, &zirvsim::TBoardParams::I})
        for (double factor : {step, 1 / step}) {
          zirvsim::TBoardParams params = bestParams;
          params.*gain *= factor;
          moved |= params.*gain > 0 && tryParams(params);
        }
    }
  return {best, bestParams, LastingMiss(fresh, bestParams, prediv).empty()};
}

// Runs zirv7ctl in this process and returns its JSON output (empty when there is none) and its
// standard error.
QJsonObject RunJson(const QStringList& args, QString* errText = nullptr) {
  QString out, err, in;
  QTextStream o(&out), e(&err), i(&in);
  TCtlIo io{o, e, i};
  RunCtl(QStringList{QStringLiteral("zirv7ctl")} + args, io);
  o.flush();
  e.flush();
  if (errText) *errText = err;
  return QJsonDocument::fromJson(out.toUtf8()).object();
}

QStringList SuggestArgs(const zirvsim::TBoardSimulator& sim, int prediv) {
  return {QStringLiteral("suggest"), QStringLiteral("--json"), QStringLiteral("--port"), QString::fromStdString(sim.DevicePath()),
          QStringLiteral("--step"), QString::number(kStep), QStringLiteral("--prediv"), QString::number(prediv)};
}

// Whether a run with new gains was dangerous: an oscillation that grows (three swings of the
// error, each larger than the one before, the last beyond the step), the output held at its
// limit for over a tenth of the record, or an error beyond half of "Fault Error (f):".
bool Dangerous(const TStepRun& run) {
  const double limit = run.Params.MaxOutput;
  const auto atLimit = std::count_if(run.Outputs.begin(), run.Outputs.end(), [&](double o) { return std::abs(o) >= limit - 1e-6; });
  if (atLimit * 10 > long(run.Outputs.size())) return true;
  for (double e : run.Errors)
    if (run.Params.FaultError > 0 && std::abs(e) > run.Params.FaultError / 2) return true;
  std::vector<double> swings;  // |error| at each turn of its sign
  double peak = 0;
  for (size_t k = 1; k < run.Errors.size(); ++k) {
    peak = std::max(peak, std::abs(run.Errors[k]));
    if (run.Errors[k] * run.Errors[k - 1] < 0) swings.push_back(std::exchange(peak, 0.0));
  }
  for (size_t k = 3; k < swings.size(); ++k)
    if (swings[k] > swings[k - 1] && swings[k - 1] > swings[k - 2] && swings[k] > std::max(1.0, double(std::abs(run.Step))))
      return true;
  return false;
}

// What one case gives.
struct TCase {
  bool Met = false;
  bool Worse = false;
  bool KeptButMissed = false;  // kept as within the goal, and the measurement misses it
  double Ratio = NAN;  // settling over the grid's best; NAN without a grid
  int Steps = 0;
  double Seconds = 0;  // worked out for a paced board
  int Writes = 0;
  int Unstable = 0;
  int UnstableLate = 0;
  bool Lasting = false;  // met, and met again in each of kLastingRounds more measurements
};

// The time suggest waits for a board that runs in real time, beyond its own computing: the
// bytes both ways at the line's rate, the servo cycles of each step test, the board's 2 ms
// before each answer, and the 20 ms suggest sleeps after a status read while it waits for the
// loop to come to rest (counted for every status read: an upper bound).
double BoardSeconds(const zirvsim::TBoardSimulator& sim) {
  double seconds = double(sim.BytesSent()) / zirvsim::kWireBytesPerSecond;
  for (const std::string& command : sim.ReceivedCommands()) {
    seconds += double(command.size() + 1) / zirvsim::kWireBytesPerSecond + 0.002;
    if (command == "s") seconds += 0.020;
    int prediv = 0;
    long long step = 0;
    if (zirvsim::ParseStepCommand(command, prediv, step)) seconds += zirvsim::kStepSamples * (prediv + 1) * kPeriod;
  }
  return seconds;
}

// Returns the processor time this process has spent, in seconds: what suggest computes takes
// this long on a machine of its own, however many other programs share this one.
double ProcessSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts the runs with new gains that were dangerous, and those followed by more tests.
void CountUnstable(TCase& c) {
  TRunStore store;
  const TResult<QString> path = TRunStore::DefaultPath();
  if (!path || !store.Open(*path)) return;
  const TResult<std::vector<TRunListing>> listing = store.List(0);
  if (!listing) return;
  std::vector<qint64> ids;
  for (const TRunListing& l : *listing) ids.push_back(l.Run.Id);
  std::sort(ids.begin(), ids.end());
  const TResult<std::vector<TStepRun>> loaded = store.Load(ids);
  if (!loaded) return;
  const std::vector<TStepRun>& runs = *loaded;
  for (size_t k = 0; k < runs.size(); ++k) {
    if (runs[k].Label.startsWith(QStringLiteral("before")) || !Dangerous(runs[k])) continue;
    ++c.Unstable;
    if (k + 1 < runs.size()) ++c.UnstableLate;
  }
}

int CountIf(const std::vector<std::string>& commands, bool (*pred)(const std::string&)) {
  return int(std::count_if(commands.begin(), commands.end(), pred));
}

// Whether the board's loop runs with the same gains and deadband in both.
bool SameGains(const zirvsim::TBoardParams& a, const zirvsim::TBoardParams& b) {
  return a.P == b.P && a.I == b.I && a.D == b.D && a.Deadband == b.Deadband && a.FeedForward0 == b.FeedForward0 &&
         a.FeedForward1 == b.FeedForward1;
}

bool IsStepTest(const std::string& c) { return !c.empty() && c[0] == 'r'; }
bool IsWrite(const std::string& c) { return c.size() > 2 && c[1] == ' ' && zirvsim::IsParamLetter(c[0]); }

// suggest --apply --yes from the start on the machine, and its gains measured afterwards.
TCase RunCase(const std::string& motor, int prediv, const TStart& start, std::optional<int> best, bool paced,
              const std::string& name) {
  QTemporaryDir history;  // the runs of this case alone
  qputenv("XDG_DATA_HOME", history.path().toUtf8());
  zirvsim::TBoardSimulator sim({.Pacing = paced, .EepromFile = {}, .ReplyDelayMs = paced ? 2 : 0, .Motor = MotorOf(motor)});
  sim.SetParams(ParamsOf(start));
  sim.Start();
  std::this_thread::sleep_for(kPoweredFor);
  QElapsedTimer clock;
  clock.start();
  const double processor = ProcessSeconds();
  QString err;
  const QJsonObject o = RunJson(SuggestArgs(sim, prediv) + QStringList{QStringLiteral("--apply"), QStringLiteral("--yes")}, &err);
  TCase c;
  // On a paced board the time is measured; otherwise worked out from the processor time (the
  // simulated board's thread included, a little more than suggest alone) and the board's.
  c.Seconds = paced ? double(clock.nsecsElapsed()) / 1e9 : ProcessSeconds() - processor + BoardSeconds(sim);
  const zirvsim::TBoardParams final = sim.Params();
  const std::vector<std::string> commands = sim.ReceivedCommands();
  sim.Stop();
  c.Steps = CountIf(commands, IsStepTest);
  c.Writes = CountIf(commands, IsWrite);
  CountUnstable(c);
  const zirvsim::TBoardModel fresh = FreshBoard(motor);
  const TBoardFigures before = Measure(fresh, ParamsOf(start), prediv);
  const TBoardFigures after = Measure(fresh, final, prediv);
  c.Met = GoalMet(after, final.Deadband);
  const std::string lastingMiss = c.Met ? LastingMiss(fresh, final, prediv) : std::string();
  c.Lasting = c.Met && lastingMiss.empty();
  c.Worse = !WorseFigures(before, after, kGoal, final.Deadband).empty();
  const bool kept = !o[QStringLiteral("search")][QStringLiteral("kept")].isNull() ||
                    o[QStringLiteral("verification")][QStringLiteral("kept")].toBool();
  c.KeptButMissed = kept && !c.Met && !SameGains(final, ParamsOf(start));
  if (best) c.Ratio = c.Met ? double(*after.Forward.SettlingSamples) / *best : INFINITY;
  QString why = o[QStringLiteral("refused")].toString();
  const QJsonObject suggested = o[QStringLiteral("suggested")][QStringLiteral("gains")].toObject();
  if (!suggested.isEmpty())
    why = QStringLiteral("suggested P %1 I %2 D %3 b %4; ")
              .arg(suggested[QStringLiteral("P")].toDouble())
              .arg(suggested[QStringLiteral("I")].toDouble())
              .arg(suggested[QStringLiteral("D")].toDouble())
              .arg(o[QStringLiteral("suggested")][QStringLiteral("deadband")].toDouble()) + why;
  for (const QJsonValue f : o[QStringLiteral("verification")][QStringLiteral("failures")].toArray())
    why += (why.isEmpty() ? "" : "; ") + f[QStringLiteral("text")].toString();
  if (c.KeptButMissed) why += (why.isEmpty() ? "" : "; ") + QString::fromStdString(MissedText(after, final.Deadband));
  if (!lastingMiss.empty()) why += (why.isEmpty() ? "not lasting, " : "; not lasting, ") + QString::fromStdString(lastingMiss);
  std::fprintf(stderr, "%s %s: %s%s, P %g I %g D %g b %g, ratio %.2f, %d steps, %.1f s, %d writes%s%s\n", name.c_str(),
               start.Name, c.KeptButMissed ? "kept but missed" : c.Met ? (c.Lasting ? "met" : "met, not lasting") : "missed", c.Worse ? ", worse" : "", final.P, final.I, final.D, final.Deadband,
               c.Ratio, c.Steps, c.Seconds, c.Writes, why.isEmpty() ? "" : ": ", qPrintable(why));
  return c;
}

// A board in this process: the simulated board's model without its wire, the search's step
// tests run on it at once, with the time and the EEPROM writes a board that runs in real time
// would take.
class TModelTrialBoard : public TTrialBoard {
 public:
  TModelTrialBoard(zirvsim::TBoardModel& board, const zirvsim::TBoardParams& base, int prediv)
      : FBoard(board), FBase(base), FOriginal(board.Params()), FPrediv(prediv) {}

  TResult<TStepRecord> Run(const TPlannedRun& run) override {
    if (run.FromOwnGains) {
      Put(FOriginal);
      WaitForRest(FOriginal.Deadband);
    }
    Put(WithSearch(run.Gains));
    WaitForRest(run.Gains.Deadband, run.FromOwnGains ? 2.0 : 0.6);
    FSeconds += SearchRunSeconds(ToRecord(FBoard.Params()), run.Step == 0 ? 0 : FPrediv) - 0.135;
    const TStepRecord record = RunOnBoard(FBoard, run.Step, run.Step == 0 ? 0 : FPrediv);
    FBoard.RunFor(kAnswerLineSeconds);
    return record;
  }
  TResult<void> PutBack() override {
    Put(FOriginal);
    return {};
  }
  const zirvsim::TBoardParams& Original() const { return FOriginal; }
  TResult<void> Store(const TSearchRun&, const TSearchTrial*) override { return {}; }
  int Writes() const override { return FWrites; }
  int WritesFor(const TSearchGains& gains) const override { return Changes(FBoard.Params(), WithSearch(gains)); }
  double Seconds() const override { return FSeconds; }

  zirvsim::TBoardParams WithSearch(const TSearchGains& g) const {
    zirvsim::TBoardParams p = FBase;
    p.P = g.P, p.I = g.I, p.D = g.D, p.Deadband = g.Deadband;
    return p;
  }
  void Put(const zirvsim::TBoardParams& params) {
    FWrites += Changes(FBoard.Params(), params);
    FBoard.SetParams(params);
  }

 private:
  // As the board procedure waits: a status read and 20 ms at a time, until three in a row find
  // the motor within a count (or the deadband) of its command and still, for at most the time
  // given (0.6 s, 2 s before a verification's first step from the board's own gains).
  void WaitForRest(double deadband, double most = 0.6) {
    constexpr double kPoll = 0.045;
    int still = 0;
    double last = FBoard.State().Feedback;
    for (double waited = 0; waited < most && still < 3; waited += kPoll) {
      FBoard.RunFor(kPoll);
      FSeconds += kPoll;
      const zirvsim::TServoState& now = FBoard.State();
      const bool near = std::abs(double(now.Command - now.Feedback)) <= std::max(1.0, deadband);
      still = near && std::abs(double(now.Feedback) - last) <= 1 ? still + 1 : 0;
      last = double(now.Feedback);
    }
  }
  static int Changes(const zirvsim::TBoardParams& a, const zirvsim::TBoardParams& b) {
    return (a.P != b.P) + (a.I != b.I) + (a.D != b.D) + (a.Deadband != b.Deadband) + (a.FeedForward0 != b.FeedForward0) +
           (a.FeedForward1 != b.FeedForward1);
  }
  zirvsim::TBoardModel& FBoard;
  zirvsim::TBoardParams FBase, FOriginal;
  int FPrediv;
  int FWrites = 0;
  double FSeconds = 0;
};

// suggest --apply as it runs on a board, in this process: the present gains measured (step,
// step back, rest), the model's choice, the suggestion (or, where the choice finds none, the
// model's first guess) tried first and the search.
TCase RunCaseInProcess(const std::string& motor, int prediv, const TStart& start, std::optional<int> best,
                       const std::string& name, bool trace) {
  zirvsim::TBoardModel board(1, MotorOf(motor));
  board.SetParams(ParamsOf(start));
  // The step back once the step's answer has come over the line, as on a board in real time.
  std::vector<TStepRun> runs = MeasuredRuns(board, kStep, prediv, kAnswerLineSeconds, kAnswerLineSeconds + 0.3);
  for (TStepRun& run : runs) UpdateFigures(run);
  const TPIDParams present = ToRecord(board.Params());
  TCase c;
  c.Steps = 3;
  std::string why;
  zirvsim::TBoardParams final = board.Params();
  bool kept = false;  // the search kept gains: judged within the goal
  TResult<TBoardRecords> records = RecordsOfRuns(runs);
  const TChoice choice = records ? ChooseGains(*records, {present, double(kStep), prediv, kGoal}) : TChoice{};
  const bool lawDiffers = std::any_of(choice.Law.begin(), choice.Law.end(),
                                      [](const TLoopLawCheck& l) { return l.Verdict == TLawVerdict::Differs; });
  if (!records || lawDiffers || (choice.Refusal.empty() && choice.Suggestion.Unchanged)) {
    why = records ? choice.Refusal : "no records";
  } else {
    zirvsim::TBoardParams base = board.Params();
    TSearchSetup setup;
    setup.Goal = kGoal;
    setup.Loop = LoopSettings(present);
    setup.Step = kStep;
    setup.Prediv = prediv;
    setup.Before = {runs[0].Figures, runs[1].Figures, runs[2].Figures};
    TakeRecordsInto(setup, choice.Identification, choice.Extras);
    if (choice.Refusal.empty()) {
      base.FeedForward0 = choice.Suggestion.Gains.FF0, base.FeedForward1 = choice.Suggestion.Gains.FF1;
    } else {
      why = choice.Refusal;
    }
    const std::optional<TSearchGains> suggested =
        choice.Refusal.empty() ? std::optional(TSearchGains{choice.Suggestion.Gains.P, choice.Suggestion.Gains.I,
                                                            choice.Suggestion.Gains.D, choice.Deadband})
                               : std::nullopt;
    TakeFirstGuessInto(setup, suggested, choice.Identification, choice.Extras, choice.Setup);
    const TSearchBudget budget = SearchBudget(present, prediv, 3, 3 * SearchRunSeconds(present, prediv));
    setup.MaxRuns = budget.Runs;
    TGainSearch search(setup);
    TModelTrialBoard trials(board, base, prediv);
    const TSearchOutcome out = RunGainSearch(search, trials, budget, nullptr);
    // As the board procedure ends: the kept gains written where the last trial left others,
    // else the board's own values back.
    kept = search.Kept().has_value();
    if (kept) trials.Put(trials.WithSearch(*search.Kept()));
    else trials.Put(trials.Original());
    final = board.Params();
    if (!search.Kept() && !search.Failures().empty()) why += (why.empty() ? "" : "; ") + search.Failures().front().Text;
    c.Steps += int(search.Runs().size());
    c.Seconds = 3 * SearchRunSeconds(present, prediv) + out.Seconds;
    c.Writes = trials.Writes();
    for (const TSearchRun& run : search.Runs()) c.Unstable += run.Danger != TDanger::None;
    if (trace)
      for (const TSearchRun& run : search.Runs())
        std::fprintf(stderr, "  run step %d P %g: settling %d overshoot %.1f sse %.1f restpp %.1f\n", run.Plan.Step, run.Plan.Gains.P,
                     run.Figures.SettlingSamples.value_or(-1), run.Figures.OvershootPct, run.Figures.SteadyStateError,
                     run.Figures.RestOutputPpPct.value_or(-1));
    if (trace)
      for (const TSearchTrial& t : search.Trials())
        std::fprintf(stderr, "  trial %d P %g I %g D %g b %g: %s\n", t.Number, t.Gains.P, t.Gains.I, t.Gains.D,
                     t.Gains.Deadband, t.Verdict.c_str());
  }
  const zirvsim::TBoardModel fresh = FreshBoard(motor);
  const TBoardFigures before = Measure(fresh, ParamsOf(start), prediv);
  const TBoardFigures after = Measure(fresh, final, prediv);
  c.Met = GoalMet(after, final.Deadband);
  const std::string lastingMiss = c.Met ? LastingMiss(fresh, final, prediv) : std::string();
  c.Lasting = c.Met && lastingMiss.empty();
  c.KeptButMissed = kept && !c.Met && !SameGains(final, ParamsOf(start));
  if (c.KeptButMissed) why += (why.empty() ? "" : "; ") + MissedText(after, final.Deadband);
  if (!lastingMiss.empty()) why += (why.empty() ? "not lasting, " : "; not lasting, ") + lastingMiss;
  const std::vector<TFigureFailure> worse = WorseFigures(before, after, kGoal, final.Deadband);
  c.Worse = !worse.empty();
  for (const TFigureFailure& f : worse) why += "; worse: " + f.Text;
  if (best) c.Ratio = c.Met ? double(*after.Forward.SettlingSamples) / *best : INFINITY;
  std::fprintf(stderr, "%s %s: %s%s, P %g I %g D %g b %g, ratio %.2f, %d steps, %.1f s, %d writes, %d unstable%s%s\n",
               name.c_str(), start.Name, c.KeptButMissed ? "kept but missed" : c.Met ? (c.Lasting ? "met" : "met, not lasting") : "missed", c.Worse ? ", worse" : "", final.P, final.I, final.D,
               final.Deadband, c.Ratio, c.Steps, c.Seconds, c.Writes, c.Unstable, why.empty() ? "" : ": ", why.c_str());
  return c;
}

// Six suggests without --apply on one board: the largest over the smallest P found (inf when
// some find gains and others none), and how many deadbands they chose.
std::pair<double, int> RepeatSpread(const std::string& motor) {
  QTemporaryDir history;
  qputenv("XDG_DATA_HOME", history.path().toUtf8());
  zirvsim::TBoardSimulator sim({.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0, .Motor = MotorOf(motor)});
  sim.Start();
  std::this_thread::sleep_for(kPoweredFor);
  std::vector<double> ps;
  std::set<double> deadbands;
  int none = 0;
  for (int n = 0; n < 6; ++n) {
    const QJsonObject o = RunJson(SuggestArgs(sim, 0));
    const QJsonObject suggested = o[QStringLiteral("suggested")].toObject();
    if (!suggested[QStringLiteral("found")].toBool()) {
      std::fprintf(stderr, "repeat [%s] %d: none: %s\n", motor.c_str(), n, qPrintable(o[QStringLiteral("refused")].toString()));
      ++none;
      continue;
    }
    const QJsonObject fit = o[QStringLiteral("motor")].toObject();
    QStringList findings;
    for (const QJsonValue f : o[QStringLiteral("extras")][QStringLiteral("findings")].toArray()) findings << f.toString();
    std::fprintf(stderr, "repeat [%s] %d: P %g I %g D %g b %g; fitted gain %.0f, %.2f ms, friction %.2f %%, lag %.2f ms, delay %g; %s\n",
                 motor.c_str(), n, suggested[QStringLiteral("gains")][QStringLiteral("P")].toDouble(),
                 suggested[QStringLiteral("gains")][QStringLiteral("I")].toDouble(),
                 suggested[QStringLiteral("gains")][QStringLiteral("D")].toDouble(), suggested[QStringLiteral("deadband")].toDouble(),
                 fit[QStringLiteral("gain")].toDouble(), fit[QStringLiteral("time_constant_ms")].toDouble(),
                 fit[QStringLiteral("friction_pct")].toDouble(), fit[QStringLiteral("lag_ms")].toDouble(),
                 fit[QStringLiteral("delay_cycles")].toDouble(), qPrintable(findings.join(QStringLiteral("; "))));
    ps.push_back(suggested[QStringLiteral("gains")][QStringLiteral("P")].toDouble());
    deadbands.insert(suggested[QStringLiteral("deadband")].toDouble());
  }
  sim.Stop();
  if (ps.empty()) return {1.0, 0};
  if (none > 0) return {INFINITY, int(deadbands.size())};
  const auto [low, high] = std::minmax_element(ps.begin(), ps.end());
  return {*low > 0 ? *high / *low : INFINITY, int(deadbands.size())};
}

// The figures of a set of cases.
struct TTally {
  int Cases = 0, Met = 0, Lasting = 0, Worse = 0, KeptButMissed = 0, Steps = 0, Writes = 0, Unstable = 0, UnstableLate = 0;
  double Seconds = 0;
  std::vector<double> Ratios;
  std::optional<double> Spread;
  int Deadbands = 0;

  void Add(const TCase& c) {
    ++Cases;
    Met += c.Met;
    Lasting += c.Lasting;
    Worse += c.Worse;
    KeptButMissed += c.KeptButMissed;
    Steps = std::max(Steps, c.Steps);
    Writes = std::max(Writes, c.Writes);
    Unstable += c.Unstable;
    UnstableLate += c.UnstableLate;
    Seconds = std::max(Seconds, c.Seconds);
    if (!std::isnan(c.Ratio)) Ratios.push_back(c.Ratio);
  }

  void AddRepeat(double spread, int deadbands) {
    Spread = std::max(Spread.value_or(0), spread);
    Deadbands = std::max(Deadbands, deadbands);
  }

  void Print(const std::string& kind) const {
    const std::string s = kind.empty() ? "" : "_" + kind;
    std::printf("suggest_goal_met%s %d cases\n", s.c_str(), Met);
    std::printf("suggest_goal_met_share%s %.1f %%\n", s.c_str(), Cases ? 100.0 * Met / Cases : 0.0);
    std::printf("suggest_goal_met_lasting%s %d cases\n", s.c_str(), Lasting);
    std::printf("suggest_worse_than_before%s %d cases\n", s.c_str(), Worse);
    std::printf("suggest_kept_but_missed%s %d cases\n", s.c_str(), KeptButMissed);
    if (!Ratios.empty()) {
      std::printf("suggest_goal_met_by_grid%s %zu cases\n", s.c_str(), Ratios.size());
      std::printf("suggest_settling_vs_best_median%s %.2f ratio\n", s.c_str(), Median(Ratios));
      std::printf("suggest_settling_vs_best_worst%s %.2f ratio\n", s.c_str(), *std::max_element(Ratios.begin(), Ratios.end()));
    }
    std::printf("suggest_steps_used_worst%s %d exchanges\n", s.c_str(), Steps);
    std::printf("suggest_seconds_worst%s %.1f s\n", s.c_str(), Seconds);
    std::printf("suggest_eeprom_writes_worst%s %d writes\n", s.c_str(), Writes);
    std::printf("suggest_unstable_trials%s %d trials\n", s.c_str(), Unstable);
    std::printf("suggest_unstable_trials_late%s %d trials\n", s.c_str(), UnstableLate);
    if (Spread) {
      std::printf("suggest_repeat_spread%s %.2f ratio\n", s.c_str(), *Spread);
      std::printf("suggest_repeat_deadbands%s %d deadbands\n", s.c_str(), Deadbands);
    }
  }
};

double Milliseconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The time to fit and to choose for the first run of a machine, as suggest does them.
std::pair<double, double> FitAndChooseMs(const std::string& motor, int prediv) {
  zirvsim::TBoardModel board = FreshBoard(motor);
  const TStepRecord record = RunOnBoard(board, kStep, prediv);
  const auto t0 = std::chrono::steady_clock::now();
  const TIdentification id = IdentifyMotor(record);
  const auto t1 = std::chrono::steady_clock::now();
  if (id.Usable) SuggestGains(id.Motor, record.Setup, kGoal);
  return {Milliseconds(t1 - t0), Milliseconds(std::chrono::steady_clock::now() - t1)};
}

const TKind* KindNamed(const std::string& name) {
  for (const TKind& kind : kKinds)
    if (name == kind.Name) return &kind;
  return nullptr;
}

// One job, run in a process of its own (suggest waits in real time for the board, so jobs run
// side by side): "case KIND DRAW PREDIV" tunes one machine at one prediv from every start and
// prints a line "case KIND START met worse ratio steps seconds writes unstable late keptbutmissed
// lasting"
// for each,
// then "timing IDENTIFY_MS SUGGEST_MS"; "repeat KIND" prints "repeat KIND SPREAD DEADBANDS";
// "paced KIND DRAW PREDIV START" tunes once on a paced board and prints "paced SECONDS".
// The grid's best settling of machines already searched: "<motor>\t<prediv>\t<samples or ->"
// per line (a grid search of every machine adds minutes to a run; its results depend on the
// simulated machines, not on suggest, so a run before a change of suggest can give them to the
// run after, but not across a change of the simulator).
std::map<std::pair<std::string, int>, std::optional<int>> ReadGridCache(const QString& path) {
  std::map<std::pair<std::string, int>, std::optional<int>> cache;
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return cache;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const QList<QByteArray> f = line.split('\t');
    if (f.size() != 3) continue;
    bool ok = false;
    const int settling = f[2].toInt(&ok);
    cache[{f[0].toStdString(), f[1].toInt()}] = ok ? std::optional<int>(settling) : std::nullopt;
  }
  return cache;
}

int RunJob(const QStringList& job, bool gridded, const QString& gridCache, bool serial, bool trace) {
  const TKind* kind = KindNamed(job.value(1).toStdString());
  if (!kind) return 2;
  if (job[0] == QStringLiteral("repeat")) {
    const auto [spread, deadbands] = RepeatSpread(DrawMotor(*kind, 0));
    std::printf("repeat %s %g %d\n", kind->Name, spread, deadbands);
    return 0;
  }
  const std::string motor = DrawMotor(*kind, job.value(2).toInt());
  const int prediv = job.value(3).toInt();
  if (job[0] == QStringLiteral("paced")) {
    const TCase c = RunCase(motor, prediv, kStarts[job.value(4).toInt()], std::nullopt, true, "paced");
    std::printf("paced %g %d %d\n", c.Seconds, c.Steps, c.Writes);
    return 0;
  }
  const auto cache = ReadGridCache(gridCache);
  const auto cached = cache.find({motor, prediv});
  TGridBest grid;
  if (cached != cache.end()) grid.Settling = cached->second;
  else if (gridded) grid = GridBest(motor, prediv);
  const std::optional<int> best = grid.Settling;
  // The cache keeps the best settling alone: its gains, and whether they last, are shown only
  // where the grid ran here.
  char gains[96] = "";
  if (best && cached == cache.end())
    std::snprintf(gains, sizeof gains, ": P %g I %g D %g b %g%s", grid.Params.P, grid.Params.I, grid.Params.D, grid.Params.Deadband,
                  grid.Lasting ? "" : ", not lasting");
  const std::string name = std::string(kind->Name) + " [" + motor + "] prediv " + std::to_string(prediv) + " (grid best " +
                           (best ? std::to_string(*best) : std::string("-")) + gains + ")";
  for (size_t s = 0; s < std::size(kStarts); ++s) {
    const TCase c = serial ? RunCase(motor, prediv, kStarts[s], best, false, name)
                           : RunCaseInProcess(motor, prediv, kStarts[s], best, name, trace);
    std::printf("case %s %zu %d %d %g %d %g %d %d %d %d %d\n", kind->Name, s, c.Met, c.Worse, c.Ratio, c.Steps, c.Seconds, c.Writes,
                c.Unstable, c.UnstableLate, c.KeptButMissed, c.Lasting);
  }
  const auto [fit, choose] = FitAndChooseMs(motor, prediv);
  std::printf("timing %g %g\n", fit, choose);
  return 0;
}

struct TArgs {
  std::set<std::string> Kinds;
  int Draws = kDefaultDraws;
  std::vector<int> Predivs = {0, 2};
  int Jobs = 4;
  bool Grid = true, Repeat = true, Paced = true;
  bool Serial = false;  // every case through the serial line, not in this process
  bool Trace = false;   // each case's search runs and trials on standard error
  QString GridCache;
  QStringList Job;  // this process runs one job
};

TArgs ReadArgs(const QStringList& args) {
  TArgs a;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    const QString value = i + 1 < args.size() ? args[i + 1] : QString();
    if (arg == QStringLiteral("--job")) {
      a.Job = args.mid(i + 1);
      break;
    }
    if (arg == QStringLiteral("--kinds")) {
      for (const QString& k : value.split(u',')) a.Kinds.insert(k.toStdString());
    } else if (arg == QStringLiteral("--draws")) {
      a.Draws = value.toInt();
    } else if (arg == QStringLiteral("--prediv")) {
      a.Predivs = {value.toInt()};
    } else if (arg == QStringLiteral("--grid-cache")) {
      a.GridCache = value;
    } else if (arg == QStringLiteral("--jobs")) {
      a.Jobs = std::max(1, value.toInt());
    } else {
      a.Grid &= arg != QStringLiteral("--no-grid");
      a.Repeat &= arg != QStringLiteral("--no-repeat");
      a.Paced &= arg != QStringLiteral("--no-paced");
      a.Serial |= arg == QStringLiteral("--serial");
      a.Trace |= arg == QStringLiteral("--trace");
      continue;
    }
    ++i;  // the option's value
  }
  return a;
}

// Runs the jobs, at most `parallel` at a time, each as this program with --job; returns the
// lines each printed, in the jobs' order. Their standard error passes through.
std::vector<QStringList> RunJobs(const std::vector<QStringList>& jobs, int parallel, bool grid, const QString& gridCache,
                                 const QStringList& more = {}) {
  std::vector<QStringList> lines(jobs.size());
  std::vector<std::pair<size_t, std::unique_ptr<QProcess>>> running;
  size_t next = 0;
  while (next < jobs.size() || !running.empty()) {
    while (next < jobs.size() && int(running.size()) < parallel) {
      auto process = std::make_unique<QProcess>();
      process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
      QStringList options = grid ? QStringList() : QStringList{QStringLiteral("--no-grid")};
      if (!gridCache.isEmpty()) options += QStringList{QStringLiteral("--grid-cache"), gridCache};
      options += more;
      process->start(QCoreApplication::applicationFilePath(), options + QStringList{QStringLiteral("--job")} + jobs[next]);
      running.emplace_back(next++, std::move(process));
    }
    for (auto it = running.begin(); it != running.end();) {
      if (it->second->waitForFinished(50) || it->second->state() == QProcess::NotRunning) {
        lines[it->first] = QString::fromUtf8(it->second->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        it = running.erase(it);
      } else {
        ++it;
      }
    }
  }
  return lines;
}

TCase CaseOf(const QStringList& f) {
  TCase c;
  c.Met = f[3].toInt(), c.Worse = f[4].toInt(), c.Ratio = f[5].toDouble(), c.Steps = f[6].toInt();
  c.Seconds = f[7].toDouble(), c.Writes = f[8].toInt(), c.Unstable = f[9].toInt(), c.UnstableLate = f[10].toInt();
  c.KeptButMissed = f[11].toInt(), c.Lasting = f[12].toInt();
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir home;  // HOME and XDG folders of this run alone
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"}) qputenv(name, home.path().toUtf8());
  const TArgs args = ReadArgs(app.arguments());
  if (!args.Job.isEmpty()) return RunJob(args.Job, args.Grid, args.GridCache, args.Serial, args.Trace);
  std::vector<QStringList> jobs;
  for (const TKind& kind : kKinds) {
    if (!args.Kinds.empty() && !args.Kinds.count(kind.Name)) continue;
    for (int draw = 0; draw < args.Draws; ++draw)
      for (int prediv : args.Predivs)
        jobs.push_back({QStringLiteral("case"), kind.Name, QString::number(draw), QString::number(prediv)});
    if (args.Repeat) jobs.push_back({QStringLiteral("repeat"), kind.Name});
  }
  std::map<std::string, TTally> tallies;
  TTally all;
  double identifyMs = 0, suggestMs = 0;
  std::vector<std::pair<double, QStringList>> timed;  // each case's worked-out seconds, as a paced job
  QStringList more;
  if (args.Serial) more << QStringLiteral("--serial");
  if (args.Trace) more << QStringLiteral("--trace");
  const std::vector<QStringList> results = RunJobs(jobs, args.Jobs, args.Grid, args.GridCache, more);
  for (size_t j = 0; j < jobs.size(); ++j)
    for (const QString& line : results[j]) {
      const QStringList f = line.split(u' ');
      if (f[0] == QStringLiteral("case") && f.size() == 13) {
        const TCase c = CaseOf(f);
        tallies[f[1].toStdString()].Add(c);
        all.Add(c);
        timed.push_back({c.Seconds, QStringList{QStringLiteral("paced")} + jobs[j].mid(1) + QStringList{f[2]}});
      } else if (f[0] == QStringLiteral("repeat") && f.size() == 4) {
        tallies[f[1].toStdString()].AddRepeat(f[2].toDouble(), f[3].toInt());
        all.AddRepeat(f[2].toDouble(), f[3].toInt());
      } else if (f[0] == QStringLiteral("timing") && f.size() == 3) {
        identifyMs = std::max(identifyMs, f[1].toDouble());
        suggestMs = std::max(suggestMs, f[2].toDouble());
      }
    }
  for (const TKind& kind : kKinds)
    if (tallies.count(kind.Name)) tallies[kind.Name].Print(kind.Name);
  all.Print("");
  if (args.Paced) {
    // The slowest cases, a kind each, run again through the serial line on boards that run in
    // real time, side by side (they mostly wait for the board).
    std::sort(timed.begin(), timed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<QStringList> pacedJobs;
    std::vector<double> workedOut;
    std::set<QString> kinds;
    for (const auto& [seconds, job] : timed)
      if (pacedJobs.size() < kPacedCases && kinds.insert(job[1]).second) pacedJobs.push_back(job), workedOut.push_back(seconds);
    const std::vector<QStringList> paced = RunJobs(pacedJobs, int(pacedJobs.size()), false, QString());
    double worst = -1;
    int worstSteps = 0;
    for (size_t j = 0; j < paced.size(); ++j) {
      const QStringList f = paced[j].value(0).split(u' ');
      if (f.size() != 4) continue;
      std::printf("suggest_seconds_paced_%s %.1f s (%d exchanges, %d writes; worked out %.1f s)\n", qPrintable(pacedJobs[j][1]),
                  f[1].toDouble(), f[2].toInt(), f[3].toInt(), workedOut[j]);
      worst = std::max(worst, f[1].toDouble());
      worstSteps = std::max(worstSteps, f[2].toInt());
    }
    if (worst >= 0) std::printf("suggest_seconds_paced_worst %.1f s\nsuggest_steps_used_paced_worst %d exchanges\n", worst, worstSteps);
  }
  std::printf("identify_ms %.0f ms\n", identifyMs);
  std::printf("suggest_ms %.0f ms\n", suggestMs);
  return 0;
}
