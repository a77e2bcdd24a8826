#include "report/influx_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/clock.h"
#include "config/daemon_config.h"
#include "daemon/record_stamp.h"
#include "report/report_state.h"
#include "status/status_table.h"
#include "tests/support/table_access.h"

namespace {

int64_t fake_now = 1000;
int64_t FakeNow() { return fake_now; }

template <size_t N>
void Set(char (&field)[N], const char* text) {
  snprintf(field, N, "%s", text);
}

class InfluxRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_now = 1000;
    Set(config_.schema, "lte");
    Set(config_.serialNumber, "SN1");
    Set(config_.account, "acc");
    Set(config_.subAccount, "sub");
    Set(config_.instance, "i1");
  }

  // Stamps and builds one record at `now`, as the main loop does; stdout and stderr of the build
  // land in out_ and err_.
  std::string Build(int64_t now, size_t size = 16382) {
    fake_now = now;
    std::vector<char> buffer(16384, '\0');
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    StampInfluxRecord(table_, config_, GetUptime(), now);
    result_ = GetInfluxData(config_, SnapshotOf(table_), &report_, now, buffer.data(), size);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return buffer.data();
  }
  // The fields after "id=Ni", without the counters, which move with every record.
  static std::string Fields(const std::string& record) {
    std::string fields = record.substr(record.find(' ') + 1);
    fields = fields.substr(fields.find(','));
    for (const char* counter : {",UpTime=", ",StatusTime="}) {
      size_t at = fields.find(counter);
      if (at != std::string::npos) fields.erase(at, fields.find_first_of(",\n", at + 1) - at);
    }
    return fields;
  }
  // The tag set: what lies between the measurement "lte" and the first blank.
  static std::string Tags(const std::string& record) { return record.substr(3, record.find(" id=") - 3); }
  void Fixed(uint32_t index, const char* text) { table_.UpdateFixed(index, text); }
  void Variable(uint32_t index, const char* text, int64_t at) {
    fake_now = at;
    table_.Update(index, text, 0);
  }

  DaemonConfig config_{};
  StatusTable table_{FakeNow};
  ReportState report_{};
  int result_ = -1;
  std::string out_;
  std::string err_;
};

TEST_F(InfluxRecordTest, FirstRecordCarriesTagsIdFixedEntriesAndCounters) {
  Fixed(kSn_s, "SN1");
  Fixed(kIMEI_s, "867530900000001");
  Fixed(kModemSwVersion_s, "EM12GPAR01A21M4G");
  std::string record = Build(1000);
  ASSERT_EQ(1, result_);
  std::string expected =
      "lte,serial_number=SN1,hw_version=1.0,linux_version=2.3,status_version=2.3,"
      "master_account=acc,sub_account=sub,instance=i1,imei=867530900000001,"
      "modem_swversion=EM12GPAR01A21M4G id=0i,Sn=\"SN1\",UpTime=" +
      std::string(EntryOf(table_, kUpTime_i).value) +
      "i,StatusTime=1000i,ModemSwVersion=\"EM12GPAR01A21M4G\",IMEI=\"867530900000001\"\n";
  EXPECT_EQ(expected, record);
  EXPECT_EQ(1000, report_.lastPostTime);
  EXPECT_EQ(1000, EntryOf(table_, kStatusTime_i).lastUpdate);
}

TEST_F(InfluxRecordTest, FreshnessAndCountersAcrossRecords) {
  Fixed(kIMSI_s, "001010123456789");
  Variable(kUeRssi_i, "-71", 990);
  Variable(kLat_f, "47.500000", 990);
  Variable(kScRsrp_i, "-95", 990);
  EXPECT_EQ(",IMSI=\"001010123456789\",Lat=47.500000,ScRsrp=-95i,UeRssi=-71i\n",
            Fields(Build(1000)));

  // Only Lat is seen again; the fixed entry is always in; id and StatusTime move on.
  Variable(kLat_f, "47.500000", 1005);
  std::string record = Build(1010);
  EXPECT_EQ(",IMSI=\"001010123456789\",Lat=47.500000\n", Fields(record));
  EXPECT_NE(std::string::npos, record.find(" id=1i,")) << record;
  EXPECT_NE(std::string::npos, record.find(",StatusTime=1010i")) << record;
  EXPECT_EQ(1010, report_.lastPostTime);
  EXPECT_NE(std::string::npos,
            out_.find("Value for UeRssi_i too old (10 seconds older than last report)\n"));
  EXPECT_NE(std::string::npos, out_.find("Value for ScRsrp_i too old"));

  // Written in the second of the last record: still fresh. Expired: never.
  Variable(kUeRssi_i, "-70", 1012);
  table_.Expire(StatusKind::kLink);
  Variable(kScRsrp_i, "-96", 1010);
  EXPECT_EQ(",IMSI=\"001010123456789\",ScRsrp=-96i\n", Fields(Build(1010)));
  EXPECT_NE(std::string::npos, out_.find("Value for UeRssi_i too old"));

  // Two records in the same second: the second carries only what was written after the first.
  EXPECT_EQ(",IMSI=\"001010123456789\"\n", Fields(Build(1010)));
  Variable(kScRsrp_i, "-96", 1010);
  EXPECT_EQ(",IMSI=\"001010123456789\",ScRsrp=-96i\n", Fields(Build(1010)));
}

// NTP steps the wall clock back a day, then forward two: each record carries exactly what was
// written since the one before, and the counters are always in.
TEST_F(InfluxRecordTest, WallClockStepsChangeNoRecordsContent) {
  constexpr int64_t kDay = 86400;
  constexpr int64_t kT0 = 1750000000;
  Fixed(kIMSI_s, "001010123456789");
  Variable(kUeRssi_i, "-71", kT0 - 5);
  Variable(kLat_f, "47.500000", kT0 - 5);
  EXPECT_EQ(",IMSI=\"001010123456789\",Lat=47.500000,UeRssi=-71i\n", Fields(Build(kT0)));

  struct Step {
    int64_t written_at;  // the wall time after the step
    bool write_rssi;     // UeRssi is written again before the record; Lat never is
    const char* fields;
  } steps[] = {
      {kT0 - kDay + 10, true, ",IMSI=\"001010123456789\",UeRssi=-72i\n"},   // a day back
      {kT0 - kDay + 70, false, ",IMSI=\"001010123456789\"\n"},              // nothing new
      {kT0 + kDay + 10, true, ",IMSI=\"001010123456789\",UeRssi=-72i\n"},   // two days on
      {kT0 + kDay + 70, false, ",IMSI=\"001010123456789\"\n"},
  };
  for (const Step& step : steps) {
    if (step.write_rssi) Variable(kUeRssi_i, "-72", step.written_at);
    std::string record = Build(step.written_at + 1);
    EXPECT_EQ(step.fields, Fields(record)) << step.written_at;
    EXPECT_NE(std::string::npos, record.find(",UpTime=")) << record;
    EXPECT_NE(std::string::npos,
              record.find(",StatusTime=" + std::to_string(step.written_at + 1) + "i"))
        << record;
    EXPECT_EQ(step.written_at + 1, report_.lastPostTime);
  }
  // The wall times published stay those the clock gave.
  EXPECT_EQ(kT0 + kDay + 10, EntryOf(table_, kUeRssi_i).lastUpdate);
}

// One row per value: the field it gives, or "" when a typed value that is no number is left out.
TEST_F(InfluxRecordTest, FieldTypeFollowsNameSuffix) {
  struct Case {
    uint32_t index;
    const char* value;
    const char* field;
  } cases[] = {
      {kUeRssi_i, "-71", ",UeRssi=-71i"},
      {kLat_f, "47.500000", ",Lat=47.500000"},
      {kQmi_ScRssi_f, "-60.5", ",Qmi_ScRssi=-60.5"},
      {kQmiTxPwr_f, "1.5e3", ",QmiTxPwr=1.5e3"},
      {kIMSI_s, "ZR1", ",IMSI=\"ZR1\""},
      {kCpuLaodAvg, "0.5 0.4", ",CpuLaodAvg=\"0.5 0.4\""},
      {kGPSError, "no fix", ",GPS\\ Error=\"no fix\""},
      {kExternalIpAddr, "1.2.3.4", ",ExternalIpAddr=\"1.2.3.4\""},
      {kNMEA_s, "say \"hi\" C:\\", ",NMEA=\"say \\\"hi\\\" C:\\\\\""},
      {kHnName_s, "two\r\nlines", ",HnName=\"twolines\""},
      {kLat_f, "-0", ",Lat=-0"}, {kLat_f, ".5", ",Lat=.5"}, {kLat_f, "5.", ",Lat=5."},
      {kLat_f, "-1.25E-3", ",Lat=-1.25E-3"},
      {kGID1_i, "7C", ""}, {kGID1_i, " 01", ""}, {kGID1_i, "", ""}, {kGID1_i, "-", ""},
      {kGID1_i, "1.5", ""}, {kGID1_i, "99999999999999999999", ""}, {kGID1_i, "12a", ""},
      {kLat_f, "abc", ""}, {kLat_f, "NaN", ""}, {kLat_f, "inf", ""}, {kLat_f, "1e999", ""},
      {kLat_f, "1.2.3", ""}, {kLat_f, ".", ""}, {kLat_f, "1e", ""}, {kLat_f, "+1", ""},
  };
  for (const Case& c : cases) {
    report_ = ReportState{};
    EmptyTable(table_);
    Variable(c.index, c.value, 1000);
    Fixed(kSn_s, "S");
    EXPECT_EQ(",Sn=\"S\"" + std::string(c.field) + "\n", Fields(Build(1000))) << "'" << c.value << "'";
    if (c.field[0] == '\0' && c.value[0] != '\0') {
      EXPECT_NE(std::string::npos, err_.find(EntryOf(table_, c.index).name)) << c.value;
    }
  }
}

TEST_F(InfluxRecordTest, NoNumberNoticeComesOncePerEntry) {
  Fixed(kGID1_i, "7C");
  Fixed(kGID2_i, " 01");
  Build(1000);
  EXPECT_NE(std::string::npos, err_.find("GID1_i")) << err_;
  EXPECT_NE(std::string::npos, err_.find("GID2_i")) << err_;
  Build(1010);
  EXPECT_EQ("", err_);
}

TEST_F(InfluxRecordTest, TagsAndMeasurementAreEscapedAndEmptyTagsLeftOut) {
  Set(config_.schema, "lte status,x");
  Set(config_.serialNumber, "SN 1,a=b");
  config_.account[0] = '\0';
  Set(config_.instance, "\r\n");
  // A trailing backslash would escape the separator after the value: it is dropped.
  Fixed(kIMEI_s, "86 75\\");
  Fixed(kModemSwVersion_s, "EM\\12\\\\");
  std::string record = Build(1000);
  EXPECT_EQ(
      "lte\\ status\\,x,serial_number=SN\\ 1\\,a\\=b,hw_version=1.0,linux_version=2.3,"
      "status_version=2.3,sub_account=sub,imei=86\\ 75,modem_swversion=EM\\12 id=0i,",
      record.substr(0, record.find(" id=0i,") + 7));
}

// The constant part of the tags takes 106 characters, with serial "SERIAL0123" and account
// "ACCOUNT" 17 more: 5 are left for the sub-account and instance values.
TEST_F(InfluxRecordTest, TagTextIsCutAt128Characters) {
  struct Case {
    const char* sub;
    const char* instance;
    size_t size;
    const char* tail;
  } cases[] = {
      {"SUB", "IN", 128, ",sub_account=SUB,instance=IN"},    // fits exactly
      {"SUB", "INX", 128, ",sub_account=SUB,instance=IN"},   // the value loses its last character
      {"SUBBB", "IN", 118, ",sub_account=SUBBB"},            // no room: never "instance=" alone
      {"SUB", "I N", 127, ",sub_account=SUB,instance=I"},    // an escape pair is never split
  };
  Set(config_.serialNumber, "SERIAL0123");
  Set(config_.account, "ACCOUNT");
  for (const Case& c : cases) {
    Set(config_.subAccount, c.sub);
    Set(config_.instance, c.instance);
    std::string tags = Tags(Build(1000));
    EXPECT_EQ(c.size, tags.size()) << tags;
    EXPECT_EQ(c.tail, tags.substr(tags.rfind(",sub_account="))) << tags;
  }
}

TEST_F(InfluxRecordTest, LongStringFieldIsCutAndKeepsItsClosingQuote) {
  struct Case {
    std::string value;
    std::string field;
  } cases[] = {
      {std::string(127, 'x'), std::string(120, 'x')},
      // An escaped quote at the cut goes whole, so the closing quote is not escaped.
      {std::string(119, 'x') + "\"yyy", std::string(119, 'x')},
      // Exactly 128 characters with the quote: nothing is cut.
      {std::string(120, 'z'), std::string(120, 'z')},
  };
  for (const Case& c : cases) {
    Variable(kNMEA_s, c.value.c_str(), 1000);
    EXPECT_EQ(",NMEA=\"" + c.field + "\"\n", Fields(Build(1000)));
  }
}

TEST_F(InfluxRecordTest, RefusalsAndSmallBuffers) {
  config_.schema[0] = '\0';
  Build(1000);
  EXPECT_EQ(0, result_);
  EXPECT_EQ("No Influx schema configured for Influx post\n", err_);

  Set(config_.schema, "lte");
  Build(1000, 4);  // "lte" needs pos + 3 < start + 3
  EXPECT_EQ(0, result_);
  EXPECT_EQ("GetInfluxData pointer overrun 1 (4)\n", err_);

  Build(1000, 50);
  EXPECT_EQ(0, result_);
  EXPECT_EQ("GetInfluxData pointer overrun 2\n", err_);

  // Room for measurement and tags only: fields, id and line feed are skipped, the record stands.
  report_ = ReportState{};
  Fixed(kSn_s, "S");
  std::string record = Build(1000, 3 + 117 + 2);
  EXPECT_EQ(1, result_);
  EXPECT_EQ(
      "lte,serial_number=SN1,hw_version=1.0,linux_version=2.3,status_version=2.3,"
      "master_account=acc,sub_account=sub,instance=i1",
      record);
  EXPECT_EQ(1000, report_.lastPostTime);
}

}  // namespace
