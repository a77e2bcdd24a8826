// The daemon polls the simulated router and posts its records to a real InfluxDB 1.x, or to a
// server that fails in a chosen way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/http_test_server.h"
#include "tests/support/influx_server.h"
#include "tests/support/sim_router.h"

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

}  // namespace
