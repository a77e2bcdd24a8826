// Records built from a filled status table, posted to a real InfluxDB 1.x and read back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "daemon/context.h"
#include "daemon/log.h"
#include "report/influx_post.h"
#include "report/influx_record.h"
#include "status/status_table.h"
#include "tests/support/influx_server.h"

namespace {

void Set(char (&field)[128], const std::string& text) {
  snprintf(field, sizeof field, "%s", text.c_str());
}

class InfluxRealServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new InfluxServer;
    start_error_ = server_->Start();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ("", start_error_);
    StatusInit();
    ResetInfluxRecord();
    ResetLogRepeat();
    ctx_.statusTable = &statusValues;
    ctx_.config = &config_;
    Set(config_.influxUrl, server_->BaseUrl());
    Set(config_.database, InfluxServer::kDatabase);
    Set(config_.userId, InfluxServer::kWriter);
    Set(config_.password, InfluxServer::kWriterPassword);
    Set(config_.account, "acc");
    Set(config_.instance, "i=1");
    snprintf(config_.serialNumber, sizeof config_.serialNumber, "SN 1,x");
  }

  // Builds a record from the table and posts it; output lands in out_ and err_.
  int BuildAndPost(const std::string& schema) {
    Set(config_.schema, schema);
    std::vector<char> buffer(16384, '\0');
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int32_t duration = -1;
    int result = GetInfluxData(&ctx_, buffer.data(), 16382);
    if (result == 1) result = statusPostData(&ctx_, buffer.data(), &duration, 16383);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    record_ = buffer.data();
    return result;
  }

  static InfluxServer* server_;
  static std::string start_error_;
  GatherConfig config_{};
  GatherContext ctx_{};
  std::string record_;
  std::string out_;
  std::string err_;
};

InfluxServer* InfluxRealServerTest::server_ = nullptr;
std::string InfluxRealServerTest::start_error_;

TEST_F(InfluxRealServerTest, RecordReadsBackWithTagsAndTypedFields) {
  UpdateFixedStatus(&ctx_, kSn_s, "ZR 100,1");
  UpdateFixedStatus(&ctx_, kIMEI_s, "867530900000001");
  UpdateFixedStatus(&ctx_, kModemSwVersion_s, "EM12 GPAR01A21");
  UpdateFixedStatus(&ctx_, kGID1_i, "7C");
  UpdateFixedStatus(&ctx_, kGID2_i, " 01");
  UpdateVariableStatus_i(&ctx_, kUeRssi_i, -71);
  UpdateVariableStatus_f(&ctx_, kLat_f, 47.5f, 0);
  UpdateVariableStatus_d(&ctx_, kScSinr_f, 12.4, 0);
  UpdateVariableStatusT(&ctx_, kHnName_s, "Some \"Net\"\\x", 0);
  UpdateVariableStatusT(&ctx_, kGPSError, "no fix", 0);
  UpdateVariableStatusT(&ctx_, kCpuLaodAvg, "0.10 0.20", 0);

  ASSERT_EQ(1, BuildAndPost("lte status")) << err_ << "\n" << record_;
  EXPECT_NE(std::string::npos, out_.find("Post to Influx database successful (took ")) << out_;

  HttpReply reply = server_->Query("SELECT * FROM \"lte status\"");
  ASSERT_EQ(200, reply.status) << reply.body;
  const struct {
    const char* column;
    std::string json;
  } expected[] = {
      // tags
      {"serial_number", "\"SN 1,x\""},
      {"hw_version", "\"1.0\""},
      {"linux_version", "\"2.3\""},
      {"status_version", "\"2.3\""},
      {"master_account", "\"acc\""},
      {"instance", "\"i=1\""},
      {"imei", "\"867530900000001\""},
      {"modem_swversion", "\"EM12 GPAR01A21\""},
      // fields
      {"id", "0"},
      {"UeRssi", "-71"},
      {"Lat", "47.5"},
      {"ScSinr", "12.4"},
      {"Sn", "\"ZR 100,1\""},
      {"HnName", "\"Some \\\"Net\\\"\\\\x\""},
      {"GPS Error", "\"no fix\""},
      {"CpuLaodAvg", "\"0.10 0.20\""},
      {"StatusTime", statusValues.entries[kStatusTime_i].value},
      {"UpTime", statusValues.entries[kUpTime_i].value},
      // left out: empty tag, typed values that are no numbers
      {"sub_account", ""},
      {"GID1", ""},
      {"GID2", ""},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(e.json, InfluxColumnValue(reply.body, e.column)) << e.column << "\n" << reply.body;
  }

  reply = server_->Query("SHOW FIELD KEYS FROM \"lte status\"");
  for (const char* typed : {"[\"UeRssi\",\"integer\"]", "[\"id\",\"integer\"]",
                            "[\"Lat\",\"float\"]", "[\"ScSinr\",\"float\"]",
                            "[\"Sn\",\"string\"]", "[\"UpTime\",\"integer\"]"}) {
    EXPECT_NE(std::string::npos, reply.body.find(typed)) << typed << "\n" << reply.body;
  }
}

int64_t fake_now = 0;
int64_t FakeNow() { return fake_now; }

TEST_F(InfluxRealServerTest, OnlyFreshValuesInTheNextRecord) {
  SetStatusClock(FakeNow);
  SetInfluxClock(FakeNow);
  fake_now = 990;
  UpdateVariableStatus_i(&ctx_, kUeRssi_i, -71);
  UpdateVariableStatus_i(&ctx_, kScRsrp_i, -95);
  fake_now = 1000;
  int first = BuildAndPost("fresh");
  // The next record, with only one of the two seen again since.
  fake_now = 1005;
  UpdateVariableStatus_i(&ctx_, kScRsrp_i, -96);
  fake_now = 1010;
  int second = BuildAndPost("fresh");
  SetStatusClock(nullptr);
  SetInfluxClock(nullptr);
  ASSERT_EQ(1, first);
  ASSERT_EQ(1, second) << err_;
  HttpReply reply =
      server_->Query("SELECT \"id\",\"UeRssi\",\"ScRsrp\" FROM fresh ORDER BY time DESC LIMIT 1");
  EXPECT_EQ("1", InfluxColumnValue(reply.body, "id")) << reply.body;
  EXPECT_EQ("-96", InfluxColumnValue(reply.body, "ScRsrp")) << reply.body;
  EXPECT_EQ("null", InfluxColumnValue(reply.body, "UeRssi")) << reply.body;
}

TEST_F(InfluxRealServerTest, WrongPasswordFailsAndIsNeverPrinted) {
  const std::string password = "Wr0ng&Secret#9";
  Set(config_.password, password);
  ctx_.debug = 1;
  UpdateVariableStatus_i(&ctx_, kUeRssi_i, -71);
  EXPECT_EQ(0, BuildAndPost("denied"));
  EXPECT_NE(std::string::npos, err_.find("Status Post to Influx got HTTP Response Code: 401\n"))
      << err_;
  const std::string shown = server_->BaseUrl() + "/write?db=routerdb&u=writer&p=********";
  EXPECT_NE(std::string::npos, err_.find("Influx error: " + shown + "\n")) << err_;
  EXPECT_NE(std::string::npos, out_.find("URL: " + shown + "\n")) << out_;
  for (const std::string& secret : {password, std::string("Secret"), std::string("Wr0ng")}) {
    EXPECT_EQ(std::string::npos, (out_ + err_).find(secret)) << secret;
  }
  HttpReply reply = server_->Query("SELECT * FROM denied");
  EXPECT_EQ(std::string::npos, reply.body.find("\"values\"")) << reply.body;
}

}  // namespace
