#include "report/influx_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "daemon/context.h"
#include "status/status_table.h"

namespace {

int64_t fake_now = 1000;
int64_t FakeNow() { return fake_now; }

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  size_t start = text.find(from);
  if (start == std::string::npos) return "";
  size_t stop = text.find(to, start + from.size());
  return text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
}

class InfluxRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StatusInit();
    ResetInfluxRecord();
    fake_now = 1000;
    SetStatusClock(FakeNow);
    SetInfluxClock(FakeNow);
    ctx_.statusTable = &statusValues;
    ctx_.config = &config_;
    snprintf(config_.schema, sizeof config_.schema, "lte");
    snprintf(config_.serialNumber, sizeof config_.serialNumber, "SN1");
    snprintf(config_.account, sizeof config_.account, "acc");
    snprintf(config_.subAccount, sizeof config_.subAccount, "sub");
    snprintf(config_.instance, sizeof config_.instance, "i1");
  }
  void TearDown() override {
    SetStatusClock(nullptr);
    SetInfluxClock(nullptr);
  }

  // Builds one record at `now`; stdout and stderr of the build land in out_ and err_.
  std::string Build(int64_t now, size_t size = 16382) {
    fake_now = now;
    std::vector<char> buffer(16384, '\0');
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    result_ = GetInfluxData(&ctx_, buffer.data(), size);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return buffer.data();
  }
  // The fields after "id=Ni", without the counters, which move with every record.
  std::string Fields(const std::string& record) {
    std::string fields = record.substr(record.find(' ') + 1);
    fields = fields.substr(fields.find(','));
    for (const char* counter : {",UpTime=", ",StatusTime="}) {
      size_t at = fields.find(counter);
      if (at != std::string::npos) fields.erase(at, fields.find_first_of(",\n", at + 1) - at);
    }
    return fields;
  }
  void Fixed(uint32_t index, const char* text) { UpdateFixedStatus(&ctx_, index, text); }
  void Variable(uint32_t index, const char* text, int64_t at) {
    fake_now = at;
    UpdateVariableStatusT(&ctx_, index, text, 0);
  }

  GatherConfig config_{};
  GatherContext ctx_{};
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
      std::string(statusValues.entries[kUpTime_i].value) +
      "i,StatusTime=1000i,ModemSwVersion=\"EM12GPAR01A21M4G\",IMEI=\"867530900000001\"\n";
  EXPECT_EQ(expected, record);
  EXPECT_EQ(1000, ctx_.lastPostTime);
  EXPECT_EQ(1000, statusValues.entries[kStatusTime_i].lastUpdate);
}

TEST_F(InfluxRecordTest, CounterFieldsMoveWithEveryRecord) {
  for (int n = 0; n < 3; ++n) {
    std::string record = Build(2000 + n);
    EXPECT_NE(std::string::npos, record.find(" id=" + std::to_string(n) + "i,")) << record;
    EXPECT_NE(std::string::npos, record.find(",StatusTime=" + std::to_string(2000 + n) + "i"));
    EXPECT_NE(std::string::npos, record.find(",UpTime=")) << record;
    EXPECT_EQ(2000 + n, ctx_.lastPostTime);
  }
}

TEST_F(InfluxRecordTest, FreshnessAcrossRecords) {
  Fixed(kIMSI_s, "001010123456789");
  Variable(kUeRssi_i, "-71", 990);
  Variable(kLat_f, "47.500000", 990);
  Variable(kScRsrp_i, "-95", 990);
  EXPECT_EQ(",IMSI=\"001010123456789\",Lat=47.500000,ScRsrp=-95i,UeRssi=-71i\n",
            Fields(Build(1000)));

  // Only Lat is seen again; the fixed entry is always in.
  Variable(kLat_f, "47.500000", 1005);
  EXPECT_EQ(",IMSI=\"001010123456789\",Lat=47.500000\n", Fields(Build(1010)));
  EXPECT_NE(std::string::npos,
            out_.find("Value for UeRssi_i too old (10 seconds older than last report)\n"));
  EXPECT_NE(std::string::npos, out_.find("Value for ScRsrp_i too old"));

  // Written in the second of the last record: still fresh. Expired: never.
  Variable(kUeRssi_i, "-70", 1012);
  ExpireStatus(&ctx_, 0);
  Variable(kScRsrp_i, "-96", 1010);
  EXPECT_EQ(",IMSI=\"001010123456789\",ScRsrp=-96i\n", Fields(Build(1010)));
  EXPECT_NE(std::string::npos, out_.find("Value for UeRssi_i too old"));

  // Two records in the same second: what was written in it is in both.
  EXPECT_EQ(",IMSI=\"001010123456789\",ScRsrp=-96i\n", Fields(Build(1010)));
}

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
      {kSn_s, "ZR1", ",Sn=\"ZR1\""},
      {kCpuLaodAvg, "0.5 0.4", ",CpuLaodAvg=\"0.5 0.4\""},
      {kGPSError, "no fix", ",GPS\\ Error=\"no fix\""},
      {kExternalIpAddr, "1.2.3.4", ",ExternalIpAddr=\"1.2.3.4\""},
      {kNMEA_s, "say \"hi\" C:\\", ",NMEA=\"say \\\"hi\\\" C:\\\\\""},
      {kHnName_s, "two\r\nlines", ",HnName=\"twolines\""},
  };
  for (const Case& c : cases) {
    StatusInit();
    Variable(c.index, c.value, 1000);
    EXPECT_EQ(std::string(c.field) + "\n", Fields(Build(1000))) << c.value;
  }
}

TEST_F(InfluxRecordTest, TypedValueThatIsNoNumberIsLeftOutWithOneNotice) {
  const char* const bad_integers[] = {"7C", " 01", "", "-", "1.5", "99999999999999999999", "12a"};
  const char* const bad_decimals[] = {"abc", "NaN", "inf", "1e999", "1.2.3", ".", "1e", "+1"};
  for (const char* bad : bad_integers) {
    StatusInit();
    ResetInfluxRecord();
    Fixed(kGID1_i, bad);
    Fixed(kSn_s, "S");
    EXPECT_EQ(",Sn=\"S\"\n", Fields(Build(1000))) << "'" << bad << "'";
    if (bad[0] != 0) {
      EXPECT_NE(std::string::npos, err_.find("GID1_i")) << bad;
    }
  }
  for (const char* bad : bad_decimals) {
    StatusInit();
    Variable(kLat_f, bad, 1000);
    Fixed(kSn_s, "S");
    EXPECT_EQ(",Sn=\"S\"\n", Fields(Build(1000))) << bad;
  }
  for (const char* good : {"-0", "12", ".5", "5.", "-1.25E-3"}) {
    StatusInit();
    Variable(kLat_f, good, 1000);
    EXPECT_EQ(",Lat=" + std::string(good) + "\n", Fields(Build(1000)));
  }
  // The notice comes once per entry, not every period.
  StatusInit();
  ResetInfluxRecord();
  Fixed(kGID1_i, "7C");
  Fixed(kGID2_i, " 01");
  Build(1000);
  EXPECT_NE(std::string::npos, err_.find("GID1_i")) << err_;
  EXPECT_NE(std::string::npos, err_.find("GID2_i")) << err_;
  Build(1010);
  EXPECT_EQ("", err_);
}

TEST_F(InfluxRecordTest, TagsAndMeasurementAreEscapedAndEmptyTagsLeftOut) {
  snprintf(config_.schema, sizeof config_.schema, "lte status,x");
  snprintf(config_.serialNumber, sizeof config_.serialNumber, "SN 1,a=b");
  config_.account[0] = '\0';
  snprintf(config_.instance, sizeof config_.instance, "\r\n");
  // A trailing backslash would escape the separator after the value: it is dropped.
  Fixed(kIMEI_s, "86 75\\");
  Fixed(kModemSwVersion_s, "EM\\12\\\\");
  std::string record = Build(1000);
  EXPECT_EQ(
      "lte\\ status\\,x,serial_number=SN\\ 1\\,a\\=b,hw_version=1.0,linux_version=2.3,"
      "status_version=2.3,sub_account=sub,imei=86\\ 75,modem_swversion=EM\\12 id=0i,",
      record.substr(0, record.find(" id=0i,") + 7));
}

TEST_F(InfluxRecordTest, TagTextIsCutAt128Characters) {
  // The constant part takes 106 characters: 22 of values fit exactly.
  snprintf(config_.serialNumber, sizeof config_.serialNumber, "SERIAL0123");  // 10
  snprintf(config_.account, sizeof config_.account, "ACCOUNT");              // 7
  snprintf(config_.subAccount, sizeof config_.subAccount, "SUB");            // 3
  snprintf(config_.instance, sizeof config_.instance, "IN");                 // 2
  std::string record = Build(1000);
  std::string tags = record.substr(3, record.find(' ') - 3);
  EXPECT_EQ(128u, tags.size());
  EXPECT_EQ(",instance=IN", tags.substr(tags.size() - 12));

  // One more: the instance value loses its last character.
  snprintf(config_.instance, sizeof config_.instance, "INX");
  record = Build(1001);
  tags = record.substr(3, record.find(' ') - 3);
  EXPECT_EQ(128u, tags.size());
  EXPECT_EQ(",instance=IN", tags.substr(tags.size() - 12));

  // No room for any of the instance value: the tag goes whole, never "instance=" alone.
  snprintf(config_.subAccount, sizeof config_.subAccount, "SUBBB");
  record = Build(1002);
  tags = record.substr(3, record.find(' ') - 3);
  EXPECT_EQ(std::string::npos, tags.find("instance"));
  EXPECT_EQ(",sub_account=SUBBB", tags.substr(tags.size() - 18));

  // An escape pair is never split by the cut.
  snprintf(config_.subAccount, sizeof config_.subAccount, "SUB");
  snprintf(config_.instance, sizeof config_.instance, "I N");
  record = Build(1003);
  tags = record.substr(3, record.find(" id=") - 3);
  EXPECT_EQ(127u, tags.size());
  EXPECT_EQ(",instance=I", tags.substr(tags.size() - 11)) << tags;
}

TEST_F(InfluxRecordTest, LongStringFieldIsCutAndKeepsItsClosingQuote) {
  std::string value(127, 'x');
  Variable(kNMEA_s, value.c_str(), 1000);
  std::string field = Between(Build(1000), ",NMEA=", "\n");
  EXPECT_EQ(128u, field.size());
  EXPECT_EQ(",NMEA=\"" + std::string(120, 'x') + "\"", field);

  // An escaped quote at the cut goes whole, so the closing quote is not escaped.
  value = std::string(119, 'x') + "\"yyy";
  Variable(kNMEA_s, value.c_str(), 1001);
  field = Between(Build(1001), ",NMEA=", "\n");
  EXPECT_EQ(",NMEA=\"" + std::string(119, 'x') + "\"", field);

  // Exactly 128 characters with the quote: nothing is cut.
  value = std::string(120, 'z');
  Variable(kNMEA_s, value.c_str(), 1002);
  EXPECT_EQ(",NMEA=\"" + value + "\"", Between(Build(1002), ",NMEA=", "\n"));
}

TEST_F(InfluxRecordTest, RefusalsAndSmallBuffers) {
  config_.schema[0] = '\0';
  Build(1000);
  EXPECT_EQ(0, result_);
  EXPECT_EQ("No Influx schema configured for Influx post\n", err_);

  snprintf(config_.schema, sizeof config_.schema, "lte");
  Build(1000, 4);  // "lte" needs pos + 3 < start + 3
  EXPECT_EQ(0, result_);
  EXPECT_EQ("GetInfluxData pointer overrun 1 (4)\n", err_);

  Build(1000, 50);
  EXPECT_EQ(0, result_);
  EXPECT_EQ("GetInfluxData pointer overrun 2\n", err_);

  // Room for measurement and tags only: fields, id and line feed are skipped, the record stands.
  ResetInfluxRecord();
  Fixed(kSn_s, "S");
  std::string record = Build(1000, 3 + 117 + 2);
  EXPECT_EQ(1, result_);
  EXPECT_EQ(
      "lte,serial_number=SN1,hw_version=1.0,linux_version=2.3,status_version=2.3,"
      "master_account=acc,sub_account=sub,instance=i1",
      record);
  EXPECT_EQ(1000, ctx_.lastPostTime);
}

}  // namespace
