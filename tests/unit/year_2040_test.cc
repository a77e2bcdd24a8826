// Times past January 2038, where a 32-bit time_t ends: the build's time and file types, and a
// time in 2040 stored in the status table, rendered into the JSON snapshot, the CSV record and
// the Influx record, carried through the backlog and read back whole. The mipsel build runs these
// under qemu as well.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <cinttypes>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "config/daemon_config.h"
#include "daemon/record_stamp.h"
#include "location/location_update.h"
#include "report/csv_record.h"
#include "report/influx_backlog.h"
#include "report/influx_record.h"
#include "report/json_snapshot.h"
#include "report/report_state.h"
#include "status/status_table.h"
#include "tests/support/table_access.h"

namespace {

constexpr int64_t k2040 = 2208988800;  // 2040-01-01T00:00:00Z, past 2^31
int64_t table_now = k2040;
int64_t TableNow() { return table_now; }

// The number after `key` in `text`, read as 64 bits; -1 when the key is missing.
int64_t NumberAfter(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return static_cast<int64_t>(strtoll(text.c_str() + at + key.size(), nullptr, 10));
}

TEST(Year2040Test, BuildHasSixtyFourBitTimeFileOffsetsAndInodes) {
  // A 32-bit glibc build without _TIME_BITS=64 and _FILE_OFFSET_BITS=64 fails all three.
  EXPECT_EQ(sizeof(time_t), 8u);
  EXPECT_EQ(sizeof(off_t), 8u);
  EXPECT_EQ(sizeof(ino_t), 8u);
  // The C library converts both ways past 2038.
  const time_t t = static_cast<time_t>(k2040 + 3723);
  struct tm broken {};
  ASSERT_NE(gmtime_r(&t, &broken), nullptr);
  EXPECT_EQ(broken.tm_year + 1900, 2040);
  EXPECT_EQ(broken.tm_hour * 3600 + broken.tm_min * 60 + broken.tm_sec, 3723);
  EXPECT_EQ(static_cast<int64_t>(timegm(&broken)), k2040 + 3723);
}

class Year2040TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_now = k2040;
    snprintf(config_.schema, sizeof config_.schema, "lte");
  }

  std::string Json(int64_t now) {
    std::vector<char> buffer(kJsonBufferSize, '\0');
    GetJsonData(SnapshotOf(table_), buffer.data(), kJsonRenderSize, now);
    return buffer.data();
  }
  std::string Csv() {
    std::vector<char> buffer(kCsvBufferSize, '\0');
    GetCSVData(SnapshotOf(table_), &report_, buffer.data(), kCsvRenderSize, 1);
    return buffer.data();
  }
  std::string Influx(int64_t recordTime) {
    std::vector<char> buffer(16384, '\0');
    testing::internal::CaptureStdout();
    StampInfluxRecord(table_, config_, 42, recordTime);
    EXPECT_EQ(
        GetInfluxData(config_, SnapshotOf(table_), &report_, recordTime, buffer.data(), 16382), 1);
    testing::internal::GetCapturedStdout();
    return buffer.data();
  }

  DaemonConfig config_{};
  StatusTable table_{TableNow};
  ReportState report_{};
};

TEST_F(Year2040TableTest, StoredTimeIsRenderedWholeInJsonCsvAndInflux) {
  table_.Update(kUeRssi_i, "-71", 0);
  table_now = k2040 + 7;
  table_.Update(kUeRssi_i, "-72", 0);  // a change moves lastChange too
  EXPECT_EQ(EntryOf(table_, kUeRssi_i).lastUpdate, k2040 + 7);
  EXPECT_EQ(EntryOf(table_, kUeRssi_i).lastChange, k2040 + 7);

  // The first record after start-up (lastPostTime 0) carries every value written, also when the
  // times are past 2^31 seconds; its own time is the StatusTime_i integer field.
  const std::string influx = Influx(k2040 + 30);
  EXPECT_EQ(NumberAfter(influx, ",StatusTime="), k2040 + 30) << influx;
  EXPECT_NE(influx.find(",StatusTime=2208988830i"), std::string::npos) << influx;
  EXPECT_NE(influx.find(",UeRssi=-72i"), std::string::npos) << influx;
  EXPECT_EQ(report_.lastPostTime, k2040 + 30);

  const std::string json = Json(k2040 + 35);
  EXPECT_EQ(NumberAfter(json, "{\"time\": "), k2040 + 35) << json;
  const size_t rssi = json.find("{\"name\":\"UeRssi_i\"");
  ASSERT_NE(rssi, std::string::npos) << json;
  EXPECT_EQ(NumberAfter(json.substr(rssi), "\"lastUpdate\":\""), k2040 + 7);
  EXPECT_EQ(NumberAfter(json.substr(rssi), "\"lastChange\":\""), k2040 + 7);
  const size_t stamp = json.find("{\"name\":\"StatusTime_i\"");
  ASSERT_NE(stamp, std::string::npos) << json;
  EXPECT_EQ(NumberAfter(json.substr(stamp), "\"value\":\""), k2040 + 30);

  // The CSV carries StatusTime_i in its column.
  const std::string csv = Csv();
  const std::string header = csv.substr(0, csv.find('\n'));
  const std::string record = csv.substr(csv.find('\n') + 1);
  size_t column = 0;
  for (size_t at = 0; at < header.find("StatusTime_i"); ++at) column += header[at] == ',';
  size_t start = 0;
  for (size_t n = 0; n < column; ++n) start = record.find(',', start) + 1;
  EXPECT_EQ(NumberAfter(record.substr(start), ""), k2040 + 30) << record;
}

TEST_F(Year2040TableTest, ValueOlderThanALaterRecordIsLeftOutAcross2038) {
  table_now = k2040 - 100;
  table_.Update(kUeRssi_i, "-71", 0);
  EXPECT_NE(Influx(k2040 - 50).find(",UeRssi=-71i"), std::string::npos);
  // Not written again since that record: the next one leaves it out.
  EXPECT_EQ(Influx(k2040 + 10).find(",UeRssi="), std::string::npos);
}

TEST(Year2040BacklogTest, RecordsKeepTheirTimeThroughTheFileAndTheRequest) {
  InfluxBacklog backlog;
  ASSERT_TRUE(backlog.Reserve(4, 1000));
  ASSERT_EQ(backlog.Add("lte id=0i", 9, k2040 + 1, 0), 0);
  const std::string saved = "lte id=1i 2208988802\n";  // a line of the backlog file
  const BacklogLoad load = backlog.Load(saved.c_str(), saved.size(), k2040 + 100, 1000);
  ASSERT_EQ(load.taken, 1u);
  ASSERT_EQ(load.beyondBounds + load.malformed, 0u);
  ASSERT_EQ(backlog.Count(), 2u);
  EXPECT_EQ(backlog.At(1).built, k2040 + 2);

  char out[256];
  size_t records = 0;
  uint32_t last = 0;
  backlog.Format(out, sizeof out, 10, k2040 + 200, 2000, &records, &last);
  EXPECT_EQ(records, 2u);
  EXPECT_STREQ(out, "lte id=0i 2208988801\nlte id=1i 2208988802\n");
}

TEST(Year2040GpsTest, FixTimeOfASentenceIsPlacedOnTheDayOf2040) {
  EXPECT_EQ(NmeaFixTime("003000", k2040 + 3600), k2040 + 1800);
  EXPECT_EQ(NmeaFixTime("235959", k2040 + 10), k2040 - 1);  // just before midnight
}

}  // namespace
