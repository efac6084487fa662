#pragma once

// The arithmetic of the port's read and write time-outs, on plain values. Time-out values are
// milliseconds as 32-bit numbers, -1 standing for the value with all bits set.

#include <QtGlobal>
#include <cstdint>

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
