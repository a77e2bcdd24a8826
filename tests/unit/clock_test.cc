// The monotonic tick: 32-bit arithmetic that wraps, read through an injected clock.
#include "base/clock.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct timespec fake_clock;
int failures_left = 0;
int reads = 0;

int FakeMonotonic(struct timespec* now) {
  ++reads;
  if (failures_left > 0) {
    --failures_left;
    return -1;
  }
  *now = fake_clock;
  return 0;
}

void SetFakeMs(long long ms) {
  fake_clock.tv_sec = static_cast<time_t>(ms / 1000);
  fake_clock.tv_nsec = static_cast<long>(ms % 1000) * 1000000L + 999999L;  // truncated
}

class TicksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    failures_left = 0;
    reads = 0;
  }
};

TEST_F(TicksTest, StepsByOneMillisecondAcrossBothWrapPoints) {
  struct Case {
    long long start_ms;
    int32_t first_tick;
  };
  const Case cases[] = {
      {2147483647LL - 3, INT32_MAX - 3},  // becomes negative
      {4294967296LL - 3, -3},             // passes 2^32 back to 0
      {3LL * 4294967296LL + 1000, 1000},  // seconds beyond 32 bits
  };
  for (const Case& c : cases) {
    SetFakeMs(c.start_ms);
    int32_t previous = ReadTicks(FakeMonotonic);
    EXPECT_EQ(previous, c.first_tick) << c.start_ms;
    for (int step = 1; step <= 6; ++step) {
      SetFakeMs(c.start_ms + step);
      int32_t now = ReadTicks(FakeMonotonic);
      EXPECT_EQ(TicksBetween(previous, now), 1) << c.start_ms << " step " << step;
      previous = now;
    }
  }
  SetFakeMs(2147483647LL);
  const int32_t before = ReadTicks(FakeMonotonic);
  SetFakeMs(2147483647LL + 15000);
  EXPECT_EQ(TicksBetween(before, ReadTicks(FakeMonotonic)), 15000);
}

TEST_F(TicksTest, RetriesUntilTheClockCanBeRead) {
  SetFakeMs(42);
  failures_left = 3;
  EXPECT_EQ(ReadTicks(FakeMonotonic), 42);
  EXPECT_EQ(reads, 4);
}

}  // namespace
