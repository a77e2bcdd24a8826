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
#include "base/log.h"
#include "base/paths.h"
#include "config/daemon_config.h"
#include "daemon/record_stamp.h"
#include "report/influx_post.h"
#include "report/influx_poster.h"
#include "report/influx_record.h"
#include "report/report_state.h"
#include "status/status_table.h"
#include "tests/support/influx_server.h"
#include "tests/support/post_once.h"
#include "tests/support/sim_router.h"
#include "tests/support/table_access.h"
#include "tests/support/tcp_proxy.h"
#include "tests/support/test_files.h"

namespace {

void Set(char (&field)[128], const std::string& text) {
  snprintf(field, sizeof field, "%s", text.c_str());
}

// The configuration of a daemon that writes to `server`'s database as its writer.
void WriteTo(const InfluxServer& server, DaemonConfig* config) {
  Set(config->influxUrl, server.BaseUrl());
  Set(config->database, InfluxServer::kDatabase);
  Set(config->userId, InfluxServer::kWriter);
  Set(config->password, InfluxServer::kWriterPassword);
}

TEST(InfluxRealServerTest, RecordReadsBackWithTagsAndTypedFields) {
  InfluxServer server;
  ASSERT_EQ("", server.Start());
  ResetLogRepeat();
  StatusTable table;
  DaemonConfig config{};
  WriteTo(server, &config);
  Set(config.account, "acc");
  Set(config.instance, "i=1");
  Set(config.schema, "lte status");
  snprintf(config.serialNumber, sizeof config.serialNumber, "SN 1,x");
  table.UpdateFixed(kSn_s, "ZR 100,1");
  table.UpdateFixed(kIMEI_s, "867530900000001");
  table.UpdateFixed(kModemSwVersion_s, "EM12 GPAR01A21");
  table.UpdateFixed(kGID1_i, "7C");
  table.UpdateFixed(kGID2_i, " 01");
  table.UpdateInt(kUeRssi_i, -71);
  table.UpdateFloat(kLat_f, 47.5f, 0);
  table.UpdateDouble(kScSinr_f, 12.4, 0);
  table.Update(kHnName_s, "Some \"Net\"\\x", 0);
  table.Update(kGPSError, "no fix", 0);
  table.Update(kCpuLaodAvg, "0.10 0.20", 0);

  std::vector<char> record(16384, '\0');
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int32_t duration = -1;
  ReportState report{};
  const int64_t now = static_cast<int64_t>(time(nullptr));
  StampInfluxRecord(table, config, GetUptime(), now);
  int result = GetInfluxData(config, SnapshotOf(table), &report, now, record.data(), 16382);
  if (result == 1) result = PostRecordOnce(config, false, record.data(), &duration, 16383);
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
      {"StatusTime", EntryOf(table, kStatusTime_i).value},
      {"UpTime", EntryOf(table, kUpTime_i).value},
      // left out: empty tag, typed values that are no numbers
      {"sub_account", ""},
      {"GID1", ""},
      {"GID2", ""},
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
  ResetLogRepeat();
  StatusTable table;
  TempDir root;
  setenv("MODEM_STATUS_ROOT", root.path().c_str(), 1);
  ReloadPathRoot();
  const std::string file = root / "tmp/corvane/influx_backlog.lp";
  WriteFile(file, "m v=1i 1750000001\nm v=\"two\" 1750000002\nm v=3i 1750000003\n");
  DaemonConfig config{};
  WriteTo(server, &config);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  {
    InfluxPoster poster;
    ASSERT_TRUE(poster.Start(config, table, false, nullptr, file.c_str()));
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

// The same records sent gzip-compressed and plain, over HTTP and over HTTPS, read back equal:
// tags, fields of each type and times.
TEST(InfluxRealServerTest, CompressedRecordsReadBackAsThePlainOnes) {
  for (bool https : {false, true}) {
    InfluxServer server;
    ASSERT_EQ("", server.Start(https));
    DaemonConfig config{};
    WriteTo(server, &config);
    InfluxRequest request;
    ASSERT_EQ(1, BuildInfluxRequest(config, &request));
    AddSecondsPrecision(&request);
    const std::string ca = https ? server.CaFile() : "";
    std::string results[2];
    for (int gzip = 0; gzip < 2; ++gzip) {
      const std::string m = gzip ? "packed" : "plain";
      std::string body;
      for (int i = 0; i < 5; ++i) {
        body += m + ",serial_number=ZR\\ 1,imei=8675309 id=" + std::to_string(i) +
                "i,Lat=47.5" + std::to_string(i) + ",HnName=\"Some \\\"Net\\\" " +
                std::to_string(i) + "\",UeRssi=-7" + std::to_string(i) + "i " +
                std::to_string(1750000000 + 60 * i) + "\n";
      }
      PostOptions options;
      options.caFile = ca.c_str();
      options.compress = gzip == 1;
      InfluxLink link;
      ASSERT_TRUE(link.Open(request, options, 65536));
      PostResult result;
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      link.Post(body.data(), body.size(), &result);
      testing::internal::GetCapturedStdout();
      const std::string err = testing::internal::GetCapturedStderr();
      ASSERT_EQ(PostOutcome::kSent, result.outcome) << err;
      HttpReply reply = server.Query("SELECT * FROM " + m + " ORDER BY time ASC");
      ASSERT_EQ(200, reply.status) << reply.body;
      ASSERT_NE(std::string::npos, reply.body.find("2025-06-15T15:10:40Z")) << reply.body;
      results[gzip] = reply.body.substr(reply.body.find("\"columns\""));
    }
    EXPECT_EQ(results[0], results[1]) << (https ? "https" : "http");
  }
}

// One connection carries many posts; when the server goes away and comes back the next post opens
// a new one and succeeds.
TEST(InfluxRealServerTest, PostsShareOneConnectionUntilTheServerClosesIt) {
  InfluxServer server;
  ASSERT_EQ("", server.Start());
  TcpProxy proxy(server.port());
  DaemonConfig config{};
  WriteTo(server, &config);
  Set(config.influxUrl, "http://127.0.0.1:" + std::to_string(proxy.port()));
  InfluxRequest request;
  ASSERT_EQ(1, BuildInfluxRequest(config, &request));
  PostOptions options;
  options.compress = true;
  InfluxLink link;
  ASSERT_TRUE(link.Open(request, options, 65536));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  auto post = [&](int i) {
    const std::string line = "reuse v=" + std::to_string(i) + "i\n";
    PostResult result;
    link.Post(line.data(), line.size(), &result);
    return result.outcome;
  };
  for (int i = 0; i < 10; ++i) EXPECT_EQ(PostOutcome::kSent, post(i)) << i;
  EXPECT_EQ(1, proxy.Connections());
  server.Stop();
  ASSERT_EQ("", server.Resume());
  EXPECT_EQ(PostOutcome::kSent, post(10));
  EXPECT_EQ(2, proxy.Connections());
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  HttpReply reply = server.Query("SELECT count(v) FROM reuse");
  EXPECT_EQ("11", InfluxColumnValue(reply.body, "count")) << reply.body << err;
}

// A server that closes every connection after its reply: the later connections resume the TLS
// session, so the certificate is not sent again.
TEST(InfluxRealServerTest, NewConnectionsResumeTheTlsSession) {
  TempDir dir;
  ASSERT_EQ(0, system(("cd '" + dir.path() +
                       "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout server.key"
                       " -out server.pem -days 2 -subj /CN=127.0.0.1"
                       " -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1")
                          .c_str()));
  DaemonProcess endpoint("/usr/bin/python3",
                         {SOURCE_DIR "/tests/support/post_sink.py", dir / "server.pem",
                          dir / "server.key"},
                         {});
  ASSERT_TRUE(endpoint.WaitForOutput("\n", 10000)) << endpoint.Output();
  const int port = atoi(endpoint.Output().c_str() + 5);
  TcpProxy proxy(port);
  DaemonConfig config{};
  snprintf(config.influxUrl, sizeof config.influxUrl, "https://127.0.0.1:%d", proxy.port());
  Set(config.database, "db");
  InfluxRequest request;
  ASSERT_EQ(1, BuildInfluxRequest(config, &request));
  const std::string ca = dir / "server.pem";
  PostOptions options;
  options.caFile = ca.c_str();
  InfluxLink link;
  ASSERT_TRUE(link.Open(request, options, 65536));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  long down[4] = {0, 0, 0, 0};
  for (int i = 1; i < 4; ++i) {
    PostResult result;
    link.Post("m v=1i\n", 7, &result);
    EXPECT_EQ(PostOutcome::kSent, result.outcome) << i;
    down[i] = proxy.BytesDown();
  }
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(3, proxy.Connections());
  const long full = down[1] - down[0];
  for (int i = 2; i < 4; ++i) {
    // The certificate alone is about 800 bytes; a resumed handshake sends none.
    EXPECT_LT(down[i] - down[i - 1], full - 600) << "full handshake " << full << ", then "
                                                << down[i] - down[i - 1];
  }
}

}  // namespace
