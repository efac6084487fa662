#pragma once

// The arithmetic of the port's read and write time-outs, on plain values. Time-out values are
// milliseconds as 32-bit numbers, -1 standing for the value with all bits set.

#include <QtGlobal>
#include <cstdint>

struct pollfd;

// A wait without limit.
constexpr int64_t kNoTimeLimit = -1;

// The limits of one read of a given count of bytes.
struct TReadLimits {
  bool Immediate = false;  // return at once with what has arrived
  bool FirstByte = false;  // return as soon as one byte is there
  int64_t Total = kNoTimeLimit;     // ms from the start of the read
  int64_t Interval = kNoTimeLimit;  // ms from the last byte, once one has come
};

// Returns the limits of a read of count bytes: an interval with all bits set and both totals
// 0 returns at once; an interval and multiplier with all bits set and a constant between
// returns with the first byte or after the constant; otherwise the totals (both 0: none)
// bound the whole read and the interval (0: none) the pause after a byte.
TReadLimits ReadLimitsOf(int interval, int multiplier, int constant, int count);

// Returns how long a read may still wait for more, given the bytes it has got and the time
// since its start and since its last byte: 0 to end the read, kNoTimeLimit for no limit.
int64_t ReadWaitMs(const TReadLimits& limits, qsizetype got, int count, int64_t sinceStart,
                   int64_t sinceLast);

// Returns the time a write of size bytes may take, multiplier * size + constant, or
// kNoTimeLimit when both are 0.
int64_t WriteLimitMs(int multiplier, int constant, qsizetype size);

// What the port's time-outs are measured on and waited with. The port uses the monotonic clock
// and poll(2); a test gives it a clock whose time passes only in the waits, so that it counts
// how long a time-out lasts instead of timing it.
class TPortClock {
 public:
  virtual ~TPortClock() = default;
  // Returns the time in ms.
  virtual int64_t NowMs() = 0;
  // Waits as poll(2) does for one descriptor: until its events come or ms have passed
  // (forever when negative); returns poll's result, errno set when it is negative.
  virtual int Poll(pollfd& p, int64_t ms) = 0;
};

// Returns the monotonic clock with poll(2), the clock of every port unless a test sets another.
TPortClock& SystemPortClock();
