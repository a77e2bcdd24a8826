#include "base/clock.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

// Every epoch time of the daemon passes through time_t; a 32-bit one ends in January 2038. A
// 32-bit glibc build needs _TIME_BITS=64 (the build sets it); musl has 64 bits everywhere.
static_assert(sizeof(time_t) >= 8, "time_t must have 64 bits");

int SystemMonotonic(struct timespec* now) { return clock_gettime(CLOCK_MONOTONIC, now); }

int32_t GetUptime() {
  struct sysinfo info {};
  int rc = sysinfo(&info);
  if (rc != 0) {
    fprintf(stderr, "get_uptime() code error = %d\n", rc);
    return 0;
  }
  return static_cast<int32_t>(info.uptime);
}

int32_t ReadTicks(MonotonicReader reader) {
  struct timespec now {};
  while (reader(&now) != 0) usleep(1000);
  uint32_t secs = static_cast<uint32_t>(now.tv_sec);
  uint32_t ms = secs * 1000u + static_cast<uint32_t>(now.tv_nsec / 1000000);
  return static_cast<int32_t>(ms);
}
