// Measures zirv7ctl watch's status stream at --every 0 against the simulated board pacing its
// answers at the serial line's speed. Prints:
//   watch_samples_per_s     samples a second over a stream of kSeconds
//   watch_wire_ratio        those over the samples a second the line allows: 5,760 bytes a second
//                           over the bytes each exchange really sent ("s" and its line end) and
//                           received (the board's answer); the board's delay before each answer
//                           counts against the stream
//   watch_reply_delay_ms    that delay of the simulated board
//   watch_wire_reply_ratio  the samples a second over what the line and that delay allow
//                           together: the share of the stream's time the tool does not lose
//   watch_wire_ms           the line's time for one exchange's bytes
//   watch_answer_ms         the mean time from "s" out to the ninth line of its answer in: the
//                           board's delay, the line, and the machine's delivery of the bytes
//   watch_tool_ms           the mean time from a ninth line in to the next "s" out: the tool's
//                           own time per exchange
// On a loaded machine the answers come late now and then (the simulated board's thread and the
// port's delivery wait for a processor): watch_answer_ms shows it, watch_tool_ms does not.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "boardsession/session.h"
#include "motion/statusstream.h"
#include "protocol/transactions.h"
#include "sim/simulator.h"

namespace {

constexpr int kSeconds = 5;
constexpr double kCommandBytes = 3;  // "s" CR LF

// Times each exchange by the lines the session logs: "s" as it went out, the answer's lines as
// they came in.
class TExchangeClock {
 public:
  TExchangeClock() { FClock.start(); }

  void Logged(TColor colour) {
    const double now = FClock.nsecsElapsed() / 1e6;
    if (colour == clGreen) {
      if (FAnswered) {
        FToolMs += now - FAnsweredAt;
        ++FTurns;
      }
      FSentAt = now;
      FLines = 0;
      FAnswered = false;
    } else if (colour == clBlue && ++FLines == StatusLineCount) {
      FAnswerMs += now - FSentAt;
      ++FAnswers;
      FAnsweredAt = now;
      FAnswered = true;
    }
  }

  // Starts the count afresh (after the session's read of the parameters).
  void Reset() { *this = TExchangeClock(); }

  double AnswerMs() const { return FAnswers ? FAnswerMs / FAnswers : 0; }
  double ToolMs() const { return FTurns ? FToolMs / FTurns : 0; }

 private:
  QElapsedTimer FClock;
  double FSentAt = 0, FAnsweredAt = 0, FAnswerMs = 0, FToolMs = 0;
  int FLines = 0, FAnswers = 0, FTurns = 0;
  bool FAnswered = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  zirvsim::TBoardSimulator sim;
  sim.Start();
  TExchangeClock exchanges;
  TBoardSession session([&exchanges](const QString&, TColor colour) { exchanges.Logged(colour); });
  if (!session.Open(QString::fromStdString(sim.DevicePath()))) {
    std::fprintf(stderr, "the simulated board did not answer\n");
    return 1;
  }
  exchanges.Reset();
  const uint64_t before = sim.BytesSent();
  TWatchHooks hooks;
  hooks.Sample = [](const TStatusSample&) { return TResult<void>(); };
  const TWatchResult result = WatchStatus(session, {.EveryMs = 0, .ForMs = kSeconds * 1000}, hooks);
  const TStreamSummary& s = result.Summary;
  const double received = double(sim.BytesSent() - before);
  const double bytesPerExchange = kCommandBytes + received / s.Samples();
  const double wireSeconds = bytesPerExchange / zirvsim::kWireBytesPerSecond;
  const double delaySeconds = sim.ReplyDelayMs() / 1000.0;
  std::printf("watch_samples_per_s %.2f samples/s\n", s.Rate());
  std::printf("watch_wire_ratio %.3f ratio\n", s.Rate() * wireSeconds);
  std::printf("watch_reply_delay_ms %d ms\n", sim.ReplyDelayMs());
  std::printf("watch_wire_reply_ratio %.3f ratio\n", s.Rate() * (wireSeconds + delaySeconds));
  std::printf("watch_wire_ms %.3f ms\n", wireSeconds * 1000);
  std::printf("watch_answer_ms %.3f ms\n", exchanges.AnswerMs());
  std::printf("watch_tool_ms %.3f ms\n", exchanges.ToolMs());
  if (s.Failures() > 0) std::fprintf(stderr, "%d samples failed\n", s.Failures());
  return s.Failures() == 0 ? 0 : 1;
}
