// The simulator on its pty: answers framed and counted as the tool reads them, and each fault
// mode breaking them in exactly its own way.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/ioctl.h>

#include <filesystem>
#include <future>
#include <thread>

#include "tests/privatedir.h"
#include "wire_helpers.h"

using namespace zirvsim;
using TLines = std::vector<std::string>;

namespace {

// One board whose fault mode tests switch between commands: each answer's lines and bytes,
// plain and as each mode breaks them.
TEST(WireTest, AnswersAreExactlyAsEachModeShapesThem) {
  TBoardSimulator sim(kFast);
  sim.ScriptAnswer("p", {"(p) 7", "(p) 8"});
  sim.Start();
  TTestPort port(sim.DevicePath());
  // Returns the bytes of the answer, read up to the answer of a clean "o 0" sent behind it so
  // that no timeout decides where the answer ended.
  auto answer = [&](TFault fault, int param, const std::string& command, size_t lines) {
    sim.SetFault(fault, param);
    port.Send(command);
    std::string bytes = port.ReadRaw(lines);
    sim.SetFault(TFault::None);
    port.Send("o 0");
    bytes += port.ReadRaw(1);
    const size_t end = bytes.size() - std::min<size_t>(bytes.size(), 6);
    EXPECT_EQ(bytes.substr(end), "(o) 0\r") << command;
    return bytes.substr(0, end);
  };
  // CR, LF and CR LF each end a command; a scripted answer is used once.
  EXPECT_EQ(TTestPort::SplitLines(answer(TFault::None, 0, "l\rp 0.5\n", 19)).back(), "(p) 8");
  EXPECT_EQ(sim.ReceivedCommands(), (TLines{"l", "p 0.5", "o 0"}));
  const struct {
    TFault Fault;
    int Param;
    const char* Command;
    size_t Count;  // lines of the answer
    int Line;      // the line checked
    const char* Text;
  } cases[] = {
      {TFault::None, 0, "s", 9, 7, "servo enabled: 1"},
      {TFault::None, 0, "l", 17, 16, "(c) 3"},
      {TFault::None, 0, "r0c100ok1", 404, 403, "cycles: 199"},
      {TFault::None, 0, "o -2940", 1, 0, "(o) -2940"},
      {TFault::CutShort, 1, "s", 8, 7, "servo enabled: 1"},
      {TFault::ExtraLines, 1, "s", 10, 9, "extra: 0"},
      {TFault::CutShort, 1, "r0c100ok1", 403, 402, "end of step response"},
      {TFault::MissingTag, 9, "l", 17, 9, "95"},
      {TFault::MalformedNumber, 3, "l", 17, 3, "(p) 1.2.3"},
      {TFault::MalformedNumber, 100, "r0c100ok1", 404, 100, "error: 1.2.3"},
      {TFault::MissingTag, 0, "p 0.5", 1, 0, "0.5"},
      {TFault::SetAnswersDifferent, 0, "p 0.5", 1, 0, "(p) 1.5"},
      {TFault::SetAnswersDifferent, -10, "m 95", 1, 0, "(m) 85"},
  };
  for (const auto& c : cases) {
    const TLines lines = TTestPort::SplitLines(answer(c.Fault, c.Param, c.Command, c.Count));
    ASSERT_EQ(lines.size(), c.Count) << c.Command << " under " << FaultName(c.Fault);
    EXPECT_EQ(lines[c.Line], c.Text) << c.Command << " under " << FaultName(c.Fault);
  }
  EXPECT_EQ(answer(TFault::None, 0, "p 0.5", 1), "(p) 0.5\r");
  EXPECT_EQ(answer(TFault::CrLf, 0, "p 0.5", 1), "(p) 0.5\r\n");
  // Noise with NULs but no line end, so that it can never pass for a line.
  const std::string noisy = answer(TFault::Garbage, 40, "p 0.5", 1);
  EXPECT_EQ(noisy.size(), 8u + 40);
  EXPECT_EQ(TTestPort::CountCr(noisy), 1u);
  EXPECT_NE(noisy.find('\0'), std::string::npos);
  sim.SetFault(TFault::NoAnswer);
  EXPECT_TRUE(port.Ask("s", 1, 200).empty());
  EXPECT_EQ(sim.ReceivedCommands().back(), "s");
}

// The last answer before a hang-up must still be readable.
TEST(WireTest, HangUpAfterOneCommandClosesThePty) {
  TBoardSimulator sim(kFast);
  sim.SetFault(TFault::HangUpAfter, 1);
  sim.Start();
  TTestPort port(sim.DevicePath());
  EXPECT_EQ(port.Ask("p 0.5", 1), TLines{"(p) 0.5"});
  pollfd fd{port.Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&fd, 1, 2000), 1);
  EXPECT_TRUE(fd.revents & (POLLHUP | POLLERR));
}

// With pacing on, an answer never reaches the tool faster than the serial line carries it
// (5760 bytes per second); how close the rate comes is printed by bench_sim.
TEST(WireTest, PacedAnswerTakesAtLeastItsWireTime) {
  TBoardSimulator sim(TSimOptions{.Pacing = true, .EepromFile = {}, .ReplyDelayMs = 0});
  sim.Start();
  TTestPort port(sim.DevicePath());
  // The clock starts before the command goes out, so no answer byte can be on its way before
  // it, however late this thread runs: the first byte may go at once, each one after it a
  // byte's wire time later.
  const auto start = std::chrono::steady_clock::now();
  port.Send("l");
  const std::string answer = port.ReadRaw(17);
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(TTestPort::CountCr(answer), 17u);
  EXPECT_GE(spent.count(), (static_cast<double>(answer.size()) - 1) / kWireBytesPerSecond);
}

// Parameters set on the line or by a test are in the EEPROM file that the next run loads.
// Opens the device as the tool does: exclusively, behind a lock. Returns the descriptor.
int OpenExclusively(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fd;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Returns whether the device's exclusive flag is set; false when it cannot be opened to ask
// (a process without the privilege to pass the flag gets EBUSY).
bool ExclusiveFlag(const std::string& path, bool& opened) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  opened = fd >= 0;
  if (!opened) return false;
  int exclusive = 1;
  ioctl(fd, TIOCGEXCL, &exclusive);
  close(fd);
  return exclusive != 0;
}

// A client that held the device exclusively and ended without giving it back (killed, so its
// descriptor closed without TIOCNXCL) leaves it free for the next client; a client still
// holding it keeps it while others come and go.
TEST(WireTest, ExclusiveFlagGoesWithTheClientThatSetIt) {
  TBoardSimulator sim(kFast);
  sim.Start();
  const int holder = OpenExclusively(sim.DevicePath());
  ASSERT_GE(holder, 0);
  bool opened = false;
  const bool heldFlag = ExclusiveFlag(sim.DevicePath(), opened);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (opened) {
    EXPECT_TRUE(heldFlag && ExclusiveFlag(sim.DevicePath(), opened));
  }
  close(holder);
  bool free = false;
  for (int i = 0; i < 200 && !free; ++i) {
    free = !ExclusiveFlag(sim.DevicePath(), opened) && opened;
    if (!free) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(free);
  const int next = OpenExclusively(sim.DevicePath());
  EXPECT_GE(next, 0);
  if (next >= 0) close(next);
}

// A set command is answered at the board's pace even when the host's disk takes long to take
// the EEPROM file; the file still gets the value, at the latest when the simulator stops.
TEST(WireTest, SlowDiskDoesNotDelayTheAnswer) {
  const TPrivateDir dir;
  TSimOptions options = kFast;
  options.EepromFile = dir.File("eeprom");
  // The disk takes the file only once both answers have come.
  std::promise<void> answered;
  std::shared_future<void> disk = answered.get_future().share();
  options.SaveEeprom = [disk](const std::string& path, const TBoardParams& params) {
    disk.wait();
    return SaveParams(path, params);
  };
  {
    TBoardSimulator sim(options);
    sim.Start();
    TTestPort port(sim.DevicePath());
    EXPECT_EQ(port.Ask("p 0.25", 1), TLines{"(p) 0.25"});
    EXPECT_EQ(port.Ask("i 0.5", 1), TLines{"(i) 0.5"});
    answered.set_value();
  }
  const TBoardParams stored = TBoardSimulator(options).Params();
  EXPECT_EQ(stored.P, 0.25);
  EXPECT_EQ(stored.I, 0.5);
}

TEST(WireTest, ParametersSurviveARestart) {
  const TPrivateDir dir;
  TSimOptions options = kFast;
  options.EepromFile = dir.File("eeprom");
  TBoardParams all{1, 1e-5, 1.0 / 3, 2, 4, 95.4, -0.5, 7, 999.5, 3, 9, 123, 1, 1023, 2};
  {
    TBoardSimulator sim(options);
    sim.SetParams(all);
    sim.Start();
    EXPECT_EQ(TTestPort(sim.DevicePath()).Ask("p 0.0125", 1), TLines{"(p) 0.0125"});
  }
  all.P = 0.0125;
  EXPECT_EQ(TBoardSimulator(options).Params(), all);
}

}  // namespace

namespace {

// A tool waits a thousand polls for an idle line, each behind the gate: a board that cannot
// catch up, held in a hook or facing a line the tool does not read, costs one wait at most,
// not a thousand (which would outlast the test's limit many times over).
TEST(CatchUpTest, BoardThatCannotCatchUpIsWaitedForOnce) {
  const struct {
    const char* Name;
    bool Stalled;  // the board thread is held in a command's hook; else the tool reads nothing
  } cases[] = {{"stalled board", true}, {"full line", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TBoardSimulator sim(kFast);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    if (c.Stalled) sim.OnCommand([released](const TLines&) { released.wait(); });
    sim.Start();
    TTestPort port(sim.DevicePath());
    // One command held in the hook with another unread behind it; or step answers of 5 KB each,
    // more than the line holds.
    for (int k = 0; k < (c.Stalled ? 2 : 4); ++k) port.Send(c.Stalled ? "s" : "r0c100ok1");
    for (int poll = 0; poll < 1000; ++poll) TBoardSimulator::CatchUpAll();
    EXPECT_EQ(sim.ReceivedCommands().size(), c.Stalled ? 1u : 4u);
    release.set_value();
    sim.Stop();
  }
}

}  // namespace
