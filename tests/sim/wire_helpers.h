#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "sim/simulator.h"

// Options for fast tests: no pacing and no delay before an answer.
inline const zirvsim::TSimOptions kFast{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0};

// The tool's side of the line: the slave device opened raw, commands sent with CR LF.
class TTestPort {
 public:
  explicit TTestPort(const std::string& device)
      : FFd(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios settings{};
    tcgetattr(FFd, &settings);
    cfmakeraw(&settings);
    tcsetattr(FFd, TCSANOW, &settings);
  }
  ~TTestPort() { close(FFd); }
  int Fd() const { return FFd; }

  void Send(const std::string& line) { (void)!write(FFd, (line + "\r\n").data(), line.size() + 2); }

  // Reads raw bytes until `lines` CRs arrived, the time ran out or the line hung up.
  std::string ReadRaw(size_t lines, int timeoutMs = 3000) {
    std::string bytes;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (CountCr(bytes) < lines && std::chrono::steady_clock::now() < end) {
      pollfd fd{FFd, POLLIN, 0};
      if (poll(&fd, 1, 10) <= 0) continue;
      char buffer[4096];
      const ssize_t n = fd.revents & POLLIN ? read(FFd, buffer, sizeof buffer) : 0;
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
  }

  // Sends a command and returns up to `lines` answer lines (fewer when the time runs out).
  std::vector<std::string> Ask(const std::string& command, size_t lines, int timeoutMs = 3000) {
    Send(command);
    return SplitLines(ReadRaw(lines, timeoutMs));
  }

  static size_t CountCr(const std::string& bytes) {
    return std::count(bytes.begin(), bytes.end(), '\r');
  }

  // Cuts lines at CR, dropping an LF that follows; bytes after the last CR are no line yet.
  static std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines(1);
    for (char c : bytes) {
      if (c == '\r')
        lines.emplace_back();
      else if (c != '\n' || !lines.back().empty())
        lines.back().push_back(c);
    }
    lines.pop_back();
    return lines;
  }

 private:
  int FFd;
};
