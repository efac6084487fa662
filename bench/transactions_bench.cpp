// Measures the board's command transactions against the simulated board pacing its answers at
// the serial line's speed, and compares each with its wire time: the command and answer bytes
// at 5,760 B/s, plus the board's delay before it answers (and, for the step test, the servo
// cycles it runs before the answer starts). Prints, one figure a line:
//   poll_ms               mean duration of one idle poll
//   <name>_target_ms      1.05 x the wire time plus one poll, the time to stay within
//   l_ms / l_wire_ms / l_wire_ratio         the "l" transaction
//   s_ms / s_wire_ms / s_wire_ratio         the "s" transaction
//   step_ms / step_wire_ms / step_wire_ratio  the step-response exchange
// Times are medians of several runs; the ratio is measured time / wire time.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <vector>

#include "benchutil.h"
#include "protocol/transactions.h"
#include "serial/comport.h"
#include "serial/linechannel.h"
#include "serial/portlink.h"
#include "sim/board.h"
#include "sim/simulator.h"

namespace {

constexpr int kRuns = 15;
constexpr int kStepPrediv = 0;
constexpr int kStepSize = 100;

// The simulated board, the port on its pty and the channel over it, with a silent log.
struct TRig {
  zirvsim::TBoardSimulator Sim;
  TPortLink Link{[](const QString&, TColor) {}};

  TRig() {
    Sim.Start();
    Link.Connect(QString::fromStdString(Sim.DevicePath()));
  }
};

// One measured transaction: its median time and its median wire time, in milliseconds.
struct TFigure {
  double Ms;
  double WireMs;
};

// Runs the transaction kRuns times. The wire time counts commandBytes plus the answer bytes
// the board actually sent, at line speed, plus the reply delay and extraMs of board time.
TFigure Measure(TRig& rig, const std::function<bool()>& transaction, int commandBytes,
                double extraMs) {
  std::vector<double> times, wires;
  for (int i = 0; i < kRuns; ++i) {
    const uint64_t sentBefore = rig.Sim.BytesSent();
    QElapsedTimer clock;
    clock.start();
    if (!transaction()) std::fprintf(stderr, "transaction failed in run %d\n", i);
    times.push_back(clock.nsecsElapsed() / 1e6);
    const double bytes = commandBytes + double(rig.Sim.BytesSent() - sentBefore);
    wires.push_back(bytes / zirvsim::kWireBytesPerSecond * 1000 + rig.Sim.ReplyDelayMs() + extraMs);
  }
  return {Median(times), Median(wires)};
}

// Mean duration of one poll with nothing to do.
double PollMs() {
  constexpr int kPolls = 500;
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < kPolls; ++i) TLineChannel::Poll();
  return clock.nsecsElapsed() / 1e6 / kPolls;
}

// Prints the figures of one transaction; the target is 1.05 x its wire time plus one poll.
void Print(const char* name, const TFigure& f, double pollMs) {
  std::printf("%s_ms %.2f ms\n", name, f.Ms);
  std::printf("%s_target_ms %.2f ms\n", name, 1.05 * f.WireMs + pollMs);
  std::printf("%s_wire_ms %.2f ms\n", name, f.WireMs);
  std::printf("%s_wire_ratio %.3f x\n", name, f.Ms / f.WireMs);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TRig rig;
  const double pollMs = PollMs();
  std::printf("poll_ms %.3f ms\n", pollMs);

  Print("l", Measure(rig, [&] {
          TPIDParams p;
          ReadParameters(rig.Link.Channel, p);
          return p.Valid;
        }, 3, 0), pollMs);

  Print("s", Measure(rig, [&] {
          TPIDStatus s;
          ReadStatus(rig.Link.Channel, s);
          return s.Valid;
        }, 3, 0), pollMs);

  // The board samples kStepSamples times, every prediv + 1 servo cycles of ticks x 100 us,
  // before the first answer byte leaves.
  const double servoMs =
      double(zirvsim::kStepSamples) * (kStepPrediv + 1) * rig.Sim.Params().TicksPerServo * 0.1;
  const int stepCommandBytes = QStringLiteral("r%1c%2ok1\r\n").arg(kStepPrediv).arg(kStepSize).size();
  Print("step", Measure(rig, [&] {
          return StepResponseExchange(rig.Link.Channel, kStepPrediv, kStepSize,
                                      rig.Sim.Params().TicksPerServo).size() ==
                 zirvsim::kStepSamples;
        }, stepCommandBytes, servoMs), pollMs);
  return 0;
}
