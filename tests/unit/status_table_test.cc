#include "status/status_table.h"

#include <gtest/gtest.h>

#include "config/context.h"

namespace {

int64_t fake_now = 5000;
int64_t FakeNow() { return fake_now; }

class StatusTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StatusInit();
    SetStatusClock(FakeNow);
    fake_now = 5000;
    ctx_.statusTable = &statusValues;
  }
  void TearDown() override { SetStatusClock(nullptr); }
  GatherContext ctx_{};
};

TEST_F(StatusTableTest, SameTextRefreshesUpdateButNotChange) {
  EXPECT_EQ(1, UpdateVariableStatusT(&ctx_, kScMode_s, "LTE", 0));
  fake_now = 6000;
  EXPECT_EQ(0, UpdateVariableStatusT(&ctx_, kScMode_s, "LTE", 0));
  EXPECT_EQ(6000, statusValues.entries[kScMode_s].lastUpdate);
  EXPECT_EQ(5000, statusValues.entries[kScMode_s].lastChange);
  EXPECT_EQ(6000, statusValues.lastUpdate);
  EXPECT_EQ(5000, statusValues.lastChange);
}

// Every write, counters and unchanged texts included, takes the next place in the write order,
// wherever the clock stands; an index out of range and an expiry take none.
TEST_F(StatusTableTest, WritesAreOrderedWhateverTheClockSays) {
  struct Write {
    int64_t now;
    uint32_t index;
    const char* text;
  } writes[] = {
      {5000, kScMode_s, "LTE"}, {5000, kScMode_s, "LTE"}, {5000 - 86400, kUpTime_i, "7"},
      {5000 - 86400, kLat_f, "1.0"}, {5000 + 86400, kScMode_s, "NR"}, {5000, kStatusCount, "x"},
  };
  uint64_t expected = 0;
  for (const Write& write : writes) {
    fake_now = write.now;
    UpdateVariableStatusT(&ctx_, write.index, write.text, 0);
    if (write.index < kStatusCount) {
      ++expected;
      EXPECT_EQ(expected, statusValues.entries[write.index].writeSeq) << write.text;
    }
    EXPECT_EQ(expected, statusValues.writeCount) << write.text;
  }
  ExpireStatus(&ctx_, 0);
  EXPECT_EQ(expected, statusValues.writeCount);
  EXPECT_EQ(5u, statusValues.entries[kScMode_s].writeSeq);
}

TEST_F(StatusTableTest, CallerTimestampStampsEntryButTableUsesNow) {
  EXPECT_EQ(1, UpdateVariableStatusT(&ctx_, kLat_f, "1.0", 1000));
  EXPECT_EQ(1000, statusValues.entries[kLat_f].lastUpdate);
  EXPECT_EQ(1000, statusValues.entries[kLat_f].lastChange);
  EXPECT_EQ(5000, statusValues.lastUpdate);
  EXPECT_EQ(5000, statusValues.lastChange);
}

TEST_F(StatusTableTest, CountersNeverCountAsChanges) {
  for (uint32_t index : {kUpTime_i, kStatusTime_i, kPostDuration_i}) {
    EXPECT_EQ(0, UpdateVariableStatus_i(&ctx_, index, 42));
    EXPECT_STREQ("42", statusValues.entries[index].value);
    EXPECT_EQ(5000, statusValues.entries[index].lastUpdate);
    EXPECT_EQ(0, statusValues.entries[index].lastChange);
  }
  EXPECT_EQ(0, statusValues.lastUpdate);
  EXPECT_EQ(0, statusValues.lastChange);
}

TEST_F(StatusTableTest, IndexOutOfRangeTouchesNothing) {
  EXPECT_EQ(0, UpdateVariableStatusT(&ctx_, 98, "x", 0));
  EXPECT_EQ(0, statusValues.lastUpdate);
}

TEST_F(StatusTableTest, NumberFormats) {
  UpdateVariableStatus_f(&ctx_, kAlt_f, 1.5f, 0);
  EXPECT_STREQ("1.500000", statusValues.entries[kAlt_f].value);
  UpdateVariableStatus_i(&ctx_, kUeRssi_i, -7);
  EXPECT_STREQ("-7", statusValues.entries[kUeRssi_i].value);
  UpdateVariableStatus_l(&ctx_, kAtRxBytes_i, 123456789L);
  EXPECT_STREQ("123456789", statusValues.entries[kAtRxBytes_i].value);
  UpdateVariableStatus_d(&ctx_, kLon_f, -0.25, 0);
  EXPECT_STREQ("-0.250000", statusValues.entries[kLon_f].value);
}

TEST_F(StatusTableTest, LongTextIsCutTo127Characters) {
  std::string text(200, 'a');
  UpdateFixedStatus(&ctx_, kNMEA_s, text.c_str());
  EXPECT_EQ(127u, strlen(statusValues.entries[kNMEA_s].value));
  // The comparison uses the cut text, so the same long text again is no change.
  EXPECT_EQ(0, UpdateFixedStatus(&ctx_, kNMEA_s, text.c_str()));
}

TEST_F(StatusTableTest, ExpireStatusByKindAndFixed) {
  UpdateVariableStatus_i(&ctx_, kWWanRxBytes_i, 10);  // kind 0, variable
  UpdateFixedStatus(&ctx_, kIMEI_s, "123");             // kind 1
  UpdateFixedStatus(&ctx_, kPdpIpAddr_s, "10.0.0.1");  // kind 0, fixed
  ExpireStatus(&ctx_, 0);
  EXPECT_EQ(-1, statusValues.entries[kWWanRxBytes_i].lastUpdate);
  EXPECT_STREQ("10", statusValues.entries[kWWanRxBytes_i].value);
  EXPECT_EQ(5000, statusValues.entries[kIMEI_s].lastUpdate);
  EXPECT_EQ(5000, statusValues.entries[kPdpIpAddr_s].lastUpdate);
  EXPECT_EQ(0, statusValues.entries[kScMode_s].lastUpdate);  // empty stays untouched
}

TEST_F(StatusTableTest, EchoLinesFollowCprint) {
  testing::internal::CaptureStdout();
  ctx_.printValues = 1;  // -c
  UpdateVariableStatusT(&ctx_, kCprint, "1", 0);
  UpdateFixedStatus(&ctx_, kSn_s, "SN1");
  UpdateVariableStatus_i(&ctx_, kUeRssi_i, -60);
  ctx_.printValues = 0;
  UpdateVariableStatusT(&ctx_, kCprint, "0", 0);
  UpdateVariableStatus_i(&ctx_, kUeRssi_i, -61);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      "Fixed Value:  Sn_s 'SN1'\n"
      "Variable Value:  UeRssi_i '-60'\n"
      "Variable Value:  Cprint '0'\n",
      out);
}

}  // namespace
