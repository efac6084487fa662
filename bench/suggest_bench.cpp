// How good zirv7ctl suggest is: for three motors and three starting tunings each, suggest
// --apply (up to twice) on the simulated board without pacing, then a step test measures the
// result, against the best settling a brute-force grid over P, I and D finds on the same
// board with the overshoot within the target. Every motor takes the same step, 200 counts;
// the fast motor takes a step of 600 as well. The grid keeps to the count jump the suggestion
// keeps to (one count of error moves the output by at most 20 % of its limit), so that both
// choose among the same gains. The grid's best is also given for gains that keep the overshoot
// within the target with gain and time constant 20 % off (stricter than the suggestion, whose
// mismatched motors may overshoot by its corner allowance more): the ratio to it shows what the
// search loses, apart from what robustness costs. Also how long fitting and
// choosing take, and the largest count jump a tuning left on a board.
//
// Then plants with what real machines have (play, encoder noise, a resonance, a delay, a drive
// lag, Stribeck friction, a high-friction motor, and a board whose loop integrates per second),
// each from three starts: suggest --apply once, and the board's final gains against its
// starting ones on a fresh board with the same motor (a step, the step back, a rest record):
// how often the board ends worse on any figure, the worst rest peak-to-peak and steady-state
// error of the gains that stayed, and how often suggest wrote nothing or put the board back
// (with the reasons on standard error).
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "benchutil.h"
#include "ctl/command.h"
#include "sim/simulator.h"
#include "tests/tuning/boardrun.h"
#include "tuning/identify.h"
#include "tuning/suggest.h"
#include "tuning/verdict.h"

namespace {

const TTuningGoal kGoal;  // suggest's defaults: 5 % overshoot, 20 % mismatch, 20 % count jump

struct TStart {
  const char* Name;
  double P, I, D;
};

// A motor with the step test it is tuned for (the prediv scaled with its time constant) and
// its three starting tunings.
struct TMotorCase {
  const char* Name;
  zirvsim::TMotorConstants Motor;
  int Step;
  int Prediv;
  TStart Starts[3];
};

constexpr zirvsim::TMotorConstants kFastMotor{6000, 0.005, 0.3, 0.02};
constexpr TStart kFastStarts[3] = {
    {"sluggish", 0.01, 0, 0.0001}, {"oscillating", 0.5, 0, 0.00005}, {"saturating", 1, 0, 0.0005}};

// The default motor, one three times as fast in both gain and time constant, and one more than
// three times as slow in both.
const TMotorCase kMotors[] = {
    {"default", {2000, 0.015, 0.5, 0.02}, 200, 0,
     {{"sluggish", 0.03, 0, 0.0005}, {"oscillating", 0.6, 0, 0.0003}, {"saturating", 2, 0, 0.003}}},
    {"fast", kFastMotor, 200, 0, {kFastStarts[0], kFastStarts[1], kFastStarts[2]}},
    {"slow", {600, 0.05, 1.0, 0.02}, 200, 1,
     {{"sluggish", 0.05, 0, 0.002}, {"oscillating", 0.6, 0, 0.001}, {"saturating", 3, 0, 0.01}}},
    {"fast_step600", kFastMotor, 600, 0, {kFastStarts[0], kFastStarts[1], kFastStarts[2]}},
};

// The settling (samples, empty when it never settles) and overshoot of one step test, and
// after a tuning the count jump of the gains left on the board.
struct TResult {
  std::optional<int> Settling;
  double OvershootPct = 0;
  double CountJumpPct = 0;
};

TResult FiguresOf(const TStepRecord& r) {
  const TStepFigures f = ComputeStepFigures(r.Errors, r.Outputs, r.Setup.Step, r.Setup.Loop.MaxOutput);
  return {f.SettlingSamples, f.OvershootPct};
}

// A step test with the gains on a board started afresh with the motor.
TResult RunGains(const zirvsim::TMotorConstants& motor, const TMotorCase& m, double p, double i, double d) {
  zirvsim::TBoardModel board(1, motor);
  SetGains(board, p, i, d);
  return FiguresOf(RunOnBoard(board, m.Step, m.Prediv));
}

bool WithinTarget(const TResult& r) { return r.Settling && r.OvershootPct <= kGoal.TargetOvershootPct; }

// Whether the gains keep the overshoot within the target and settle on the boards whose
// motor has gain and time constant off by the mismatch, both ways.
bool Robust(const TMotorCase& m, double p, double i, double d) {
  for (double gain : {1 - kGoal.Mismatch, 1 + kGoal.Mismatch})
    for (double tau : {1 - kGoal.Mismatch, 1 + kGoal.Mismatch}) {
      zirvsim::TMotorConstants motor = m.Motor;
      motor.CountsPerSecondPerPercent *= gain;
      motor.TimeConstant *= tau;
      if (!WithinTarget(RunGains(motor, m, p, i, d))) return false;
    }
  return true;
}

// The best settling over the grid, and over the gains of the grid that are robust.
struct TGridBest {
  int Settling = INT32_MAX;
  int RobustSettling = INT32_MAX;
};

// The best settling over a grid of P, I and D within the count jump, each test on a board
// started afresh, at the motor's natural scales: P from 0.1 to 300 times 1 / (gain x time
// constant), D from 0.01 to 100 times 1 / gain, in steps of 25 %, and I 0 or 1/64 to 4 times
// P-scale x period / tau.
TGridBest GridBest(const TMotorCase& m) {
  const double p0 = 1 / (m.Motor.CountsPerSecondPerPercent * m.Motor.TimeConstant);
  const double d0 = 1 / m.Motor.CountsPerSecondPerPercent;
  const double i0 = p0 * 4e-4 / m.Motor.TimeConstant;
  const TLoopSettings loop = LoopSettings(ToRecord(zirvsim::TBoardParams{}));
  TGridBest best;
  for (double p = 0.1; p <= 300; p *= 1.25)
    for (double d = 0.01; d <= 100; d *= 1.25)
      for (double i : {0.0, 1.0 / 64, 1.0 / 16, 0.25, 1.0, 4.0}) {
        if (CountJumpPct(WithGains(loop, {p * p0, i * i0, d * d0, 0, 0})) > kGoal.MaxCountJumpPct) continue;
        const TResult r = RunGains(m.Motor, m, p * p0, i * i0, d * d0);
        if (!WithinTarget(r) || *r.Settling >= best.RobustSettling) continue;
        best.Settling = std::min(best.Settling, *r.Settling);
        if (Robust(m, p * p0, i * i0, d * d0)) best.RobustSettling = *r.Settling;
      }
  return best;
}

QJsonObject RunJson(const QStringList& args) {
  QString out, err, in;
  QTextStream o(&out), e(&err), i(&in);
  TCtlIo io{o, e, i};
  RunCtl(QStringList{QStringLiteral("zirv7ctl")} + args, io);
  o.flush();
  return QJsonDocument::fromJson(out.toUtf8()).object();
}

QStringList TestArgs(const QString& port, const TMotorCase& m) {
  return {QStringLiteral("--port"), port, QStringLiteral("--step"), QString::number(m.Step), QStringLiteral("--prediv"),
          QString::number(m.Prediv)};
}

bool VerifiedWithinGoal(const QJsonObject& suggest) {
  const QJsonObject measured = suggest[QStringLiteral("verification")][QStringLiteral("measured")].toObject();
  return !measured.isEmpty() && !measured[QStringLiteral("settling_samples")].isNull() &&
         measured[QStringLiteral("overshoot_pct")].toDouble() <= kGoal.TargetOvershootPct;
}

// suggest --apply, again when the first verification misses the goal, then a step test.
TResult Tune(const TMotorCase& m, const TStart& start) {
  zirvsim::TBoardSimulator sim({.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0, .Motor = m.Motor});
  zirvsim::TBoardParams params;
  params.P = start.P, params.I = start.I, params.D = start.D;
  sim.SetParams(params);
  sim.Start();
  const QStringList test = TestArgs(QString::fromStdString(sim.DevicePath()), m);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const QJsonObject suggest = RunJson(QStringList{QStringLiteral("suggest"), QStringLiteral("--apply"),
                                                    QStringLiteral("--yes"), QStringLiteral("--json")} + test);
    if (VerifiedWithinGoal(suggest)) break;
  }
  const QJsonObject run = RunJson(QStringList{QStringLiteral("step"), QStringLiteral("--json")} + test)
                              [QStringLiteral("runs")].toArray().first().toObject();
  const QJsonValue settling = run[QStringLiteral("settling_samples")];
  return {settling.isNull() ? std::nullopt : std::optional<int>(settling.toInt()),
          run[QStringLiteral("overshoot_pct")].toDouble(), CountJumpPct(LoopSettings(ToRecord(sim.Params())))};
}

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The time to fit and to choose for a case's first run, as suggest does them.
std::pair<double, double> FitAndChooseMs(const TMotorCase& m, const TStart& start) {
  zirvsim::TBoardModel board(1, m.Motor);
  SetGains(board, start.P, start.I, start.D);
  const TStepRecord record = RunOnBoard(board, m.Step, m.Prediv);
  const auto t0 = std::chrono::steady_clock::now();
  const TIdentification id = IdentifyMotor(record);
  const auto t1 = std::chrono::steady_clock::now();
  SuggestGains(id.Motor, record.Setup, {});
  const auto t2 = std::chrono::steady_clock::now();
  return {Milliseconds(t1 - t0), Milliseconds(t2 - t1)};
}

double Ratio(const TResult& r, int best) { return r.Settling ? double(*r.Settling) / best : INFINITY; }

// A plant with what real machines have, and the step test it is tuned with.
struct TPlantCase {
  const char* Name;
  const char* Motor;  // --motor text
  bool IntegralPerSecond;
  int Prediv;
};

const TPlantCase kPlants[] = {
    {"play3", "play=3", false, 0},
    {"encnoise1", "encnoise=1", false, 0},
    {"resonance80", "resonance=80,damping=0.05,ratio=0.5", false, 0},
    {"delay2", "delay=2", false, 0},
    {"lag3ms", "lag=0.003", false, 0},
    {"stribeck", "breakaway=2,stribeck=100", false, 0},
    {"high_friction", "gain=500,tau=0.05,friction=2,noise=0.5", false, 3},
    {"integral_per_second", "noise=0.02", true, 0},
};

constexpr TStart kPlantStarts[] = {{"default", 0.2, 0.0005, 0.0015}, {"sluggish", 0.03, 0, 0.0005}, {"oscillating", 0.6, 0, 0.0003}};

// A step, the step back and a rest record with the parameters, on a fresh board with the motor.
TBoardFigures MeasureFresh(const TPlantCase& c, const zirvsim::TBoardParams& params) {
  zirvsim::TBoardModel board(1, *zirvsim::ParseMotorConstants(c.Motor));
  board.SetIntegralPerSecond(c.IntegralPerSecond);
  board.SetParams(params);
  board.RunCycles(2500);
  const auto figures = [](const TStepRecord& r) {
    return ComputeStepFigures(r.Errors, r.Outputs, r.Setup.Step, r.Setup.Loop.MaxOutput);
  };
  TBoardFigures f;
  f.Forward = figures(RunOnBoard(board, 200, c.Prediv));
  board.RunCycles(2500);
  f.Reverse = figures(RunOnBoard(board, -200, c.Prediv));
  board.RunCycles(2500);
  f.Rest = figures(RunOnBoard(board, 0, 0));
  return f;
}

struct TPlantTally {
  int Cases = 0;
  int Worse = 0;
  int Refused = 0;
  int Kept = 0;
  double RestPpWorst = 0;
  double SteadyWorst = 0;
};

// suggest --apply --yes once from the start; the board's end against its start.
void TunePlant(const TPlantCase& c, const TStart& start, TPlantTally& tally) {
  zirvsim::TBoardSimulator sim({.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0,
                                .Motor = *zirvsim::ParseMotorConstants(c.Motor)});
  if (c.IntegralPerSecond) sim.SetFault(zirvsim::TFault::IntegralPerSecond);
  zirvsim::TBoardParams params;
  params.P = start.P, params.I = start.I, params.D = start.D;
  sim.SetParams(params);
  sim.Start();
  const QJsonObject o = RunJson({QStringLiteral("suggest"), QStringLiteral("--apply"), QStringLiteral("--yes"),
                                 QStringLiteral("--json"), QStringLiteral("--port"), QString::fromStdString(sim.DevicePath()),
                                 QStringLiteral("--step"), QStringLiteral("200"), QStringLiteral("--prediv"),
                                 QString::number(c.Prediv)});
  const zirvsim::TBoardParams final = sim.Params();
  sim.Stop();
  ++tally.Cases;
  const QJsonObject verification = o[QStringLiteral("verification")].toObject();
  const bool kept = verification[QStringLiteral("kept")].toBool();
  if (!kept) {
    ++tally.Refused;
    QString why = o[QStringLiteral("refused")].toString();
    for (const QJsonValue f : verification[QStringLiteral("failures")].toArray())
      why += f.toObject()[QStringLiteral("text")].toString() + QStringLiteral("; ");
    std::fprintf(stderr, "refused %s from %s: %s\n", c.Name, start.Name, qPrintable(why));
  }
  const TBoardFigures before = MeasureFresh(c, params);
  const TBoardFigures after = MeasureFresh(c, final);
  const std::vector<TFigureFailure> worse = WorseFigures(before, after, kGoal, final.Deadband);
  if (!worse.empty()) {
    ++tally.Worse;
    for (const TFigureFailure& f : worse) std::fprintf(stderr, "worse %s from %s: %s\n", c.Name, start.Name, f.Text.c_str());
  }
  if (!kept) return;
  ++tally.Kept;
  tally.RestPpWorst = std::max(tally.RestPpWorst, RestOutputPpPct(after).value_or(INFINITY));
  for (const TStepFigures& f : {after.Forward, after.Reverse})
    tally.SteadyWorst = std::max(tally.SteadyWorst, std::abs(f.SteadyStateError) - std::max(0.0, final.Deadband - 1));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir history;  // the runs suggest and step store
  qputenv("XDG_DATA_HOME", history.path().toUtf8());
  double worstRatio = 0, worstRobustRatio = 0, worstOvershoot = 0, worstCountJump = 0, identifyMs = 0, suggestMs = 0;
  // "--plants" runs the plants alone, the quicker half.
  const bool plantsOnly = argc > 1 && std::string(argv[1]) == "--plants";
  for (const TMotorCase& m : kMotors) {
    if (plantsOnly) break;
    const TGridBest best = GridBest(m);
    std::printf("grid_best_settling_samples_%s %d samples\n", m.Name, best.Settling);
    std::printf("grid_best_robust_settling_samples_%s %d samples\n", m.Name, best.RobustSettling);
    for (const TStart& start : m.Starts) {
      const TResult r = Tune(m, start);
      std::printf("suggest_settling_ratio_%s_%s %.2f ratio\n", m.Name, start.Name, Ratio(r, best.Settling));
      std::printf("suggest_overshoot_pct_%s_%s %.1f %%\n", m.Name, start.Name, r.OvershootPct);
      worstRatio = std::max(worstRatio, Ratio(r, best.Settling));
      worstRobustRatio = std::max(worstRobustRatio, Ratio(r, best.RobustSettling));
      worstOvershoot = std::max(worstOvershoot, r.OvershootPct);
      worstCountJump = std::max(worstCountJump, r.CountJumpPct);
      const auto [fit, choose] = FitAndChooseMs(m, start);
      identifyMs = std::max(identifyMs, fit);
      suggestMs = std::max(suggestMs, choose);
    }
  }
  if (!plantsOnly) {
  std::printf("suggest_settling_ratio_worst %.2f ratio\n", worstRatio);
  std::printf("suggest_settling_ratio_robust_worst %.2f ratio\n", worstRobustRatio);
  std::printf("suggest_overshoot_pct_worst %.1f %%\n", worstOvershoot);
  std::printf("identify_ms %.0f ms\n", identifyMs);
  std::printf("suggest_ms %.0f ms\n", suggestMs);
  std::printf("suggest_count_jump_pct_worst %.1f %%\n", worstCountJump);
  std::printf("count_jump_pct_max %.0f %%\n", kGoal.MaxCountJumpPct);
  }
  TPlantTally tally;
  for (const TPlantCase& c : kPlants)
    for (const TStart& start : kPlantStarts) TunePlant(c, start, tally);
  std::printf("suggest_plant_cases %d cases\n", tally.Cases);
  std::printf("suggest_worse_than_before %d cases\n", tally.Worse);
  std::printf("suggest_rest_pp_pct_worst %.1f %%\n", tally.RestPpWorst);
  std::printf("suggest_ss_error_counts_worst %.2f counts\n", tally.SteadyWorst);
  std::printf("suggest_refused %d cases\n", tally.Refused);
  std::printf("suggest_kept %d cases\n", tally.Kept);
  return 0;
}
