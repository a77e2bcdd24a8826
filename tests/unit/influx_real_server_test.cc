// A record built from a filled status table, posted to a real InfluxDB 1.x and read back:
// the server accepts the escaping and the typing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "config/context.h"
#include "base/log.h"
#include "report/influx_post.h"
#include "report/influx_poster.h"
#include "base/paths.h"
#include "tests/support/test_files.h"
#include "report/influx_record.h"
#include "report/report_state.h"
#include "status/status_table.h"
#include "tests/support/influx_server.h"

namespace {

void Set(char (&field)[128], const std::string& text) {
  snprintf(field, sizeof field, "%s", text.c_str());
}

// The context of a daemon that writes to `server`'s database as its writer.
void WriteTo(const InfluxServer& server, GatherConfig* config, GatherContext* ctx) {
  ctx->statusTable = &statusValues;
  ctx->config = config;
  Set(config->influxUrl, server.BaseUrl());
  Set(config->database, InfluxServer::kDatabase);
  Set(config->userId, InfluxServer::kWriter);
  Set(config->password, InfluxServer::kWriterPassword);
}

TEST(InfluxRealServerTest, RecordReadsBackWithTagsAndTypedFields) {
  InfluxServer server;
  ASSERT_EQ("", server.Start());
  StatusInit();
  ResetLogRepeat();
  GatherConfig config{};
  GatherContext ctx{};
  WriteTo(server, &config, &ctx);
  Set(config.account, "acc");
  Set(config.instance, "i=1");
  Set(config.schema, "lte status");
  snprintf(config.serialNumber, sizeof config.serialNumber, "SN 1,x");
  UpdateFixedStatus(&ctx, kSn_s, "ZR 100,1");
  UpdateFixedStatus(&ctx, kIMEI_s, "867530900000001");
  UpdateFixedStatus(&ctx, kModemSwVersion_s, "EM12 GPAR01A21");
  UpdateFixedStatus(&ctx, kGID1_i, "7C");
  UpdateFixedStatus(&ctx, kGID2_i, " 01");
  UpdateVariableStatus_i(&ctx, kUeRssi_i, -71);
  UpdateVariableStatus_f(&ctx, kLat_f, 47.5f, 0);
  UpdateVariableStatus_d(&ctx, kScSinr_f, 12.4, 0);
  UpdateVariableStatusT(&ctx, kHnName_s, "Some \"Net\"\\x", 0);
  UpdateVariableStatusT(&ctx, kGPSError, "no fix", 0);
  UpdateVariableStatusT(&ctx, kCpuLaodAvg, "0.10 0.20", 0);

  std::vector<char> record(16384, '\0');
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int32_t duration = -1;
  ReportState report{};
  const int64_t now = static_cast<int64_t>(time(nullptr));
  StampInfluxRecord(&ctx, GetUptime(), now);
  int result = GetInfluxData(&ctx, &report, now, record.data(), 16382);
  if (result == 1) result = statusPostData(&ctx, record.data(), &duration, 16383);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(1, result) << err << "\n" << record.data();
  EXPECT_NE(std::string::npos, out.find("Post to Influx database successful (took ")) << out;

  HttpReply reply = server.Query("SELECT * FROM \"lte status\"");
  ASSERT_EQ(200, reply.status) << reply.body;
  const struct {
    const char* column;
    std::string json;
  } expected[] = {
      // tags
      {"serial_number", "\"SN 1,x\""}, {"hw_version", "\"1.0\""}, {"linux_version", "\"2.3\""},
      {"status_version", "\"2.3\""}, {"master_account", "\"acc\""}, {"instance", "\"i=1\""},
      {"imei", "\"867530900000001\""}, {"modem_swversion", "\"EM12 GPAR01A21\""},
      // fields
      {"id", "0"}, {"UeRssi", "-71"}, {"Lat", "47.5"}, {"ScSinr", "12.4"}, {"Sn", "\"ZR 100,1\""},
      {"HnName", "\"Some \\\"Net\\\"\\\\x\""}, {"GPS Error", "\"no fix\""},
      {"CpuLaodAvg", "\"0.10 0.20\""},
      {"StatusTime", statusValues.entries[kStatusTime_i].value},
      {"UpTime", statusValues.entries[kUpTime_i].value},
      // left out: empty tag, typed values that are no numbers
      {"sub_account", ""}, {"GID1", ""}, {"GID2", ""},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(e.json, InfluxColumnValue(reply.body, e.column)) << e.column << "\n" << reply.body;
  }

  reply = server.Query("SHOW FIELD KEYS FROM \"lte status\"");
  for (const char* typed : {"[\"UeRssi\",\"integer\"]", "[\"id\",\"integer\"]",
                            "[\"Lat\",\"float\"]", "[\"ScSinr\",\"float\"]",
                            "[\"Sn\",\"string\"]", "[\"UpTime\",\"integer\"]"}) {
    EXPECT_NE(std::string::npos, reply.body.find(typed)) << typed << "\n" << reply.body;
  }
}

// A request of three kept records of which the server refuses one (a field type conflict): the
// poster singles it out and drops it with the server's reason; the other two land once.
TEST(InfluxRealServerTest, RefusedRecordIsDroppedAndTheRestGoOn) {
  InfluxServer server;
  ASSERT_EQ("", server.Start());
  StatusInit();
  ResetLogRepeat();
  TempDir root;
  setenv("MODEM_STATUS_ROOT", root.path().c_str(), 1);
  ReloadPathRoot();
  const std::string file = root / "tmp/corvane/influx_backlog.lp";
  WriteFile(file, "m v=1i 1750000001\nm v=\"two\" 1750000002\nm v=3i 1750000003\n");
  GatherConfig config{};
  GatherContext ctx{};
  WriteTo(server, &config, &ctx);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  {
    InfluxPoster poster;
    ASSERT_TRUE(poster.Start(&ctx, file.c_str()));
    for (int i = 0; i < 250 && (poster.Waiting() > 0 || ReadFile(file) != ""); ++i) usleep(20000);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  unsetenv("MODEM_STATUS_ROOT");
  ReloadPathRoot();
  EXPECT_EQ("", ReadFile(file));
  EXPECT_NE(std::string::npos, out.find("Influx refused a request of 3 records")) << out;
  EXPECT_NE(std::string::npos,
            err.find("Influx refused a record, dropped it: {\"error\":\"partial write: field type "
                     "conflict"))
      << err;
  HttpReply reply = server.Query("SELECT count(v) FROM m");
  EXPECT_EQ("2", InfluxColumnValue(reply.body, "count")) << reply.body;
  reply = server.Query("SELECT sum(v) FROM m");
  EXPECT_EQ("4", InfluxColumnValue(reply.body, "sum")) << reply.body;
}

}  // namespace
