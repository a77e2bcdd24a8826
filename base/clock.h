// Time: uptime in seconds and the monotonic millisecond tick that every duration and time limit is
// measured with.
#pragma once

#include <cstdint>
#include <ctime>

// Seconds since boot (sysinfo); a failed call is reported on standard error.
int32_t GetUptime();

// A monotonic clock: clock_gettime(CLOCK_MONOTONIC), or the one a test hands in.
using MonotonicReader = int (*)(struct timespec* now);
int SystemMonotonic(struct timespec* now);

// Milliseconds of `reader` in 32-bit arithmetic: wraps about every 49.7 days, so callers compare
// ticks only through differences (TicksBetween). A failed read is retried after a millisecond.
int32_t ReadTicks(MonotonicReader reader);

// ReadTicks of the system's monotonic clock.
inline int32_t GetTicks() { return ReadTicks(SystemMonotonic); }

// later - earlier, modulo 2^32, read as signed.
inline int32_t TicksBetween(int32_t earlier, int32_t later) {
  return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

// The end of a request that has a total time limit, on the monotonic tick.
class Deadline {
 public:
  explicit Deadline(int32_t totalLimitMs) : start_(GetTicks()), limitMs_(totalLimitMs) {}
  // Milliseconds left, 0 once the limit has passed.
  int32_t LeftMs() const {
    const int32_t left = limitMs_ - TicksBetween(start_, GetTicks());
    return left < 0 ? 0 : left;
  }
  bool Passed() const { return LeftMs() == 0; }

 private:
  int32_t start_;
  int32_t limitMs_;
};
