#include "base/stop_event.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "base/signals.h"

// Signalled before the wait, by another thread or by the SIGINT handler on another thread 50 ms
// into it, or never: the wait ends at once, soon after the signal, or at its limit.
TEST(StopEventTest, WaitEndsWhenSignalledAndNotBefore) {
  enum Raise { kNever, kBefore, kThread, kSigint };
  const struct { Raise raise; long min_ms, max_ms; } cases[] = {
      {kNever, 190, 1000}, {kBefore, 0, 50}, {kThread, 40, 300}, {kSigint, 40, 300}};
  for (const auto& c : cases) {
    StopEvent stop;
    InstallInterruptHandler(&stop);
    if (c.raise == kBefore) stop.Signal();
    std::thread raiser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (c.raise == kThread) stop.Signal();
      if (c.raise == kSigint) pthread_kill(pthread_self(), SIGINT);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.raise != kNever, stop.WaitFor(c.raise != kNever ? 5000 : 200)) << c.raise;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start).count();
    raiser.join();
    EXPECT_TRUE(ms >= c.min_ms && ms < c.max_ms) << c.raise << ": " << ms << " ms";
    EXPECT_EQ(c.raise != kNever, stop.WaitFor(0)) << c.raise;  // and stays so
    EXPECT_EQ(c.raise == kSigint, stopRequested != 0) << c.raise;
    InstallInterruptHandler(nullptr);
    stopRequested = 0;
  }
  signal(SIGINT, SIG_DFL);
  signal(SIGUSR1, SIG_DFL);
}
