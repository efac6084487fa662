#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/simulator.h"

// Returns options for fast tests: no pacing and no delay before an answer.
inline zirvsim::TSimOptions Fast() {
  zirvsim::TSimOptions options;
  options.Pacing = false;
  options.ReplyDelayMs = 0;
  return options;
}

// The tool's side of the line for the simulator's tests: the slave device opened raw, commands
// sent with CR LF, answer lines cut at CR (a following LF is dropped).
class TTestPort {
 public:
  explicit TTestPort(const std::string& device) {
    FFd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (FFd < 0) return;
    termios settings{};
    tcgetattr(FFd, &settings);
    cfmakeraw(&settings);
    tcsetattr(FFd, TCSANOW, &settings);
  }
  ~TTestPort() {
    if (FFd >= 0) close(FFd);
  }
  bool IsOpen() const { return FFd >= 0; }

  void Send(const std::string& command) {
    const std::string line = command + "\r\n";
    (void)!write(FFd, line.data(), line.size());
  }

  // Reads raw bytes until `count` CR-ended lines arrived or the time ran out.
  std::string ReadRaw(size_t lines, int timeoutMs = 3000) {
    std::string bytes;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (CountCr(bytes) < lines && std::chrono::steady_clock::now() < end) {
      pollfd fd{FFd, POLLIN, 0};
      if (poll(&fd, 1, 10) <= 0) continue;
      if (!(fd.revents & POLLIN)) break;  // hung up with nothing left to read
      char buffer[4096];
      const ssize_t n = read(FFd, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
  }

  // Sends a command and returns up to `count` answer lines (fewer when the time runs out).
  std::vector<std::string> Ask(const std::string& command, size_t count, int timeoutMs = 3000) {
    Send(command);
    return SplitLines(ReadRaw(count, timeoutMs));
  }

  static size_t CountCr(const std::string& bytes) {
    size_t n = 0;
    for (char c : bytes) n += c == '\r';
    return n;
  }

  static std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes) {
      if (c == '\n' && line.empty()) continue;
      if (c != '\r') {
        line.push_back(c);
        continue;
      }
      lines.push_back(line);
      line.clear();
    }
    return lines;
  }

  int Fd() const { return FFd; }

 private:
  int FFd = -1;
};
