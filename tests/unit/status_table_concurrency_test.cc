// The status table shared by several writer threads and a reader (run it under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "status/status_table.h"
#include "tests/support/table_access.h"

namespace {

constexpr int kWriters = 4;
constexpr int kRounds = 2000;
// Each writer owns two entries and shares one with all the others.
constexpr uint32_t kOwn[kWriters][2] = {
    {kScRsrp_i, kIMEI_s}, {kLat_f, kLon_f}, {kUeRssi_i, kICCID_s}, {kWWanRxBytes_i, kApn_s}};
constexpr uint32_t kShared = kNMEA_s;

TEST(StatusTableConcurrencyTest, WritersAndReaderSeeWholeValues) {
  StatusTable table;

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      // Every value is a whole text some writer wrote: "w<writer>-<round>" padded to 100 chars.
      const StatusSnapshot copy = SnapshotOf(table);
      for (uint32_t index : {kOwn[0][0], kOwn[1][1], kShared}) {
        const char* v = copy.entries[index].value;
        if (v[0] != '\0' && (strlen(v) != 100 || v[0] != 'w' || v[99] != '.')) ++torn;
      }
      table.Expire(StatusKind::kLink);
    }
  });

  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([w, &table] {
      char text[128];
      for (int round = 0; round < kRounds; ++round) {
        snprintf(text, sizeof text, "w%d-%d", w, round);
        std::string padded = std::string(text) + std::string(100 - strlen(text), '.');
        table.Update(kOwn[w][0], padded.c_str(), 0);
        table.UpdateFixed(kOwn[w][1], padded.c_str());
        table.Update(kShared, padded.c_str(), 0);
        table.UpdateInt(kUpTime_i, round);
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
      EXPECT_EQ(std::string(EntryOf(table, index).value).rfind(last, 0), 0u) << index;
    }
    EXPECT_EQ(EntryOf(table, kOwn[w][1]).fixed, 1);
  }
  EXPECT_STREQ(EntryOf(table, kUpTime_i).value, std::to_string(kRounds - 1).c_str());
}

}  // namespace
