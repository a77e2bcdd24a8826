// The daemon polls the simulated router and posts its records to a real InfluxDB 1.x, or to a
// server that fails in a chosen way.
#include <gtest/gtest.h>
#include <glob.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/http_test_server.h"
#include "tests/support/influx_server.h"
#include "tests/support/sim_router.h"
#include "tests/support/tcp_proxy.h"

namespace {

constexpr int kTimeoutMs = 20000;

std::string ZelConfig(const std::string& url, const std::string& password) {
  return "\nconfig status_gather 'status_gather'\n"
         "\toption poll '2'\n"
         "\toption period '1'\n"
         "\toption influx_url '" + url + "'\n"
         "\toption database 'routerdb'\n"
         "\toption userid 'writer'\n"
         "\toption password '" + password + "'\n"
         "\toption schema 'lte_status'\n"
         "\toption account 'a c'\n"
         "\toption sub_account 'n'\n"
         "\toption instance 'r1'\n"
         "\nconfig api 'api'\n\toption status '1'\n";
}

// The value the daemon echoed for `name` last ("Fixed Value:  NAME 'v'" with -c).
std::string EchoedValue(const std::string& output, const std::string& name) {
  size_t at = output.rfind("Value:  " + name + " '");
  if (at == std::string::npos) return "";
  at += 10 + name.size();
  return output.substr(at, output.find('\'', at) - at);
}

class InfluxE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new InfluxServer;
    start_error_ = server_->Start();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ("", start_error_); }

  static InfluxServer* server_;
  static std::string start_error_;
  bool PostStateIs(const std::string& state) {
    return sim_.ReadRouterFile("tmp/corvane/post_state.json").find("\"state\": \"" + state + "\"") !=
           std::string::npos;
  }
  SimRouter sim_;
};

InfluxServer* InfluxE2E::server_ = nullptr;
std::string InfluxE2E::start_error_;

TEST_F(InfluxE2E, RecordsFromTheSimulatedRouterLandInInfluxDB) {
  sim_.WriteRouterFile("etc/config/zel",
                       ZelConfig(server_->BaseUrl(), InfluxServer::kWriterPassword));
  DaemonProcess daemon(sim_, {"-c", "-d"});
  // The second record carries the duration of the first post.
  ASSERT_TRUE(daemon.WaitForOutputCount("Post to Influx database successful (took ", 2, kTimeoutMs))
      << daemon.Output();
  EXPECT_TRUE(PostStateIs("Success"));
  const std::string output = daemon.Output();
  EXPECT_EQ(0, daemon.Stop());

  HttpReply reply = server_->Query("SELECT * FROM lte_status ORDER BY time ASC LIMIT 2");
  ASSERT_EQ(200, reply.status) << reply.body;
  for (auto [column, value] : {std::pair{"serial_number", "\"ZR47A1234567\""}, {"master_account", "\"a c\""},
                                {"sub_account", "\"n\""}, {"instance", "\"r1\""}}) {
    EXPECT_EQ(value, InfluxColumnValue(reply.body, column)) << reply.body;
  }
  EXPECT_EQ("\"" + EchoedValue(output, "IMEI_s") + "\"", InfluxColumnValue(reply.body, "imei"));
  EXPECT_EQ("0", InfluxColumnValue(reply.body, "id"));
  EXPECT_EQ("\"ZR47A1234567\"", InfluxColumnValue(reply.body, "Sn"));
  // Values of each type, as the daemon stored them (strings come back quoted).
  for (const char* name : {"UeRssi_i", "ScRsrp_i", "WWanRxBytes_i", "IMSI_s", "ICCID_s", "Apn_s"}) {
    std::string value = EchoedValue(output, name);
    ASSERT_NE("", value) << name;
    if (name[strlen(name) - 1] == 's') value = "\"" + value + "\"";
    EXPECT_EQ(value, InfluxColumnValue(reply.body, std::string(name, strlen(name) - 2))) << name;
  }
  std::string sinr = EchoedValue(output, "ScSinr_f");
  ASSERT_NE("", sinr);
  EXPECT_DOUBLE_EQ(atof(sinr.c_str()), atof(InfluxColumnValue(reply.body, "ScSinr").c_str()));
  reply = server_->Query("SELECT \"id\",\"PostDuration\" FROM lte_status WHERE id = 1");
  const std::string duration = InfluxColumnValue(reply.body, "PostDuration");
  EXPECT_TRUE(duration != "" && duration != "null") << reply.body;
  reply = server_->Query("SHOW FIELD KEYS FROM lte_status");
  for (const char* typed : {"[\"UeRssi\",\"integer\"]", "[\"ScSinr\",\"float\"]",
                            "[\"IMSI\",\"string\"]", "[\"PostDuration\",\"integer\"]"}) {
    EXPECT_NE(std::string::npos, reply.body.find(typed)) << typed << "\n" << reply.body;
  }
  // The password goes nowhere but into the request.
  EXPECT_EQ(std::string::npos, output.find("wr1 ter")) << output;
  EXPECT_NE(std::string::npos, output.find("&p=********")) << output;
}

TEST_F(InfluxE2E, WrongPasswordIsAFailureAndStaysSecret) {
  const std::string password = "n0t-The-Pa55";
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(server_->BaseUrl(), password));
  DaemonProcess daemon(sim_, {"-d"});
  ASSERT_TRUE(daemon.WaitForOutput("Status Post to Influx got HTTP Response Code: 401", kTimeoutMs))
      << daemon.Output();
  // The post state is written before the count of waiting records is printed.
  ASSERT_TRUE(daemon.WaitForOutput("Influx records waiting: ", kTimeoutMs));
  EXPECT_TRUE(PostStateIs("Failure"));
  EXPECT_EQ(0, daemon.Stop());
  EXPECT_EQ(std::string::npos, daemon.Output().find("Pa55")) << daemon.Output();
}

TEST_F(InfluxE2E, ServerErrorIsAFailureAndPollingGoesOn) {
  HttpTestServer failing(500);
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(failing.BaseUrl(), "pw"));
  DaemonProcess daemon(sim_, {});
  ASSERT_TRUE(daemon.WaitForOutputCount("Status Post to Influx got HTTP Response Code: 500", 2,
                                        kTimeoutMs))
      << daemon.Output();
  EXPECT_TRUE(PostStateIs("Failure"));
  EXPECT_EQ(0, daemon.Stop());
  auto requests = failing.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ("/write?db=routerdb&u=writer&p=pw&precision=s", requests[0].target);
  EXPECT_EQ(0u, requests[0].body.find("lte_status,serial_number=ZR47A1234567,")) << requests[0].body;
}

// The rows of a /query reply whose columns are time (RFC 3339), id and StatusTime: seconds, id,
// StatusTime.
std::vector<std::array<int64_t, 3>> IdRows(const std::string& reply) {
  std::vector<std::array<int64_t, 3>> rows;
  for (size_t at = reply.find("[\""); at != std::string::npos; at = reply.find("[\"", at + 1)) {
    struct tm tm {};
    const char* rest = strptime(reply.c_str() + at + 2, "%Y-%m-%dT%H:%M:%SZ\",", &tm);
    if (rest == nullptr) continue;
    char* end = nullptr;
    const int64_t id = strtoll(rest, &end, 10);
    rows.push_back({static_cast<int64_t>(timegm(&tm)), id, strtoll(end + 1, nullptr, 10)});
  }
  return rows;
}

// The server is down for several periods while the daemon polls: every record built meanwhile
// lands once afterwards, in order, with the time it was built, and the passes keep their cadence.
TEST_F(InfluxE2E, OutageLosesNoRecordAndKeepsTheCadence) {
  std::string config = ZelConfig(server_->BaseUrl(), InfluxServer::kWriterPassword);
  config.replace(config.find("'lte_status'"), 12, "'outage'");  // a measurement of its own
  sim_.WriteRouterFile("etc/config/zel", config);
  DaemonProcess daemon(sim_, {});
  ASSERT_TRUE(daemon.WaitForOutput("Influx records waiting: 0", kTimeoutMs)) << daemon.Output();
  server_->Stop();
  const int64_t down_at = time(nullptr);
  ASSERT_TRUE(daemon.WaitForOutput("Influx records waiting: 5\n", 30000)) << daemon.Output();
  EXPECT_NE(std::string::npos, sim_.ReadRouterFile("tmp/corvane/post_state.json").find("\"waiting\": 5"));
  const int drained = daemon.CountOutput("Influx records waiting: 0");
  const int64_t up_at = time(nullptr);
  ASSERT_EQ("", server_->Resume());
  ASSERT_TRUE(daemon.WaitForOutputCount("Influx records waiting: 0", drained + 1, kTimeoutMs))
      << daemon.Output();
  EXPECT_EQ(0, daemon.Stop());

  HttpReply reply = server_->Query("SELECT id, StatusTime FROM outage ORDER BY time ASC");
  ASSERT_EQ(200, reply.status) << reply.body;
  const auto rows = IdRows(reply.body);
  ASSERT_GE(rows.size(), 7u) << reply.body;
  int64_t widest_gap = 0;
  int built_while_down = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    built_while_down += rows[i][2] >= down_at && rows[i][2] <= up_at ? 1 : 0;
    EXPECT_EQ(static_cast<int64_t>(i), rows[i][1]) << reply.body;  // each record once, in order
    EXPECT_LE(std::llabs(rows[i][0] - rows[i][2]), 1) << reply.body;  // at the time it was built
    if (i > 0) widest_gap = std::max(widest_gap, rows[i][2] - rows[i - 1][2]);
  }
  EXPECT_GE(built_while_down, 5);
  EXPECT_LE(widest_gap, 3);  // a 2 s poll with the server down or up
  printf("outage of %lld s: %d records built while down, %zu in all, widest gap %lld s\n",
         static_cast<long long>(up_at - down_at), built_while_down, rows.size(),
         static_cast<long long>(widest_gap));
}

// A daemon started again sends the records the last one left in the backlog file first.
TEST_F(InfluxE2E, RestartSendsTheBacklogLeftBehind) {
  HttpTestServer server(204);
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(server.BaseUrl(), "pw"));
  const std::string left = "lte_status,serial_number=old v=1i 1750000001\n"
                           "lte_status,serial_number=old v=2i 1750000002\n";
  sim_.WriteRouterFile("tmp/corvane/influx_backlog.lp", left);
  DaemonProcess daemon(sim_, {});
  ASSERT_TRUE(daemon.WaitForOutput("Influx records waiting: 0", kTimeoutMs)) << daemon.Output();
  EXPECT_EQ(0, daemon.Stop());
  auto requests = server.Requests();
  ASSERT_GE(requests.size(), 1u);
  EXPECT_EQ(0u, requests[0].body.find(left)) << requests[0].body;
  EXPECT_EQ("", sim_.ReadRouterFile("tmp/corvane/influx_backlog.lp"));
}

// A backlog file longer than the bounds gives its newest records; one a local user planted (owned
// by nobody, writable by all) is never posted with the router's credentials.
TEST_F(InfluxE2E, BacklogFileGivesItsNewestRecordsAndOnlyWhenTheDaemonsOwn) {
  HttpTestServer server(204);
  std::string zel = ZelConfig(server.BaseUrl(), "pw");
  // Room for 3 records: the 3 newest of the file, or 2 of them and the first record of the run.
  zel.insert(zel.find("\toption poll"), "\toption backlog_records '3'\n");
  sim_.WriteRouterFile("etc/config/zel", zel);
  std::string saved;
  for (int i = 1; i <= 5; ++i) {
    saved += "lte_status,serial_number=old v=" + std::to_string(i) + "i 175000000" +
             std::to_string(i) + "\n";
  }
  saved += "lte_status,serial_number=old\n";  // no field set
  const std::string path = sim_.root() + "/tmp/corvane/influx_backlog.lp";
  sim_.WriteRouterFile("tmp/corvane/influx_backlog.lp", saved);
  {
    DaemonProcess daemon(sim_, {});
    ASSERT_TRUE(daemon.WaitForOutput("Influx records waiting: 0", kTimeoutMs)) << daemon.Output();
    EXPECT_EQ(0, daemon.Stop());
    const std::string output = daemon.Output();
    EXPECT_NE(std::string::npos, output.find("Influx backlog: 3 records taken up")) << output;
    EXPECT_NE(std::string::npos, output.find("dropped the 2 oldest records")) << output;
    EXPECT_NE(std::string::npos,
              output.find("left out 1 lines of the backlog file that are no line-protocol record"))
        << output;
    auto requests = server.Requests();
    ASSERT_GE(requests.size(), 1u);
    EXPECT_NE(std::string::npos, requests[0].body.find("lte_status,serial_number=old v=4i 1750000004\n"
                                                       "lte_status,serial_number=old v=5i 1750000005\n"))
        << requests[0].body;
    for (const auto& request : requests) {
      EXPECT_EQ(std::string::npos, request.body.find("v=1i")) << request.body;
      EXPECT_EQ(std::string::npos, request.body.find("v=2i")) << request.body;
    }
  }

  const struct passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  HttpTestServer second(204);
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(second.BaseUrl(), "pw"));
  sim_.WriteRouterFile("tmp/corvane/influx_backlog.lp", "planted,by=user v=1i 1750000001\n");
  ASSERT_EQ(0, chown(path.c_str(), nobody->pw_uid, nobody->pw_gid));
  ASSERT_EQ(0, chmod(path.c_str(), 0666));
  DaemonProcess daemon(sim_, {});
  ASSERT_TRUE(daemon.WaitForOutput("Influx records waiting: 0", kTimeoutMs)) << daemon.Output();
  EXPECT_EQ(0, daemon.Stop());
  EXPECT_NE(std::string::npos,
            daemon.Output().find("Influx backlog file " + path +
                                 " left alone: it belongs to user " +
                                 std::to_string(nobody->pw_uid)))
      << daemon.Output();
  for (const auto& request : second.Requests()) {
    EXPECT_EQ(std::string::npos, request.body.find("planted")) << request.body;
  }
}

// libfaketime, which moves the daemon's wall clock by the offset in a file it reads on every call
// and leaves the monotonic clock alone; "" when it is not installed.
std::string FaketimeLibrary() {
  glob_t found{};
  std::string path;
  if (glob("/usr/lib/*/faketime/libfaketime.so.1", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
    path = found.gl_pathv[0];
  }
  globfree(&found);
  return path;
}

// NTP steps the daemon's wall clock back a day, then forward two: every record still carries the
// values written since the one before (UpTime and the radio values of each pass), records keep
// their cadence (no burst after the step forward), and each carries the stepped time.
TEST_F(InfluxE2E, WallClockStepsKeepRecordsWholeAndOnSchedule) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "libfaketime is preloaded before the sanitizer runtime";
#endif
  const std::string library = FaketimeLibrary();
  ASSERT_NE("", library) << "libfaketime is missing: scripts/setup.sh installs it";
  HttpTestServer server(204);
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(server.BaseUrl(), "pw"));
  const std::string offset_file = sim_.root() + "/faketime";
  sim_.WriteRouterFile("faketime", "+0\n");
  DaemonProcess daemon(sim_, {}, {"LD_PRELOAD=" + library, "FAKETIME_TIMESTAMP_FILE=" + offset_file,
                                  "FAKETIME_NO_CACHE=1", "FAKETIME_DONT_FAKE_MONOTONIC=1"});
  const char* kSent = "Post to Influx database successful";
  ASSERT_TRUE(daemon.WaitForOutputCount(kSent, 2, kTimeoutMs)) << daemon.Output();
  struct Phase {
    const char* offset;
    int64_t shift;  // seconds the record times move by
  } phases[] = {{"-1d\n", -86400}, {"+1d\n", 86400}};
  for (const Phase& phase : phases) {
    const size_t before = server.Requests().size();
    const int64_t real_start = time(nullptr);
    sim_.WriteRouterFile("faketime", phase.offset);
    const int sent = daemon.CountOutput(kSent);
    ASSERT_TRUE(daemon.WaitForOutputCount(kSent, sent + 3, kTimeoutMs)) << daemon.Output();
    const int64_t real_seconds = time(nullptr) - real_start;
    auto requests = server.Requests();
    // One record per 2 s pass: a step forward sends no burst of records.
    EXPECT_LE(requests.size() - before, static_cast<size_t>(real_seconds / 2 + 2)) << phase.offset;
    for (size_t i = before; i < requests.size(); ++i) {
      const std::string& body = requests[i].body;
      EXPECT_NE(std::string::npos, body.find(",UpTime=")) << phase.offset << body;
      EXPECT_NE(std::string::npos, body.find(",ScRsrp=")) << phase.offset << body;
      // The record of the pass that saw the step may still carry the old time; the next ones don't.
      if (i == before) continue;
      const size_t at = body.rfind(' ', body.size() - 2);
      const int64_t stamp = std::atoll(body.c_str() + at + 1);
      EXPECT_LE(std::llabs(stamp - (time(nullptr) + phase.shift)), 30) << phase.offset << body;
    }
  }
  EXPECT_EQ(0, daemon.Stop());
}

// Ten records a second apart go over one connection; after the server restarts (closing it) the
// next post opens a new one and lands.
TEST_F(InfluxE2E, OneConnectionCarriesTheRecords) {
  TcpProxy proxy(server_->port());
  std::string config = ZelConfig("http://127.0.0.1:" + std::to_string(proxy.port()),
                                 InfluxServer::kWriterPassword);
  config.replace(config.find("option poll '2'"), 15, "option poll '1'");
  config.replace(config.find("'lte_status'"), 12, "'reuse'");
  sim_.WriteRouterFile("etc/config/zel", config);
  DaemonProcess daemon(sim_, {});
  const std::string sent = "Post to Influx database successful (took ";
  ASSERT_TRUE(daemon.WaitForOutputCount(sent, 10, 60000)) << daemon.Output();
  EXPECT_EQ(1, proxy.Connections());
  server_->Stop();
  ASSERT_EQ("", server_->Resume());
  const int before = daemon.CountOutput(sent);
  ASSERT_TRUE(daemon.WaitForOutputCount(sent, before + 1, kTimeoutMs)) << daemon.Output();
  EXPECT_EQ(2, proxy.Connections());
  EXPECT_EQ(0, daemon.Stop());
  HttpReply reply = server_->Query("SELECT count(id) FROM reuse");
  EXPECT_LE(before + 1, atoi(InfluxColumnValue(reply.body, "count").c_str())) << reply.body;
}

}  // namespace
