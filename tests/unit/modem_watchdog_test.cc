// The modem watchdog's states with a counting reset and a chosen uptime, and the key values that
// count as the modem's answer.
#include "modem/modem_watchdog.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "config/context.h"
#include "modem/modem_session.h"
#include "status/status_table.h"

namespace {

int resets = 0;
int32_t uptime = 0;
int CountingReset(GatherContext*) {
  ++resets;
  return 1;
}
int32_t FakeUptime() { return uptime; }

class ModemWatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uptime = 0;
    Restart();
  }
  // A fresh table and a fresh watchdog, as at the daemon's start; the uptime stays.
  void Restart() {
    StatusInit();
    ctx_.statusTable = &statusValues;
    modem_ = ModemSession{};
    modem_.modemIndex = 0;
    ctx_.modem = &modem_;
    watchdog_ = ModemWatchdog{CountingReset, FakeUptime, false, false, false, 0};
    resets = 0;
  }
  void Set(uint32_t index, const char* text) { UpdateVariableStatusT(&ctx_, index, text, 0); }
  void Watch() { RunModemWatchdog(&watchdog_, &ctx_); }

  ModemSession modem_;
  GatherContext ctx_{};
  ModemWatchdog watchdog_{};
};

// The watchdog acts only after 180 s of uptime, and only the values that need a modem answer
// stop it for good (the states with the real reset answers are tested against the simulator).
TEST_F(ModemWatchdogTest, WaitsForUptimeAndCountsOnlyModemValues) {
  uptime = 180;
  Watch();
  EXPECT_EQ(resets, 0);
  uptime = 181;
  Watch();
  EXPECT_EQ(resets, 1);
  const uint32_t answers[] = {kModemSwVersion_s, kIMSI_s, kMCBV_s, kMCLBV_s,
                              kUeRssi_i,         kScMcc_i, kScRssi_i};
  for (uint32_t key : answers) {
    Restart();
    Set(key, "1");
    Watch();
    Set(key, "");  // the value goes away again
    Watch();
    EXPECT_TRUE(watchdog_.answered) << statusValues.entries[key].name;
    EXPECT_EQ(resets, 0) << statusValues.entries[key].name;
  }
  Restart();
  Set(kIMEI_s, "1");
  Watch();
  EXPECT_FALSE(watchdog_.answered);
  EXPECT_EQ(resets, 1);
}

TEST(ValidATResponseTest, AnyOfTheAnswerEntriesCounts) {
  for (StatusIndex index :
       {kModemSwVersion_s, kIMSI_s, kMCBV_s, kMCLBV_s, kUeRssi_i, kScMcc_i, kScRssi_i}) {
    StatusInit();
    EXPECT_EQ(0, validATResponse(&statusValues));
    snprintf(statusValues.entries[index].value, kStatusValueSize, "1");
    EXPECT_EQ(1, validATResponse(&statusValues)) << index;
  }
  StatusInit();
  snprintf(statusValues.entries[kIMEI_s].value, kStatusValueSize, "359");
  EXPECT_EQ(0, validATResponse(&statusValues));
}

}  // namespace
