#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/board.h"

namespace zirvsim {

// Writes the board's parameters to its EEPROM file on a thread of its own, so that answers
// never wait for the host's disk: a board's EEPROM takes milliseconds, a busy disk can take a
// second. Values saved while a write runs are written after it, only the newest of them.
class TEepromWriter {
 public:
  // What writes one file; SaveParams unless a test puts something slower in its place.
  using TSave = std::function<bool(const std::string& path, const TBoardParams& params)>;

  TEepromWriter(std::string path, TSave save);
  // Writes what is still pending, then ends the thread.
  ~TEepromWriter();
  TEepromWriter(const TEepromWriter&) = delete;
  TEepromWriter& operator=(const TEepromWriter&) = delete;

  // Queues params to be written and returns at once.
  void Save(const TBoardParams& params);
  // Returns once everything queued so far is on the disk.
  void Flush();

 private:
  void Run();

  const std::string FPath;
  const TSave FSave;
  std::mutex FMutex;
  std::condition_variable FCond;
  std::optional<TBoardParams> FPending;
  bool FWriting = false;
  bool FStop = false;
  std::thread FThread;  // last: starts once everything above exists
};

}  // namespace zirvsim
