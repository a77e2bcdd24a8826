// Time: uptime in seconds, a millisecond sleep and the monotonic millisecond tick that every
// duration and time limit is measured with.
#pragma once

#include <cstdint>
#include <ctime>

// Seconds since boot (sysinfo); a failed call is reported on standard error.
int32_t GetUptime();

// Milliseconds of the monotonic clock in 32-bit arithmetic: wraps about every 49.7 days, so
// callers compare ticks only through differences (TicksBetween).
int32_t GetTicks();

// later - earlier, modulo 2^32, read as signed.
inline int32_t TicksBetween(int32_t earlier, int32_t later) {
  return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

// The clock GetTicks reads; tests inject one (nullptr restores clock_gettime(CLOCK_MONOTONIC)).
using MonotonicReader = int (*)(struct timespec* now);
void SetMonotonicReader(MonotonicReader reader);
