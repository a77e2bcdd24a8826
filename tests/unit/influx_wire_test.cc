// What Influx requests cost on the wire: gzip bodies, records batched per request, and the pause a
// server asks for with Retry-After.
#include "config/influx_wire.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/log.h"
#include "base/paths.h"
#include "config/daemon_config.h"
#include "report/gzip_body.h"
#include "report/influx_post.h"
#include "report/influx_poster.h"
#include "status/status_table.h"
#include "tests/support/http_test_server.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"

namespace {

constexpr int64_t kT = 1750000000;

void Set(char (&field)[128], const std::string& text) {
  snprintf(field, sizeof field, "%s", text.c_str());
}

TEST(GzipBodyTest, CompressesWithinTheReservedSizeOnly) {
  GzipBody gzip;
  EXPECT_EQ(0u, gzip.Compress("m v=1i\n", 7));  // not reserved
  ASSERT_TRUE(gzip.Reserve(4096));
  const std::string record =
      "lte_status,serial_number=ZR47A1234567,hw_version=1.0 id=0i,UeRssi=-71i,Apn=\"internet\"\n";
  std::string lines;
  for (int i = 0; i < 40; ++i) lines += record;  // 3,480 bytes
  const struct {
    std::string text;
    bool fits;
  } cases[] = {{"", true}, {record, true}, {lines, true}, {std::string(4096, 'x'), true},
               {std::string(4097, 'x'), false}};
  for (const auto& c : cases) {
    const size_t n = gzip.Compress(c.text.data(), c.text.size());
    if (!c.fits) {
      EXPECT_EQ(0u, n);
      continue;
    }
    ASSERT_GT(n, 0u) << c.text.size();
    EXPECT_EQ(c.text, Gunzip(std::string(gzip.data(), n)));
  }
  // Forty alike records pack to a small part of their size; the stream is reset between bodies.
  EXPECT_LT(gzip.Compress(lines.data(), lines.size()), lines.size() / 10);
  const size_t again = gzip.Compress(record.data(), record.size());
  EXPECT_EQ(record, Gunzip(std::string(gzip.data(), again)));
}

TEST(InfluxWireOptionsTest, CompressAndBatchValues) {
  const std::pair<const char*, InfluxCompress> compress[] = {
      {"", InfluxCompress::kGzip}, {"gzip", InfluxCompress::kGzip},
      {"none", InfluxCompress::kNone}, {"GZIP", InfluxCompress::kUnknown},
      {"deflate", InfluxCompress::kUnknown}, {"none ", InfluxCompress::kUnknown}};
  for (const auto& [text, expected] : compress) EXPECT_EQ(expected, ParseInfluxCompress(text)) << text;
  const std::pair<int64_t, int64_t> batch[] = {{0, 1}, {-5, 1}, {1, 1}, {10, 10}, {60, 60}, {61, 60},
                                               {100000, 60}};
  for (const auto& [configured, expected] : batch) EXPECT_EQ(expected, BoundInfluxBatch(configured));
}

TEST(RetryHoldTest, OnlyRateLimitAndUnavailableHoldAtMostAnHour) {
  const struct {
    long code;
    int64_t retry_after;
    int64_t hold;
  } cases[] = {{429, 5, 5},       {503, 120, 120},   {429, 3600, 3600}, {429, 3601, 3600},
               {503, 86400, 3600}, {429, -1, 0},      {429, 0, 0},       {500, 30, 0},
               {204, 30, 0},       {408, 30, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.hold, RetryHoldSeconds(c.code, c.retry_after)) << c.code << " " << c.retry_after;
  }
}

// The poster against a local server, with the daemon's paths under a temporary root.
class WireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", root_.path().c_str(), 1);
    ReloadPathRoot();
    MakeDirs(root_ / "tmp/corvane");
    ResetLogRepeat();
    Set(config_.database, "db");
    config_.period = 60;
    config_.influxBatch = 1;
    config_.influxCompress = InfluxCompress::kGzip;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
  }
  void TearDown() override {
    poster_.Stop();
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  void StartPoster(const HttpTestServer& server) {
    Set(config_.influxUrl, server.BaseUrl());
    ASSERT_TRUE(poster_.Start(config_, table_, debug_, nullptr,
                              (root_ / "tmp/corvane/influx_backlog.lp").c_str()));
  }
  void Submit(int i, int32_t tick = GetTicks()) {
    const std::string line = "m v=" + std::to_string(i) + "i\n";
    poster_.Submit(line.data(), line.size(), kT + i, tick);
  }
  static std::string Lines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) {
      text += "m v=" + std::to_string(i) + "i " + std::to_string(kT + i) + "\n";
    }
    return text;
  }
  static bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    for (int i = 0; i < ms / 20 && !done(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  }
  std::string Backlog() const { return ReadFile(root_ / "tmp/corvane/influx_backlog.lp"); }

  TempDir root_;
  DaemonConfig config_{};
  StatusTable table_;
  bool debug_ = false;
  InfluxPoster poster_;
  std::string out_;
  std::string err_;
};

// gzip: the body goes packed with Content-Encoding and unpacks to the records; none: plain text
// and no Content-Encoding at all. The debug echo shows the plain text either way.
TEST_F(WireTest, BodyIsCompressedUnlessTurnedOff) {
  HttpTestServer server(204);
  config_.influxCompress = InfluxCompress::kGzip;
  debug_ = true;
  InfluxPoster plain;
  StartPoster(server);
  for (int i = 0; i < 20; ++i) Submit(i, GetTicks());
  ASSERT_TRUE(WaitFor([&] { return poster_.Waiting() == 0; }));
  poster_.Stop();
  config_.influxCompress = InfluxCompress::kNone;
  ASSERT_TRUE(
      plain.Start(config_, table_, debug_, nullptr, (root_ / "tmp/corvane/other.lp").c_str()));
  plain.Submit("m v=99i\n", 8, kT + 99, GetTicks());
  ASSERT_TRUE(WaitFor([&] { return server.Requests().size() >= 2 && plain.Waiting() == 0; }));
  plain.Stop();
  const auto requests = server.Requests();
  std::string packed_text;
  size_t packed_wire = 0;
  for (size_t i = 0; i + 1 < requests.size(); ++i) {
    EXPECT_TRUE(requests[i].gzip);
    packed_text += requests[i].body;
    packed_wire += requests[i].wireLength;
  }
  EXPECT_EQ(Lines(0, 19), packed_text);
  EXPECT_LT(packed_wire, packed_text.size());
  const RecordedRequest& last = requests.back();
  EXPECT_FALSE(last.gzip);
  EXPECT_EQ("m v=99i 1750000099\n", last.body);
  EXPECT_EQ(last.body.size(), last.wireLength);
  for (const std::string& h : last.headers) EXPECT_NE(0u, h.rfind("Content-Encoding", 0)) << h;
  for (const RecordedRequest& r : requests) {
    for (const std::string& h : r.headers) {
      EXPECT_NE(0u, h.rfind("Expect:", 0)) << h;  // no 100-continue round trip
    }
  }
  testing::internal::GetCapturedStderr();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("Post Data: 'm v=0i 1750000000\n")) << out;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
}

// influx_batch 3: two records wait, the third sends all three in one request; two more wait and
// a stop writes them to the backlog file.
TEST_F(WireTest, BatchGoesWhenFullAndAStopKeepsTheRest) {
  HttpTestServer server(204);
  config_.influxBatch = 3;
  StartPoster(server);
  Submit(1);
  Submit(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(0u, server.Requests().size());
  Submit(3);
  ASSERT_TRUE(WaitFor([&] { return poster_.Waiting() == 0; }));
  Submit(4);
  Submit(5);
  poster_.Stop();
  const auto requests = server.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(Lines(1, 3), requests[0].body);
  EXPECT_EQ(Lines(4, 5), Backlog());
}

// A batch that is not full goes once its oldest record has waited influx_batch periods.
TEST_F(WireTest, BatchGoesWhenItsOldestHasWaitedItsPeriods) {
  HttpTestServer server(204);
  config_.influxBatch = 3;
  config_.period = 1;
  StartPoster(server);
  const auto start = std::chrono::steady_clock::now();
  Submit(1, GetTicks() - 2000);  // built two periods ago: one period is left
  ASSERT_TRUE(WaitFor([&] { return server.Requests().size() == 1; }));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  EXPECT_EQ(Lines(1, 1), server.Requests()[0].body);
}

// A 429 with Retry-After: no request until that time has passed, then the records kept meanwhile
// go in order; in seconds, as an HTTP date, and held to an hour when longer.
TEST_F(WireTest, RetryAfterHoldsTheNextPost) {
  HttpTestServer server(429);
  const struct {
    std::string header;
    int least_ms;
    int most_ms;
  } cases[] = {
      {"Retry-After: 3\r\n", 2900, 6000},
      {"", 1900, 6000},  // the date form, two or three seconds ahead (filled in below)
  };
  StartPoster(server);
  int next = 1;
  for (auto c : cases) {
    if (c.header.empty()) {
      char date[64];
      const time_t when = time(nullptr) + 3;
      struct tm tm {};
      gmtime_r(&when, &tm);
      strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
      c.header = std::string("Retry-After: ") + date + "\r\n";
    }
    server.SetReply(429);
    server.SetReplyHeaders(c.header);
    const size_t before = server.Requests().size();
    const int first = next;
    Submit(next++);
    ASSERT_TRUE(WaitFor([&] { return server.Requests().size() == before + 1; }));
    server.SetReply(204);
    server.SetReplyHeaders("");
    Submit(next++);
    Submit(next++);
    ASSERT_TRUE(WaitFor([&] { return poster_.Waiting() == 0; })) << c.header;
    const auto requests = server.Requests();
    ASSERT_EQ(before + 2, requests.size()) << c.header;
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(
        requests[before + 1].at - requests[before].at);
    EXPECT_GE(gap.count(), c.least_ms) << c.header;
    EXPECT_LE(gap.count(), c.most_ms) << c.header;
    EXPECT_EQ(Lines(first, first + 2), requests[before + 1].body);
  }
  // A 503 without Retry-After on the same handle holds nothing (no pause left from before).
  {
    server.SetReply(503);
    const size_t before = server.Requests().size();
    Submit(next++);
    ASSERT_TRUE(WaitFor([&] { return server.Requests().size() == before + 1; }));
    server.SetReply(204);
    Submit(next++);
    ASSERT_TRUE(WaitFor([&] { return poster_.Waiting() == 0; }));
    const auto requests = server.Requests();
    EXPECT_LT(requests[before + 1].at - requests[before].at, std::chrono::milliseconds(1500));
  }
  // Two hours asked: held to one, and a stop still ends the wait at once.
  server.SetReply(429);
  server.SetReplyHeaders("Retry-After: 7200\r\n");
  const size_t before = server.Requests().size();
  Submit(next++);
  ASSERT_TRUE(WaitFor([&] { return server.Requests().size() == before + 1; }));
  server.SetReply(204);
  Submit(next++);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(before + 1, server.Requests().size());
  const auto start = std::chrono::steady_clock::now();
  poster_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(Lines(next - 2, next - 1), Backlog());
  const std::string said =
      testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
  for (const char* line : {"Influx server asked to wait: next post in 3 s (HTTP 429, Retry-After)",
                           "Influx server asked to wait: next post in 3600 s (HTTP 429, Retry-After)"}) {
    EXPECT_NE(std::string::npos, said.find(line)) << line << "\n" << said;
  }
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
}

}  // namespace
