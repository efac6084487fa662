#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "sim/numbers.h"

namespace zirvsim {

namespace {

// A command line longer than this is no command of the board; the rest is dropped.
constexpr size_t kMaxCommandLength = 1024;

// How long the board thread sleeps at most when there is nothing to do; bounds how late a
// fault switched at run time (like a hang-up) takes effect.
constexpr int kIdlePollMs = 20;
// The longest CatchUp waits for a board that does not catch up (one whose line is full).
constexpr int kCatchUpLimitMs = 2000;

std::mutex gRunningMutex;
std::vector<TBoardSimulator*> gRunning;  // the simulators of this process with a board thread

// Time between the last answer byte and closing the pty for the HangUpAfter fault.
constexpr int kHangUpGraceMs = 50;

// Returns seconds in the clock's ticks, rounded up: a byte's deadline is never a tick early.
std::chrono::steady_clock::duration Ticks(double seconds) {
  return std::chrono::ceil<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Returns whether key names command: the whole line, or its first character for a key of one.
bool KeyMatches(const std::string& key, const std::string& command) {
  return key == command || (key.size() == 1 && !command.empty() && command[0] == key[0]);
}

}  // namespace

TBoardSimulator::TBoardSimulator(TSimOptions options)
    : FOptions(std::move(options)), FBoard(FOptions.Seed, FOptions.Motor), FGarbageRandom(FOptions.Seed) {
  if (FOptions.EepromFile.empty()) return;
  if (const auto stored = LoadParams(FOptions.EepromFile)) FBoard.SetParams(*stored);
  FEeprom = std::make_unique<TEepromWriter>(FOptions.EepromFile, FOptions.SaveEeprom);
}

TBoardSimulator::~TBoardSimulator() { Stop(); }

void TBoardSimulator::Start() {
  if (FThread.joinable()) Stop();
  FMaster = posix_openpt(O_RDWR | O_NOCTTY);
  if (FMaster < 0) ThrowErrno("posix_openpt");
  char name[128];
  if (grantpt(FMaster) != 0 || unlockpt(FMaster) != 0 || ptsname_r(FMaster, name, sizeof name) != 0) {
    CloseFds();
    ThrowErrno("pty set-up");
  }
  FDevicePath = name;
  fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  FSlave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios settings{};
  if (FSlave < 0 || tcgetattr(FSlave, &settings) != 0 || pipe(FWake) != 0) {
    CloseFds();
    ThrowErrno("pty slave");
  }
  cfmakeraw(&settings);
  tcsetattr(FSlave, TCSANOW, &settings);
  // Tells of every close of the device by a client (the simulator's own side stays open).
  FCloses = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (FCloses >= 0) inotify_add_watch(FCloses, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
  FInput.clear();
  FOutput.clear();
  FLastAdvance = FWireFreeAt = TClock::now();
  {
    std::lock_guard lock(FMutex);
    FHangUpPending = FFault == TFault::HangUpAfter && FFaultParam <= 0;
    FLineFull = false;
    FRunning = true;
    FThread = std::thread([this] { Run(); });
  }
  std::lock_guard running(gRunningMutex);
  gRunning.push_back(this);
}

void TBoardSimulator::Stop() {
  {
    std::lock_guard running(gRunningMutex);
    std::erase(gRunning, this);
  }
  if (FThread.joinable()) {
    if (FWake[1] >= 0) (void)!write(FWake[1], "x", 1);
    FThread.join();
    CloseFds();
  }
  if (FEeprom) FEeprom->Flush();
}

void TBoardSimulator::CloseFds() {
  for (int* fd : {&FMaster, &FSlave, &FWake[0], &FWake[1], &FCloses}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

bool TBoardSimulator::Running() const {
  std::lock_guard lock(FMutex);
  return FRunning;
}

std::string TBoardSimulator::DevicePath() const { return FDevicePath; }

void TBoardSimulator::SetFault(TFault fault, int param) {
  std::lock_guard lock(FMutex);
  FFault = fault;
  FFaultParam = param;
  FBoard.SetIntegralPerSecond(fault == TFault::IntegralPerSecond);
  FCommandsSinceFault = 0;
  if (fault == TFault::HangUpAfter && param <= 0) FHangUpPending = true;
}

std::vector<std::string> TBoardSimulator::ReceivedCommands() const {
  std::lock_guard lock(FMutex);
  return FReceived;
}

void TBoardSimulator::ClearReceived() {
  std::lock_guard lock(FMutex);
  FReceived.clear();
}

TBoardParams TBoardSimulator::Params() const {
  std::lock_guard lock(FMutex);
  return FBoard.Params();
}

void TBoardSimulator::SetParams(const TBoardParams& params) {
  std::lock_guard lock(FMutex);
  FBoard.SetParams(params);
  if (FEeprom) FEeprom->Save(FBoard.Params());
}

void TBoardSimulator::SetStatusOverride(const TStatusOverride& status) {
  std::lock_guard lock(FMutex);
  FBoard.SetStatusOverride(status);
}

void TBoardSimulator::ScriptAnswer(const std::string& command, std::vector<std::string> lines) {
  std::lock_guard lock(FMutex);
  FScripts[command].push_back(std::move(lines));
}

void TBoardSimulator::HoldAnswerTo(const std::string& key) {
  std::lock_guard lock(FMutex);
  FHoldKey = key;
}

void TBoardSimulator::ReleaseAnswers() {
  std::lock_guard lock(FMutex);
  FHoldKey.clear();
  for (TOutput& output : FOutput) output.Held = false;
}

void TBoardSimulator::OnCommand(std::function<void(const std::vector<std::string>&)> hook) {
  std::lock_guard lock(FMutex);
  FOnCommand = std::move(hook);
}

uint64_t TBoardSimulator::BytesSent() const {
  std::lock_guard lock(FMutex);
  return FBytesSent;
}

void TBoardSimulator::CatchUpAll() {
  std::lock_guard running(gRunningMutex);
  for (TBoardSimulator* simulator : gRunning) simulator->CatchUp();
}

void TBoardSimulator::CatchUp() {
  // A board that made no progress since it last failed to catch up is not waited for again: a
  // tool that polls a thousand times behind it would wait a thousand times the limit.
  const uint64_t progress = FProgress.load();
  if (progress != FStalledAt.load()) {
    int ms = 0;
    for (; ms < kCatchUpLimitMs && !CaughtUp(); ++ms) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ms == kCatchUpLimitMs) FStalledAt = FProgress.load();
  }
  std::lock_guard lock(FMutex);
  // A poll of an end of the line that has nothing to read runs the kernel's pending hand-over
  // at once: the bytes reach the tool's reader now.
  pollfd slave{FSlave, POLLIN, 0};
  if (FSlave >= 0) poll(&slave, 1, 0);
}

bool TBoardSimulator::CaughtUp() {
  {
    std::lock_guard lock(FMutex);
    if (FMaster < 0) return true;  // hung up, or not started
    pollfd master{FMaster, POLLIN, 0};
    poll(&master, 1, 0);  // as above: the tool's bytes reach this end now
    int unread = 0;
    if (ioctl(FMaster, FIONREAD, &unread) != 0) return true;
    if (unread > 0) return false;
  }
  // Read after the count: a read that began after the count found nothing new.
  if (FReading) return false;
  std::lock_guard lock(FMutex);
  // A full line holds what the tool has not read yet: the board can put nothing more on it.
  if (FLineFull) return true;
  const TClock::time_point now = TClock::now();
  for (const TOutput& output : FOutput) {
    if (output.Held) break;  // and every answer behind it waits
    if (output.StartAt > now) continue;
    if (FOptions.Pacing ? output.Written == 0 : output.Written < output.Bytes.size()) return false;
  }
  return true;
}

// The board thread: writes what is due, then waits for input, the stop signal or the next
// due byte, whichever comes first.
void TBoardSimulator::Run() {
  for (;;) {
    const int waitUs = WriteDueOutput();
    bool hangUp = false;
    {
      std::lock_guard lock(FMutex);
      hangUp = FHangUpPending && FOutput.empty();
    }
    if (hangUp) {
      // A moment for the tool to read the last answer before the line goes dead: closing the
      // master at once would discard bytes still waiting on the slave side.
      std::this_thread::sleep_for(std::chrono::milliseconds(kHangUpGraceMs));
      return HangUp();
    }
    pollfd fds[3] = {{FWake[0], POLLIN, 0}, {FMaster, POLLIN, 0}, {FCloses, POLLIN, 0}};
    const timespec wait{waitUs / 1000000, (waitUs % 1000000) * 1000L};
    if (ppoll(fds, 3, &wait, nullptr) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & POLLIN) {
      FReading = true;
      ReadInput();
      FReading = false;
    }
    if (fds[2].revents & POLLIN) ClientClosed();
  }
  std::lock_guard lock(FMutex);
  FRunning = false;
}

// A client that took the device exclusively (TIOCEXCL, after a flock, as the tool does) and
// was killed never gave the flag back; the device, kept open by the simulator, would refuse
// every later open until a restart. When a client closes and no lock is held any more, the
// client that set the flag is gone: the flag goes too.
void TBoardSimulator::ClientClosed() {
  char events[4096];
  while (read(FCloses, events, sizeof events) > 0) {
  }
  int exclusive = 0;
  if (ioctl(FSlave, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
  if (flock(FSlave, LOCK_EX | LOCK_NB) != 0) return;  // its owner still holds the device
  ioctl(FSlave, TIOCNXCL);
  flock(FSlave, LOCK_UN);
}

void TBoardSimulator::HangUp() {
  // Closing both sides makes the tool's reads fail as with an unplugged cable.
  std::lock_guard lock(FMutex);
  close(FMaster);
  close(FSlave);
  FMaster = FSlave = -1;
  FRunning = false;
}

void TBoardSimulator::ReadInput() {
  char buffer[512];
  const ssize_t n = read(FMaster, buffer, sizeof buffer);
  if (n > 0) ++FProgress;
  for (ssize_t i = 0; i < n; ++i) {
    const char c = buffer[i];
    if (c != '\r' && c != '\n') {
      if (FInput.size() < kMaxCommandLength) FInput.push_back(c);
      continue;
    }
    // CR, LF and CR LF all end a command; the empty line between CR and LF is no command.
    if (FInput.empty()) continue;
    HandleCommand(FInput);
    FInput.clear();
    std::function<void(const std::vector<std::string>&)> hook;
    std::vector<std::string> received;
    {
      std::lock_guard lock(FMutex);
      hook = FOnCommand;
      if (hook) received = FReceived;
    }
    if (hook) hook(received);
  }
}

void TBoardSimulator::AdvanceBoard() {
  const TClock::time_point now = TClock::now();
  if (now > FLastAdvance) FBoard.RunFor(std::chrono::duration<double>(now - FLastAdvance).count());
  FLastAdvance = std::max(FLastAdvance, now);
}

bool TBoardSimulator::TakeScripted(const std::string& command, std::vector<std::string>& lines) {
  for (auto& [key, queue] : FScripts) {
    if (!KeyMatches(key, command) || queue.empty()) continue;
    lines = std::move(queue.front());
    queue.pop_front();
    return true;
  }
  return false;
}

void TBoardSimulator::HandleCommand(const std::string& command) {
  std::lock_guard lock(FMutex);
  FReceived.push_back(command);
  if (FFault == TFault::NoAnswer || FHangUpPending) return;
  AdvanceBoard();
  const std::vector<std::string> lines = AnswerLines(command);
  const double duration = FBoard.LastAnswerDuration();
  // The step test's cycles already ran; the board's clock must not run them again.
  FLastAdvance += std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(duration));
  const bool crlf = FOptions.CrLf || FFault == TFault::CrLf;
  std::string bytes;
  for (const std::string& line : lines) bytes += line + (crlf ? "\r\n" : "\r");
  if (FFault == TFault::Garbage) bytes += GarbageBytes(FFaultParam, FGarbageRandom);
  const bool held = !FHoldKey.empty() && KeyMatches(FHoldKey, command);
  if (held) FHoldKey.clear();
  Queue(std::move(bytes), FOptions.Pacing ? duration : 0, held);
  if (FFault == TFault::HangUpAfter && ++FCommandsSinceFault >= FFaultParam) FHangUpPending = true;
}

// The board's answer with scripted answers first and the fault modes applied; persists the
// parameters when the command changed them, as the board writes its EEPROM.
std::vector<std::string> TBoardSimulator::AnswerLines(const std::string& command) {
  std::vector<std::string> lines;
  if (TakeScripted(command, lines)) return lines;
  std::string effective = command;
  if (FFault == TFault::SetAnswersDifferent && command.size() > 2 && IsParamLetter(command[0])) {
    if (const auto value = ParseNumber(command.substr(2)))
      effective = command.substr(0, 2) + FormatPlain(*value + (FFaultParam ? FFaultParam : 1));
  }
  lines = FBoard.Answer(effective);
  if (FBoard.ParamsChanged() && FEeprom) FEeprom->Save(FBoard.Params());
  return ApplyLineFault(std::move(lines), FFault, FFaultParam);
}

// Queues an answer behind whatever is still on its way: the line carries one byte at a time,
// so a second answer never starts before the first has gone out.
void TBoardSimulator::Queue(std::string bytes, double extraDelaySeconds, bool held) {
  if (bytes.empty()) return;
  TOutput output;
  output.StartAt = std::max(TClock::now() + Ticks(FOptions.ReplyDelayMs / 1000.0 + extraDelaySeconds), FWireFreeAt);
  const double wireSeconds = FOptions.Pacing ? bytes.size() / kWireBytesPerSecond : 0;
  FWireFreeAt = output.StartAt + Ticks(wireSeconds);
  output.Bytes = std::move(bytes);
  output.Held = held;
  FOutput.push_back(std::move(output));
}

// Writes what is due of the queued output; returns how long to wait before the next write, in
// microseconds.
int TBoardSimulator::WriteDueOutput() {
  std::lock_guard lock(FMutex);
  while (!FOutput.empty()) {
    TOutput& head = FOutput.front();
    if (head.Held) return kIdlePollMs;  // and every answer behind it
    const TClock::time_point now = TClock::now();
    if (now < head.StartAt)
      return static_cast<int>(std::chrono::ceil<std::chrono::microseconds>(head.StartAt - now).count());
    size_t due = head.Bytes.size();
    if (FOptions.Pacing) {
      const double elapsed = std::chrono::duration<double>(now - head.StartAt).count();
      due = std::min(due, static_cast<size_t>(elapsed * kWireBytesPerSecond) + 1);
    }
    if (due > head.Written) {
      const ssize_t n = write(FMaster, head.Bytes.data() + head.Written, due - head.Written);
      FLineFull = n < 0;
      if (n < 0) return 1000;  // the pty is full: the tool is not reading yet, try again shortly
      ++FProgress;
      head.Written += static_cast<size_t>(n);
      FBytesSent += static_cast<uint64_t>(n);
    }
    // Bytes go out a millisecond's worth at a time, and the last one when the line has carried
    // those before it: to the microsecond, not up to a millisecond later.
    if (head.Written < head.Bytes.size()) {
      if (!FOptions.Pacing) return 1000;
      const auto last = head.StartAt + Ticks(double(head.Bytes.size() - 1) / kWireBytesPerSecond);
      const auto untilLast = std::chrono::ceil<std::chrono::microseconds>(last - TClock::now()).count();
      return static_cast<int>(std::clamp<long long>(untilLast, 1, 1000));
    }
    FOutput.pop_front();
  }
  return kIdlePollMs * 1000;
}

}  // namespace zirvsim
