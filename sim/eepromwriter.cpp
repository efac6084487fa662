#include "sim/eepromwriter.h"

#include <utility>

namespace zirvsim {

TEepromWriter::TEepromWriter(std::string path, TSave save)
    : FPath(std::move(path)), FSave(std::move(save)), FThread([this] { Run(); }) {}

TEepromWriter::~TEepromWriter() {
  {
    std::lock_guard lock(FMutex);
    FStop = true;
  }
  FCond.notify_all();
  FThread.join();
}

void TEepromWriter::Save(const TBoardParams& params) {
  {
    std::lock_guard lock(FMutex);
    FPending = params;
  }
  FCond.notify_all();
}

void TEepromWriter::Flush() {
  std::unique_lock lock(FMutex);
  FCond.wait(lock, [this] { return !FPending && !FWriting; });
}

void TEepromWriter::Run() {
  std::unique_lock lock(FMutex);
  for (;;) {
    FCond.wait(lock, [this] { return FPending || FStop; });
    if (!FPending) return;  // stopped with nothing left to write
    const TBoardParams params = *std::exchange(FPending, std::nullopt);
    FWriting = true;
    lock.unlock();
    FSave(FPath, params);
    lock.lock();
    FWriting = false;
    FCond.notify_all();
  }
}

}  // namespace zirvsim
