// Figures of the board simulator: how close its pacing comes to the serial line, how long it
// takes to start answering, and how fast the servo model runs.
#include <chrono>
#include <cstdio>
#include <vector>

#include "benchutil.h"
#include "sim/board.h"
#include "sim/simulator.h"
#include "wire_helpers.h"

using namespace zirvsim;
using TClock = std::chrono::steady_clock;

namespace {

// Timing of one answer as the tool's end of the line sees it.
struct TArrival {
  double FirstByteSeconds = 0;  // from the command's end to the first answer byte
  double SpanSeconds = 0;       // from the first answer byte to the last
  size_t Bytes = 0;
};

TArrival Measure(TTestPort& port, const char* command, size_t lines) {
  TArrival arrival;
  port.Send(command);
  const TClock::time_point sent = TClock::now();
  TClock::time_point first{}, last{};
  size_t crs = 0;
  while (crs < lines) {
    pollfd fd{port.Fd(), POLLIN, 0};
    if (poll(&fd, 1, 3000) <= 0) break;
    char buffer[4096];
    const ssize_t n = read(port.Fd(), buffer, sizeof buffer);
    if (n <= 0) break;
    const TClock::time_point now = TClock::now();
    if (arrival.Bytes == 0) first = now;
    last = now;
    arrival.Bytes += static_cast<size_t>(n);
    crs += TTestPort::CountCr(std::string(buffer, static_cast<size_t>(n)));
  }
  arrival.FirstByteSeconds = std::chrono::duration<double>(first - sent).count();
  arrival.SpanSeconds = std::chrono::duration<double>(last - first).count();
  return arrival;
}

void PacedFigures() {
  TBoardSimulator sim;
  sim.Start();
  TTestPort port(sim.DevicePath());
  // The first byte is written as soon as it is due, so n bytes span n - 1 byte times.
  double bytes = 0, seconds = 0;
  for (int run = 0; run < 3; ++run) {
    const TArrival a = Measure(port, "l", 17);
    bytes += static_cast<double>(a.Bytes - 1);
    seconds += a.SpanSeconds;
  }
  const TArrival step = Measure(port, "r0c100ok1", 404);
  bytes += static_cast<double>(step.Bytes - 1);
  seconds += step.SpanSeconds;
  std::printf("sim_bytes_per_s %.1f B/s\n", bytes / seconds);
  std::printf("sim_configured_reply_delay %d ms\n", sim.ReplyDelayMs());
  // Single answers suffer from scheduling jitter on a loaded machine: report medians.
  std::vector<double> firstBytes, wireTimes;
  size_t statusBytes = 0;
  for (int run = 0; run < 9; ++run) {
    const TArrival status = Measure(port, "s", 9);
    firstBytes.push_back(status.FirstByteSeconds * 1000);
    wireTimes.push_back((status.FirstByteSeconds + status.SpanSeconds) * 1000);
    statusBytes = status.Bytes;
  }
  std::printf("sim_status_first_byte_median %.2f ms\n", Median(firstBytes));
  std::printf("sim_status_answer_bytes %zu B\n", statusBytes);
  std::printf("sim_status_wire_time_median %.2f ms\n", Median(wireTimes));
  std::printf("sim_step_answer_bytes %zu B\n", step.Bytes);
  std::printf("sim_step_wire_time %.1f ms\n", (step.FirstByteSeconds + step.SpanSeconds) * 1000);
}

void UnpacedFigures() {
  TBoardSimulator sim(kFast);
  sim.Start();
  TTestPort port(sim.DevicePath());
  const int runs = 50;
  const TClock::time_point start = TClock::now();
  for (int run = 0; run < runs; ++run) Measure(port, "r0c100ok1", 404);
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  std::printf("sim_unpaced_step_roundtrip %.3f ms\n", seconds / runs * 1000);
}

void ModelFigures() {
  TBoardModel board;
  const int64_t cycles = 2000000;
  const TClock::time_point start = TClock::now();
  board.RunCycles(cycles);
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  std::printf("sim_servo_cycles_per_s %.0f cycles/s\n", static_cast<double>(cycles) / seconds);
}

}  // namespace

int main() {
  PacedFigures();
  UnpacedFigures();
  ModelFigures();
  return 0;
}
