// The status table shared by several writer threads and a reader (run it under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/context.h"
#include "status/status_table.h"

namespace {

constexpr int kWriters = 4;
constexpr int kRounds = 2000;
// Each writer owns two entries and shares one with all the others.
constexpr uint32_t kOwn[kWriters][2] = {
    {kScRsrp_i, kIMEI_s}, {kLat_f, kLon_f}, {kUeRssi_i, kICCID_s}, {kWWanRxBytes_i, kApn_s}};
constexpr uint32_t kShared = kNMEA_s;

TEST(StatusTableConcurrencyTest, WritersAndReaderSeeWholeValues) {
  StatusInit();
  GatherContext ctx{};
  ctx.statusTable = &statusValues;

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      ASSERT_EQ(StatusLock(&statusValues), 1);
      // Every value is a whole text some writer wrote: "w<writer>-<round>" padded to 100 chars.
      for (uint32_t index : {kOwn[0][0], kOwn[1][1], kShared}) {
        const char* v = statusValues.entries[index].value;
        if (v[0] != '\0' && (strlen(v) != 100 || v[0] != 'w' || v[99] != '.')) ++torn;
      }
      StatusUnlock(&statusValues);
      ExpireStatus(&ctx, 0);
    }
  });

  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([w, &ctx] {
      char text[128];
      for (int round = 0; round < kRounds; ++round) {
        snprintf(text, sizeof text, "w%d-%d", w, round);
        std::string padded = std::string(text) + std::string(100 - strlen(text), '.');
        UpdateVariableStatusT(&ctx, kOwn[w][0], padded.c_str(), 0);
        UpdateFixedStatus(&ctx, kOwn[w][1], padded.c_str());
        UpdateVariableStatusT(&ctx, kShared, padded.c_str(), 0);
        UpdateVariableStatus_i(&ctx, kUpTime_i, round);
      }
    });
  }
  for (std::thread& t : writers) t.join();
  done = true;
  reader.join();

  EXPECT_EQ(torn.load(), 0);
  for (int w = 0; w < kWriters; ++w) {
    const std::string last = "w" + std::to_string(w) + "-" + std::to_string(kRounds - 1);
    for (uint32_t index : kOwn[w]) {
      EXPECT_EQ(std::string(statusValues.entries[index].value).rfind(last, 0), 0u) << index;
    }
    EXPECT_EQ(statusValues.entries[kOwn[w][1]].fixed, 1);
  }
  EXPECT_STREQ(statusValues.entries[kUpTime_i].value, std::to_string(kRounds - 1).c_str());
}

}  // namespace
