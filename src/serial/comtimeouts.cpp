#include "serial/comtimeouts.h"

#include <poll.h>

#include <algorithm>
#include <chrono>

namespace {

// A time-out value as the 32-bit unsigned number it stands for (-1 is all bits set).
int64_t Unsigned(int value) { return static_cast<uint32_t>(value); }

constexpr int64_t kAllBits = 0xffffffffu;

}  // namespace

TReadLimits ReadLimitsOf(int interval, int multiplier, int constant, int count) {
  const int64_t i = Unsigned(interval);
  const int64_t m = Unsigned(multiplier);
  const int64_t c = Unsigned(constant);
  TReadLimits limits;
  limits.Immediate = i == kAllBits && m == 0 && c == 0;
  limits.FirstByte = i == kAllBits && m == kAllBits && c > 0 && c < kAllBits;
  if (limits.FirstByte) {
    limits.Total = c;
    return limits;
  }
  if (m != 0 || c != 0) limits.Total = m * std::max(count, 0) + c;
  if (i != 0) limits.Interval = i;
  return limits;
}

int64_t ReadWaitMs(const TReadLimits& limits, qsizetype got, int count, int64_t sinceStart,
                   int64_t sinceLast) {
  if (got >= count || limits.Immediate || (limits.FirstByte && got > 0)) return 0;
  int64_t wait = limits.Total == kNoTimeLimit
                     ? kNoTimeLimit
                     : std::max<int64_t>(0, limits.Total - sinceStart);
  if (got > 0 && limits.Interval != kNoTimeLimit) {
    const int64_t left = std::max<int64_t>(0, limits.Interval - sinceLast);
    wait = wait == kNoTimeLimit ? left : std::min(wait, left);
  }
  return wait;
}

int64_t WriteLimitMs(int multiplier, int constant, qsizetype size) {
  const int64_t m = Unsigned(multiplier);
  const int64_t c = Unsigned(constant);
  if (m == 0 && c == 0) return kNoTimeLimit;
  // Capped far beyond any real wait, so that neither the product nor adding it to the clock
  // can overflow.
  constexpr int64_t kCap = int64_t(1) << 50;
  if (size > 0 && m > (kCap - c) / size) return kCap;
  return std::min<int64_t>(m * size + c, kCap);
}

namespace {

class TSystemPortClock : public TPortClock {
 public:
  int64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  int Poll(pollfd& p, int64_t ms) override {
    return ::poll(&p, 1, ms < 0 ? -1 : static_cast<int>(std::min<int64_t>(ms, 1 << 30)));
  }
};

}  // namespace

TPortClock& SystemPortClock() {
  static TSystemPortClock clock;
  return clock;
}
