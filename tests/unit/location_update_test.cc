#include "location/location_update.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "location/gps_listener.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"

namespace {

// 2026-12-07 14:00:00 UTC and the fix times of the sample sentence around it.
constexpr int64_t kAfternoon = 1796652000;
constexpr int64_t kFix123519 = 1796646919;  // 2026-12-07 12:35:19 UTC
constexpr int64_t kJustAfterMidnight = 1796688001;  // 2026-12-08 00:00:01 UTC
constexpr int64_t kJustBeforeMidnight = 1796687999;  // 2026-12-07 23:59:59 UTC

constexpr const char* kNorthEast =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
constexpr const char* kSouthWest =
    "$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,*47";

int64_t table_now = kAfternoon;
int64_t TableNow() { return table_now; }

// Runs with the local time zone nine hours east of UTC, so a fix time read as local time would be
// nine hours off.
class LocationUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_now = kAfternoon;
    const char* tz = getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) saved_tz_ = tz;
    setenv("TZ", "XST-9", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  StatusValue Entry(uint32_t index) const { return EntryOf(table_, index); }

  StatusTable table_{TableNow};
  RecordingBoard board_;
  bool had_tz_ = false;
  std::string saved_tz_;
};

TEST_F(LocationUpdateTest, NorthEastSentenceStoresPositionWithUtcFixTime) {
  LocationUpdateAt(table_, board_, kNorthEast, kAfternoon);
  EXPECT_STREQ(kNorthEast, Entry(kNMEA_s).value);
  EXPECT_STREQ("545.400024", Entry(kAlt_f).value);  // passes through single precision
  for (uint32_t index : {kNMEA_s, kLat_f, kLon_f, kAlt_f}) {
    EXPECT_EQ(kFix123519, Entry(index).lastUpdate) << Entry(index).name;
    EXPECT_EQ(kFix123519, Entry(index).lastChange) << Entry(index).name;
  }
  // The geohash is stamped with the current time.
  EXPECT_EQ(kAfternoon, Entry(kGeoHash_s).lastUpdate);
}

// Each sentence on a fresh table: the position, its geohash (cleared when the position has none)
// and the fix register command (cleared on the equator or when the position is unreadable).
TEST_F(LocationUpdateTest, PositionsGeohashesAndFixRegister) {
  struct Case {
    const char* sentence;
    const char* latitude;
    const char* longitude;
    const char* geohash;
    const char* command;
  } cases[] = {
      {kNorthEast, "48.117300", "11.516667", "u281wp6ptfc4", "fix on"},
      {kSouthWest, "-48.117300", "-11.516667", "5xry3btb6jnv", "fix on"},
      {"$GPGGA,123519,0000.000,N,01131.000,E,1,08,0.9,12.0,M,46.9,M,,*47", "0.000000",
       "11.516667", "krbpypfpvzcp", "fix off"},
      {"$GPGGA,123519,abc,N,def,E,1,08,0.9,1,M,46.9,M,,*47", "0.000000", "0.000000",
       "7zzzzzzzzzzz", "fix off"},
      {"$GPGGA,123519,9100.000,N,01131.000,E,1,08,0.9,1,M,46.9,M,,*47", "91.000000",
       "11.516667", "", "fix on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sentence);
    const size_t commands = board_.Calls().size();
    table_.Update(kGeoHash_s, "stale", 0);
    LocationUpdateAt(table_, board_, c.sentence, kAfternoon);
    EXPECT_STREQ(c.latitude, Entry(kLat_f).value);
    EXPECT_STREQ(c.longitude, Entry(kLon_f).value);
    EXPECT_STREQ(c.geohash, Entry(kGeoHash_s).value);
    ASSERT_EQ(commands + 1, board_.Calls().size());
    EXPECT_EQ(c.command, board_.Calls().back());
  }
}

// The sentence's hh:mm:ss is UTC (the fixture's zone is nine hours east) on the day nearest now.
TEST_F(LocationUpdateTest, FixTimeIsUtcOnTheNearestDay) {
  struct Case {
    const char* field;
    int64_t now;
    int64_t expected;
  } cases[] = {
      {"123519", kAfternoon, kFix123519},
      {"123519.00", kAfternoon, kFix123519},
      // Across midnight in both directions.
      {"235959", kJustAfterMidnight, kJustBeforeMidnight},
      {"000001", kJustBeforeMidnight, kJustAfterMidnight},
      // Exactly 12 hours away stays on the same day.
      {"020000", kAfternoon, kAfternoon - 12 * 3600},
      {"015959", kAfternoon, kAfternoon - 12 * 3600 - 1 + 86400},
      // Not a time: none.
      {"12351", kAfternoon, 0},
      {"", kAfternoon, 0},
      {"1235a9", kAfternoon, 0},
      {"243519", kAfternoon, 0},
      {"126019", kAfternoon, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, NmeaFixTime(c.field, c.now)) << "\"" << c.field << "\" at " << c.now;
  }
}

TEST(NmeaSplitTest, CountsFieldsAndStopsAtLineEnd) {
  struct Case {
    const char* text;
    int32_t count;
    const char* last_field;  // the field at count - 1
  } cases[] = {
      {"$GPGGA,1,2,3", 4, "3"},
      {"$GPGGA,1,2,3,", 5, ""},
      {"", 1, ""},
      {"a,b\r\nc,d,e,f", 2, "b"},
      {"a,b\nc,d,e,f", 2, "b"},
      // 15 fields ended by separators: the rest is ignored.
      {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", 15, ""},
      {"0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16", 15, "14"},
  };
  for (const Case& c : cases) {
    NmeaFields fields;
    EXPECT_EQ(c.count, SplitNmeaFields(c.text, &fields)) << c.text;
    EXPECT_STREQ(c.last_field, fields.field[c.count - 1]) << c.text;
  }
}

TEST(NmeaSplitTest, LongFieldIsCutTo63Characters) {
  const std::string long_field(100, '7');
  const std::string text = "$GPGGA," + long_field + ",x";
  NmeaFields fields;
  ASSERT_EQ(3, SplitNmeaFields(text.c_str(), &fields));
  EXPECT_EQ(long_field.substr(0, 63), fields.field[1]);
  EXPECT_STREQ("x", fields.field[2]);
}

}  // namespace
