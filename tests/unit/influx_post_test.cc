#include "report/influx_post.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "base/clock.h"
#include "base/log.h"
#include "config/daemon_config.h"
#include "tests/support/http_test_server.h"
#include "tests/support/post_once.h"

namespace {

void Set(char (&field)[128], const std::string& text) {
  snprintf(field, sizeof field, "%s", text.c_str());
}

TEST(InfluxRequestTest, VersionFollowsTokenAndValuesArePercentEncoded) {
  struct Case {
    const char *token, *org, *bucket, *db, *user, *password;
    const char *url, *shown, *authorization;
  } cases[] = {
      // No token: version 1.
      {"", "", "", "my db", "a&b", "p&w#d=1 %", "http://h:8086/write?db=my%20db&u=a%26b&p=p%26w%23d%3D1%20%25",
       "http://h:8086/write?db=my%20db&u=a%26b&p=********", ""},
      {"", "", "", "db", "", "", "http://h:8086/write?db=db&u=&p=", "http://h:8086/write?db=db&u=&p=", ""},
      // A token: version 2, no password anywhere.
      {"tok=en", "my org", "b&x", "db", "u", "pw", "http://h:8086/api/v2/write?org=my%20org&bucket=b%26x",
       "http://h:8086/api/v2/write?org=my%20org&bucket=b%26x", "Authorization: Token tok=en"},
  };
  for (const Case& c : cases) {
    DaemonConfig config{};
    Set(config.influxUrl, "http://h:8086");
    Set(config.influxToken, c.token);
    Set(config.influxOrg, c.org);
    Set(config.influxBucket, c.bucket);
    Set(config.database, c.db);
    Set(config.userId, c.user);
    Set(config.password, c.password);
    InfluxRequest request;
    ASSERT_EQ(1, BuildInfluxRequest(config, &request));
    EXPECT_STREQ(c.url, request.url);
    EXPECT_STREQ(c.shown, request.shownUrl);
    EXPECT_STREQ(c.authorization, request.authorization);
  }
}

TEST(InfluxRequestTest, LongestValuesStillFit) {
  DaemonConfig config{};
  std::string all_encoded(127, '&');
  Set(config.influxUrl, std::string(127, 'u'));
  Set(config.database, all_encoded);
  Set(config.userId, all_encoded);
  Set(config.password, all_encoded);
  InfluxRequest request;
  ASSERT_EQ(1, BuildInfluxRequest(config, &request));
  EXPECT_EQ(127u + 16u + 3u * 381u, strlen(request.url));

  char small[4];
  EXPECT_EQ(0, PercentEncode("a b", small, sizeof small));
  EXPECT_STREQ("a", small);
  EXPECT_EQ(1, PercentEncode("a-b", small, sizeof small));
  EXPECT_STREQ("a-b", small);
}

int32_t fake_ms = 0;
int32_t fake_step_ms = 0;
int FakeMonotonic(struct timespec* now) {
  now->tv_sec = fake_ms / 1000;
  now->tv_nsec = (fake_ms % 1000) * 1000000L;
  fake_ms += fake_step_ms;
  return 0;
}

class InfluxPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogRepeat();
    Set(config_.database, "routerdb");
    Set(config_.userId, "writer");
    Set(config_.password, "pa55&word");
  }
  int Post(const std::string& url, const char* record = kRecord) {
    Set(config_.influxUrl, url);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    duration_ = -1;
    int result = PostRecordOnce(config_, debug_, record, &duration_, 16383, clock_);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return result;
  }
  static constexpr const char* kRecord = "lte,serial_number=SN1 id=0i,UeRssi=-71i\n";
  DaemonConfig config_{};
  bool debug_ = false;
  MonotonicReader clock_ = SystemMonotonic;
  int32_t duration_ = -1;
  std::string out_;
  std::string err_;
};

// The request on the wire for each version, and the debug lines, which never show a secret.
TEST_F(InfluxPostTest, RequestIsExactAndSecretsNeverPrinted) {
  struct Case {
    const char *token, *target, *shown, *authorization;
  } cases[] = {
      {"t0ken-SECRET", "/api/v2/write?org=my%20org&bucket=b%26x",
       "/api/v2/write?org=my%20org&bucket=b%26x", "Authorization: Token t0ken-SECRET"},
      // No token: version 1 even with org and bucket set, and no Authorization header.
      {"", "/write?db=routerdb&u=writer&p=pa55%26word", "/write?db=routerdb&u=writer&p=********",
       nullptr},
  };
  Set(config_.influxOrg, "my org");
  Set(config_.influxBucket, "b&x");
  debug_ = true;
  for (const Case& c : cases) {
    HttpTestServer server(204);
    Set(config_.influxToken, c.token);
    ASSERT_EQ(1, Post(server.BaseUrl()));
    EXPECT_GE(duration_, 0);
    auto requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    const RecordedRequest& r = requests[0];
    EXPECT_EQ("POST", r.method);
    EXPECT_EQ(c.target, r.target);
    EXPECT_EQ(kRecord, r.body);
    std::vector<std::string> ours;
    for (const std::string& h : r.headers) {
      if (h.rfind("Authorization", 0) == 0 || h.rfind("Content-Type:", 0) == 0) ours.push_back(h);
    }
    std::vector<std::string> expected;
    if (c.authorization) expected.push_back(c.authorization);
    expected.push_back("Content-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(expected, ours);
    EXPECT_NE(std::string::npos, out_.find("URL: " + server.BaseUrl() + c.shown + "\n")) << out_;
    EXPECT_NE(std::string::npos, out_.find("Post Data: '" + std::string(kRecord) + "'\n"));
    EXPECT_NE(std::string::npos, out_.find("Post to Influx database successful (took "));
    EXPECT_EQ(std::string::npos, (out_ + err_).find("t0ken"));
    EXPECT_EQ(std::string::npos, (out_ + err_).find("pa55"));
  }
}

TEST_F(InfluxPostTest, TokenWithoutOrgOrBucketIsRefusedWithoutTraffic) {
  HttpTestServer server(204);
  Set(config_.influxToken, "tok");
  for (auto [org, bucket] : {std::pair{"", "b"}, std::pair{"o", ""}}) {
    Set(config_.influxOrg, org);
    Set(config_.influxBucket, bucket);
    EXPECT_EQ(0, Post(server.BaseUrl()));
    EXPECT_EQ(0, duration_);
    EXPECT_EQ("Status Post to AWS Influx requires org and bucket values\n", err_);
  }
  EXPECT_EQ(0, server.Connections());
}

// A refused connection (status 0: no server) or an error status: the failure tail, password masked.
TEST_F(InfluxPostTest, FailuresTakeTheFailureTail) {
  for (int status : {0, 400, 401, 500}) {
    ResetLogRepeat();
    std::unique_ptr<HttpTestServer> server;
    if (status != 0) server = std::make_unique<HttpTestServer>(status);
    const std::string base =
        server ? server->BaseUrl() : "http://127.0.0.1:" + std::to_string(FreeLoopbackPort());
    EXPECT_EQ(0, Post(base));
    EXPECT_EQ(0, duration_);
    // libcurl's own account of a transfer error follows its error text in brackets.
    const std::string first =
        status ? "Status Post to Influx got HTTP Response Code: " + std::to_string(status) + "\n"
               : "Status Post to Influx got Curl Error: Couldn't connect to server (Failed to "
                 "connect to 127.0.0.1 port " + base.substr(base.rfind(':') + 1) + " after ";
    ASSERT_EQ(0u, err_.find(first)) << err_;
    err_ = err_.substr(err_.find("Influx error: "));
    EXPECT_EQ("Influx error: " + base + "/write?db=routerdb&u=writer&p=********\n\n" +
                  kRecord + "\n",
              err_);
  }
}

TEST_F(InfluxPostTest, SilentServerEndsByTheTimeout) {
  HttpTestServer server(0);
  Set(config_.influxUrl, server.BaseUrl());
  InfluxRequest request;
  ASSERT_EQ(1, BuildInfluxRequest(config_, &request));
  PostOptions shortened;
  shortened.connectTimeoutMs = 200;
  shortened.totalTimeoutMs = 400;
  PostResult result;
  testing::internal::CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  PostInflux(request, kRecord, strlen(kRecord), shortened, &result);
  auto took = std::chrono::steady_clock::now() - start;
  err_ = testing::internal::GetCapturedStderr();
  EXPECT_EQ(PostOutcome::kRetry, result.outcome);
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  EXPECT_GE(took, std::chrono::milliseconds(350));
  EXPECT_EQ(1u, server.Requests().size());
  EXPECT_EQ(0u, err_.find("Status Post to Influx got Curl Error: Timeout was reached (")) << err_;
  // Unless told otherwise a post waits at most 10 s to connect and 30 s in all.
  const PostOptions daemon_options;
  EXPECT_EQ(std::make_pair(10000, 30000),
            std::make_pair(daemon_options.connectTimeoutMs, daemon_options.totalTimeoutMs));
}

TEST_F(InfluxPostTest, DurationComesFromTheTickClock) {
  HttpTestServer server(204);
  clock_ = FakeMonotonic;
  for (int32_t step : {5000, 5001}) {
    fake_ms = 1000;
    fake_step_ms = step;
    ASSERT_EQ(1, Post(server.BaseUrl()));
    EXPECT_EQ(step, duration_);
    EXPECT_EQ("Post to Influx database successful (took " + std::to_string(step) + " ms)\n", out_);
  }
}

}  // namespace
