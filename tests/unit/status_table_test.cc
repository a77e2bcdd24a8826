#include "status/status_table.h"

#include <gtest/gtest.h>

#include "tests/support/table_access.h"

namespace {

int64_t fake_now = 5000;
int64_t FakeNow() { return fake_now; }

class StatusTableTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_now = 5000; }
  StatusTable table_{FakeNow};
};

TEST_F(StatusTableTest, SameTextRefreshesUpdateButNotChange) {
  EXPECT_EQ(1, table_.Update(kScMode_s, "LTE", 0));
  fake_now = 6000;
  EXPECT_EQ(0, table_.Update(kScMode_s, "LTE", 0));
  EXPECT_EQ(6000, EntryOf(table_, kScMode_s).lastUpdate);
  EXPECT_EQ(5000, EntryOf(table_, kScMode_s).lastChange);
  EXPECT_EQ(6000, SnapshotOf(table_).lastUpdate);
  EXPECT_EQ(5000, SnapshotOf(table_).lastChange);
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
    table_.Update(write.index, write.text, 0);
    if (write.index < kStatusCount) {
      ++expected;
      EXPECT_EQ(expected, EntryOf(table_, write.index).writeSeq) << write.text;
    }
    EXPECT_EQ(expected, SnapshotOf(table_).writeCount) << write.text;
  }
  table_.Expire(StatusKind::kLink);
  EXPECT_EQ(expected, SnapshotOf(table_).writeCount);
  EXPECT_EQ(5u, EntryOf(table_, kScMode_s).writeSeq);
}

TEST_F(StatusTableTest, CallerTimestampStampsEntryButTableUsesNow) {
  EXPECT_EQ(1, table_.Update(kLat_f, "1.0", 1000));
  EXPECT_EQ(1000, EntryOf(table_, kLat_f).lastUpdate);
  EXPECT_EQ(1000, EntryOf(table_, kLat_f).lastChange);
  EXPECT_EQ(5000, SnapshotOf(table_).lastUpdate);
  EXPECT_EQ(5000, SnapshotOf(table_).lastChange);
}

TEST_F(StatusTableTest, CountersNeverCountAsChanges) {
  for (uint32_t index : {kUpTime_i, kStatusTime_i, kPostDuration_i}) {
    EXPECT_EQ(0, table_.UpdateInt(index, 42));
    EXPECT_STREQ("42", EntryOf(table_, index).value);
    EXPECT_EQ(5000, EntryOf(table_, index).lastUpdate);
    EXPECT_EQ(0, EntryOf(table_, index).lastChange);
  }
  EXPECT_EQ(0, SnapshotOf(table_).lastUpdate);
  EXPECT_EQ(0, SnapshotOf(table_).lastChange);
}

TEST_F(StatusTableTest, IndexOutOfRangeTouchesNothing) {
  EXPECT_EQ(0, table_.Update(98, "x", 0));
  EXPECT_EQ(0, SnapshotOf(table_).lastUpdate);
}

TEST_F(StatusTableTest, NumberFormats) {
  table_.UpdateFloat(kAlt_f, 1.5f, 0);
  EXPECT_STREQ("1.500000", EntryOf(table_, kAlt_f).value);
  table_.UpdateInt(kUeRssi_i, -7);
  EXPECT_STREQ("-7", EntryOf(table_, kUeRssi_i).value);
  table_.UpdateLong(kAtRxBytes_i, 123456789L);
  EXPECT_STREQ("123456789", EntryOf(table_, kAtRxBytes_i).value);
  table_.UpdateDouble(kLon_f, -0.25, 0);
  EXPECT_STREQ("-0.250000", EntryOf(table_, kLon_f).value);
}

TEST_F(StatusTableTest, LongTextIsCutTo127Characters) {
  std::string text(200, 'a');
  table_.UpdateFixed(kNMEA_s, text.c_str());
  EXPECT_EQ(127u, strlen(EntryOf(table_, kNMEA_s).value));
  // The comparison uses the cut text, so the same long text again is no change.
  EXPECT_EQ(0, table_.UpdateFixed(kNMEA_s, text.c_str()));
}

TEST_F(StatusTableTest, ExpireStatusByKindAndFixed) {
  table_.UpdateInt(kWWanRxBytes_i, 10);          // kind 0, variable
  table_.UpdateFixed(kIMEI_s, "123");            // kind 1
  table_.UpdateFixed(kPdpIpAddr_s, "10.0.0.1");  // kind 0, fixed
  table_.Expire(StatusKind::kLink);
  EXPECT_EQ(-1, EntryOf(table_, kWWanRxBytes_i).lastUpdate);
  EXPECT_STREQ("10", EntryOf(table_, kWWanRxBytes_i).value);
  EXPECT_EQ(5000, EntryOf(table_, kIMEI_s).lastUpdate);
  EXPECT_EQ(5000, EntryOf(table_, kPdpIpAddr_s).lastUpdate);
  EXPECT_EQ(0, EntryOf(table_, kScMode_s).lastUpdate);  // empty stays untouched
}

TEST_F(StatusTableTest, EchoLinesFollowCprint) {
  testing::internal::CaptureStdout();
  table_.SetEcho(true);  // -c
  table_.Update(kCprint, "1", 0);
  table_.UpdateFixed(kSn_s, "SN1");
  table_.UpdateInt(kUeRssi_i, -60);
  table_.SetEcho(false);
  table_.Update(kCprint, "0", 0);
  table_.UpdateInt(kUeRssi_i, -61);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      "Fixed Value:  Sn_s 'SN1'\n"
      "Variable Value:  UeRssi_i '-60'\n"
      "Variable Value:  Cprint '0'\n",
      out);
}

}  // namespace
