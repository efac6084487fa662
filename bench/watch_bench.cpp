// Measures zirv7ctl watch's status stream at --every 0 against the simulated board pacing its
// answers at the serial line's speed. Prints:
//   watch_samples_per_s     samples a second over a stream of kSeconds
//   watch_wire_ratio        those over the samples a second the line allows one exchange after
//                           another: 5,760 bytes a second over the bytes each exchange really
//                           sent ("s" and its line end) and received (the board's answer); the
//                           board's delay before each answer counts against the stream. The
//                           line carries both ways at once: with "s" sent while the answer
//                           before it is still coming, the ratio can pass 1
//   watch_answer_wire_ratio the samples a second over what the answers' bytes alone allow: the
//                           share of the stream's time the line carries answers (at most 1)
//   watch_reply_delay_ms    that delay of the simulated board
//   watch_wire_ms           the line's time for one exchange's bytes, one after another
//   watch_answer_ms         the mean time from "s" out to the ninth line of its answer in: the
//                           board's delay, the line, the machine's delivery of the bytes, and
//                           the end of the answer before it
//   watch_idle_ms           the mean time the line stands idle between the ninth line of an
//                           answer in and the first line of the next one in, less that line's
//                           own time on the wire
// On a loaded machine the answers come late now and then (the simulated board's thread and the
// port's delivery wait for a processor): watch_answer_ms and watch_idle_ms show it.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <deque>

#include "boardsession/session.h"
#include "motion/statusstream.h"
#include "protocol/transactions.h"
#include "sim/simulator.h"

namespace {

constexpr int kSeconds = 5;
constexpr double kCommandBytes = 3;  // "s" CR LF

// Times each exchange by the lines the session logs: each "s" as it went out, the answers'
// lines as they came in, the answers in the order of the requests.
class TExchangeClock {
 public:
  TExchangeClock() { FClock.start(); }

  void Logged(const QString& text, TColor colour) {
    const double now = FClock.nsecsElapsed() / 1e6;
    if (colour == clGreen) {
      FSent.push_back(now);
      return;
    }
    if (colour != clBlue) return;
    if (FLines == 0 && FLastAt >= 0) {
      // The line's own time for this first line (its text ends with its CR).
      FIdleMs += now - FLastAt - text.size() * 1000.0 / zirvsim::kWireBytesPerSecond;
      ++FGaps;
    }
    if (++FLines < StatusLineCount) return;
    FLines = 0;
    FLastAt = now;
    if (FSent.empty()) return;
    FAnswerMs += now - FSent.front();
    FSent.pop_front();
    ++FAnswers;
  }

  // Starts the count afresh (after the session's read of the parameters).
  void Reset() { *this = TExchangeClock(); }

  double AnswerMs() const { return FAnswers ? FAnswerMs / FAnswers : 0; }
  double IdleMs() const { return FGaps ? FIdleMs / FGaps : 0; }

 private:
  QElapsedTimer FClock;
  std::deque<double> FSent;
  double FLastAt = -1, FAnswerMs = 0, FIdleMs = 0;
  int FLines = 0, FAnswers = 0, FGaps = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  zirvsim::TBoardSimulator sim;
  sim.Start();
  TExchangeClock exchanges;
  TBoardSession session([&exchanges](const QString& text, TColor colour) { exchanges.Logged(text, colour); });
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
  std::printf("watch_samples_per_s %.2f samples/s\n", s.Rate());
  std::printf("watch_wire_ratio %.3f ratio\n", s.Rate() * wireSeconds);
  std::printf("watch_answer_wire_ratio %.3f ratio\n", s.Rate() * received / s.Samples() / zirvsim::kWireBytesPerSecond);
  std::printf("watch_reply_delay_ms %d ms\n", sim.ReplyDelayMs());
  std::printf("watch_wire_ms %.3f ms\n", wireSeconds * 1000);
  std::printf("watch_answer_ms %.3f ms\n", exchanges.AnswerMs());
  std::printf("watch_idle_ms %.3f ms\n", exchanges.IdleMs());
  if (s.Failures() > 0) std::fprintf(stderr, "%d samples failed\n", s.Failures());
  return s.Failures() == 0 ? 0 : 1;
}
