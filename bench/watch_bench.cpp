// Measures zirv7ctl watch's status stream at --every 0 against the simulated board pacing its
// answers at the serial line's speed. Prints:
//   watch_samples_per_s   samples a second over a stream of kSeconds
//   watch_wire_ratio      those over the samples a second the line allows: 5,760 bytes a second
//                         over the bytes each exchange really sent ("s" and its line end) and
//                         received (the board's answer)
//   watch_reply_delay_ms  the simulated board's delay before each answer, which the ratio
//                         counts against the tool

#include <QCoreApplication>
#include <cstdio>

#include "boardsession/session.h"
#include "motion/statusstream.h"
#include "sim/simulator.h"

namespace {

constexpr int kSeconds = 5;
constexpr double kCommandBytes = 3;  // "s" CR LF

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  zirvsim::TBoardSimulator sim;
  sim.Start();
  TBoardSession session;
  if (!session.Open(QString::fromStdString(sim.DevicePath()))) {
    std::fprintf(stderr, "the simulated board did not answer\n");
    return 1;
  }
  const uint64_t before = sim.BytesSent();
  TWatchHooks hooks;
  hooks.Sample = [](const TStatusSample&) { return TResult<void>(); };
  const TWatchResult result = WatchStatus(session, {.EveryMs = 0, .ForMs = kSeconds * 1000}, hooks);
  const TStreamSummary& s = result.Summary;
  const double received = double(sim.BytesSent() - before);
  const double bytesPerExchange = kCommandBytes + received / s.Samples();
  const double wireLimit = zirvsim::kWireBytesPerSecond / bytesPerExchange;
  std::printf("watch_samples_per_s %.2f samples/s\n", s.Rate());
  std::printf("watch_wire_ratio %.3f ratio\n", s.Rate() / wireLimit);
  std::printf("watch_reply_delay_ms %d ms\n", sim.ReplyDelayMs());
  return s.Failures() == 0 ? 0 : 1;
}
