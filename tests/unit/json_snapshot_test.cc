// The snapshot render, the bounded append, the writer's decision and passes with a chosen clock,
// and the modem watchdog's states.
#include "report/json_snapshot.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "daemon/context.h"
#include "daemon/signals.h"
#include "report/modem_watchdog.h"
#include "status/status_table.h"
#include "tests/support/json_validator.h"
#include "tests/support/test_files.h"

namespace {

int64_t table_now = 1700000000;
int64_t TableNow() { return table_now; }

int resets = 0;
int reset_answer = 1;
int32_t uptime = 0;
int CountingReset(GatherContext*) {
  ++resets;
  return reset_answer;
}
int32_t FakeUptime() { return uptime; }

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StatusInit();
    table_now = 1700000000;
    SetStatusClock(TableNow);
    ctx_.statusTable = &statusValues;
    ctx_.modemIndex = 0;
    ResetModemWatchdog();
    resets = 0;
    reset_answer = 1;
    uptime = 0;
    SetModemWatchdogHooks(CountingReset, FakeUptime);
  }
  void TearDown() override {
    SetModemWatchdogHooks(nullptr, nullptr);
    SetStatusClock(nullptr);
  }

  std::string Render(size_t size = kJsonRenderSize, int64_t now = 1700000000) {
    std::vector<char> buffer(kJsonBufferSize, '\0');
    GetJsonData(&ctx_, buffer.data(), size, now);
    return buffer.data();
  }

  void Set(uint32_t index, const char* text, int64_t at) {
    table_now = at;
    UpdateVariableStatusT(&ctx_, index, text, 0);
  }

  GatherContext ctx_{};
};

TEST(AppendTextTest, WritesOnlyWithAByteToSpare) {
  struct Case {
    size_t room;
    size_t length;
    int written;
  } cases[] = {
      {6, 5, 1},  // fits with exactly one byte to spare for the terminator
      {5, 5, 0},  // misses by one: skipped whole
      {6, 0, 1},  // an empty piece fits anywhere with room left
      {0, 0, 0},  // nothing fits at the end
  };
  for (const Case& c : cases) {
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    char* pos = buffer;
    int written = AppendText(&pos, buffer + c.room, "abcde", c.length);
    EXPECT_EQ(written, c.written) << c.room << " " << c.length;
    if (c.written) {
      EXPECT_EQ(pos, buffer + c.length);
      EXPECT_EQ(std::string(buffer, c.length + 1), std::string("abcde", c.length) + '\0');
    } else {
      EXPECT_EQ(pos, buffer);
      EXPECT_EQ(buffer[0], 'x');
    }
  }
}

TEST_F(SnapshotTest, EmptyTableRendersTheOpeningAndTheClose) {
  EXPECT_EQ(Render(), "{\"time\": 1700000000,\"status\": []}");
}

TEST_F(SnapshotTest, EntriesInIndexOrderExpiredOnesKeptEmptyOnesLeftOut) {
  Set(kUeRssi_i, "-71", 1700000100);
  Set(kSn_s, "SN123", 1700000050);
  Set(kIMEI_s, "x", 1700000060);
  Set(kIMEI_s, "", 1700000070);  // emptied again: left out
  ExpireStatus(&ctx_, 0);        // UeRssi_i is link-dependent
  EXPECT_EQ(Render(kJsonRenderSize, 1700000200),
            "{\"time\": 1700000200,\"status\": ["
            "{\"name\":\"Sn_s\",\"value\":\"SN123\",\"lastChange\":\"1700000050\","
            "\"lastUpdate\":\"1700000050\"},"
            "{\"name\":\"UeRssi_i\",\"value\":\"-71\",\"lastChange\":\"1700000100\","
            "\"lastUpdate\":\"-1\"}]}");
}

TEST_F(SnapshotTest, TimesAfter2038KeepAllTheirDigits) {
  Set(kSn_s, "SN", 4102444800);
  std::string doc = Render(kJsonRenderSize, 4102444805);
  EXPECT_EQ(doc, "{\"time\": 4102444805,\"status\": [{\"name\":\"Sn_s\",\"value\":\"SN\","
                 "\"lastChange\":\"4102444800\",\"lastUpdate\":\"4102444800\"}]}");
}

TEST_F(SnapshotTest, ValuesAreEscapedSoTheDocumentStaysValid) {
  struct Case {
    const char* value;
    const char* written;
  } cases[] = {
      {"My \"Net\"", "My \\\"Net\\\""},
      {"C:\\path", "C:\\\\path"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {"\x01\x1f", "\\u0001\\u001f"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // UTF-8 kept as it is
      {"caf\xe9", "caf\\u00e9"},                                   // a stray byte escaped
      {"\xc3", "\\u00c3"},                                         // a cut sequence
      {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},                   // a surrogate
      {"</script>", "</script>"},
  };
  for (const Case& c : cases) {
    StatusInit();
    Set(kHnName_s, c.value, 1700000000);
    std::string doc = Render();
    EXPECT_NE(doc.find(std::string("\"value\":\"") + c.written + "\""), std::string::npos) << doc;
    std::string error;
    EXPECT_TRUE(IsValidJson(doc, &error)) << doc << ": " << error;
  }
}

TEST_F(SnapshotTest, PiecesThatDoNotFitAreSkippedWhole) {
  const std::string full = "{\"time\": 1700000000,\"status\": []}";
  const size_t n = full.size();
  // "]}" fits with one byte to spare; one byte less and it is skipped.
  EXPECT_EQ(Render(n + 1), full);
  EXPECT_EQ(Render(n), full.substr(0, n - 2));
  // The time misses, the status opening misses, the close still fits.
  EXPECT_EQ(Render(15), "{\"time\": ]}");
}

TEST_F(SnapshotTest, AnOverfullTableStaysInsideTheGivenSize) {
  std::string longest(127, '"');  // escapes to 254 characters each
  for (uint32_t i = 0; i < kStatusCount; ++i) {
    if (i != kUnnamed2) Set(i, longest.c_str(), 1700000000);
  }
  std::vector<char> buffer(kJsonBufferSize, '\x7f');
  GetJsonData(&ctx_, buffer.data(), kJsonRenderSize, 1700000000);
  const size_t length = strnlen(buffer.data(), kJsonRenderSize);
  EXPECT_LT(length, kJsonRenderSize);
  EXPECT_GT(length, kJsonRenderSize - 300);
  EXPECT_EQ(buffer[kJsonRenderSize], '\x7f');
  EXPECT_EQ(buffer[kJsonRenderSize + 1], '\x7f');
}

TEST(JsonWriteDecisionTest, WritesEveryFiveSecondsAndAfterTheClockStepsBack) {
  const int64_t t = 1700000000;
  struct Case {
    int64_t now, last_write, last_change;
    JsonWriteDecision expected;
  } cases[] = {
      {t + 4, t, t, JsonWriteDecision::kNotYet1},
      {t + 5, t, t, JsonWriteDecision::kWrite},
      {t, 0, 0, JsonWriteDecision::kWrite},                   // first pass after start
      {t - 100, t, t, JsonWriteDecision::kWrite},             // stepped back, nothing changed
      {t - 99, t, t - 100, JsonWriteDecision::kNotYet2},      // changed under the earlier clock
      {t + 29, t, t - 100, JsonWriteDecision::kNotYet2},
      {t + 30, t, t - 100, JsonWriteDecision::kWrite},        // held back at most 30 seconds
      {t + 6, t, t + 6, JsonWriteDecision::kWrite},
      {int64_t{1} << 32, 0, (int64_t{1} << 32) - 1, JsonWriteDecision::kWrite},  // past 2106
  };
  for (const Case& c : cases) {
    JsonWriteGaps gaps{};
    EXPECT_EQ(DecideJsonWrite(c.now, c.last_write, c.last_change, &gaps), c.expected)
        << c.now - t << " " << c.last_write << " " << c.last_change;
    EXPECT_EQ(gaps.sinceWrite, c.now - c.last_write);
    EXPECT_EQ(gaps.changeGap, c.last_change - c.last_write);
  }
}

class SnapshotWriterTest : public SnapshotTest {
 protected:
  void SetUp() override {
    SnapshotTest::SetUp();
    UseSnapshot(dir_ / "modemstatus.json");
  }
  void UseSnapshot(const std::string& path) {
    snprintf(ctx_.jsonFile, sizeof ctx_.jsonFile, "%s", path.c_str());
    InitJsonWriter(&writer_, &ctx_);
  }
  // Runs one pass per second from `from` to `to` and returns the times that wrote the file.
  std::vector<int64_t> PassesWriting(int64_t from, int64_t to) {
    std::vector<int64_t> written;
    for (int64_t now = from; now <= to; ++now) {
      if (SaveJsonPass(&writer_, now)) written.push_back(now);
    }
    return written;
  }

  TempDir dir_;
  JsonWriter writer_{};
};

TEST_F(SnapshotWriterTest, WritesAtOnceThenEveryFiveSeconds) {
  const int64_t t = 1700000000;
  Set(kSn_s, "SN", t - 10);
  EXPECT_EQ(PassesWriting(t, t + 11), (std::vector<int64_t>{t, t + 5, t + 10}));
  EXPECT_EQ(statusValues.lastChange, t + 10);
  EXPECT_EQ(writer_.lastWrite, t + 10);
  std::string doc = ReadFile(ctx_.jsonFile);
  EXPECT_EQ(doc.rfind("{\"time\": 1700000010,\"status\": [{\"name\":\"Sn_s\"", 0), 0u) << doc;
  EXPECT_TRUE(IsValidJson(doc));
  EXPECT_FALSE(FileExists(std::string(ctx_.jsonFile) + ".tmp"));
}

TEST_F(SnapshotWriterTest, ClockSteppingBack) {
  const int64_t t = 1700000000;
  EXPECT_EQ(PassesWriting(t, t), (std::vector<int64_t>{t}));
  // Back 100 seconds with nothing changed: written at once.
  EXPECT_EQ(PassesWriting(t - 100, t - 100), (std::vector<int64_t>{t - 100}));
  EXPECT_EQ(PassesWriting(t - 99, t - 94), (std::vector<int64_t>{t - 95}));
  // A value changes under the stepped-back clock before the writer has caught up: writes pause
  // until the clock is 30 seconds past the last write.
  Set(kSn_s, "changed", t - 200);
  EXPECT_EQ(PassesWriting(t - 94, t - 61), (std::vector<int64_t>{t - 65}));
}

TEST_F(SnapshotWriterTest, ChangeUnderTheSteppedBackClockHoldsWritesBack) {
  const int64_t t = 1700000000;
  // Held back until the clock is 30 seconds past the old write...
  EXPECT_EQ(PassesWriting(t, t), (std::vector<int64_t>{t}));
  statusValues.lastChange = t - 50;  // stamped while the clock read t - 50
  EXPECT_EQ(PassesWriting(t - 49, t + 32), (std::vector<int64_t>{t + 30}));
  // ...or until a change is stamped at or after it once five seconds have passed.
  InitJsonWriter(&writer_, &ctx_);
  EXPECT_EQ(PassesWriting(t, t), (std::vector<int64_t>{t}));
  statusValues.lastChange = t - 50;
  EXPECT_TRUE(PassesWriting(t - 49, t + 6).empty());
  statusValues.lastChange = t + 7;
  EXPECT_EQ(PassesWriting(t + 7, t + 7), (std::vector<int64_t>{t + 7}));
}

TEST_F(SnapshotWriterTest, MissingDirectoryReportsEverySecondAndChangesNothing) {
  UseSnapshot(dir_ / "missing/modemstatus.json");
  statusValues.lastChange = 1234;
  for (int64_t now = 1700000000; now < 1700000003; ++now) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveJsonPass(&writer_, now), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to write to JSON file '" + dir_.path() +
                  "/missing/modemstatus.json.tmp' (No such file or directory)\n");
  }
  EXPECT_EQ(writer_.lastWrite, 0);
  EXPECT_EQ(statusValues.lastChange, 1234);
}

TEST_F(SnapshotWriterTest, FailedRenameKeepsTheTemporaryFileAndRetries) {
  MakeDirs(dir_ / "modemstatus.json/occupied");  // a directory in the snapshot's place
  for (int64_t now = 1700000000; now < 1700000002; ++now) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveJsonPass(&writer_, now), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unable to rename " + dir_.path() + "/modemstatus.json.tmp to " + dir_.path() +
                  "/modemstatus.json: Is a directory\n");
  }
  EXPECT_EQ(writer_.lastWrite, 0);
  EXPECT_EQ(statusValues.lastChange, 0);
  EXPECT_TRUE(IsValidJson(ReadFile(dir_ / "modemstatus.json.tmp")));
}

TEST_F(SnapshotWriterTest, FailedWriteLeavesTheOldSnapshotInPlace) {
  WriteFile(ctx_.jsonFile, "{\"time\": 1,\"status\": []}");
  ASSERT_EQ(symlink("/dev/full", (dir_ / "modemstatus.json.tmp").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveJsonPass(&writer_, 1700000000), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to write to JSON file '" + dir_.path() +
                "/modemstatus.json.tmp' (No space left on device)\n");
  EXPECT_EQ(ReadFile(ctx_.jsonFile), "{\"time\": 1,\"status\": []}");
  EXPECT_EQ(writer_.lastWrite, 0);
}

TEST_F(SnapshotWriterTest, DebugLinesNameTheDecision) {
  ctx_.debug = 1;
  statusValues.lastChange = 1700000000;
  testing::internal::CaptureStdout();
  SaveJsonPass(&writer_, 1700000000);
  SaveJsonPass(&writer_, 1700000002);
  statusValues.lastChange = 1699999990;
  SaveJsonPass(&writer_, 1699999995);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " -- saveJson now: 1700000000 0 1700000000\n"
            " -- saveJson not yet 1: 2 2\n"
            " -- saveJson not yet 2: -5 -10\n");
}

TEST_F(SnapshotWriterTest, ThreadWritesSoonAfterStartAndStopsOnRequest) {
  Set(kSn_s, "SN", 0);
  stopRequested = 0;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, saveJson, &ctx_), 0);
  for (int i = 0; i < 40 && !FileExists(ctx_.jsonFile); ++i) usleep(50000);
  testing::internal::CaptureStdout();
  stopRequested = 1;
  pthread_join(thread, nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  stopRequested = 0;
  EXPECT_NE(out.find("Exit saveJson\n"), std::string::npos);
  std::string doc = ReadFile(ctx_.jsonFile);
  EXPECT_TRUE(IsValidJson(doc)) << doc;
  EXPECT_NE(doc.find("\"value\":\"SN\""), std::string::npos);
}

TEST_F(SnapshotTest, WatchdogWaitsForUptimeThenResetsAtEveryRender) {
  uptime = 180;
  Render();
  EXPECT_EQ(resets, 0);
  uptime = 181;
  Render();
  Render();
  EXPECT_EQ(resets, 2);  // armed: a usable reply keeps it resetting
  EXPECT_EQ(stopResets, 0);
  EXPECT_EQ(modemAnswered, 0);
}

TEST_F(SnapshotTest, WatchdogStopsForGoodAfterAResetWithoutUsableReply) {
  uptime = 500;
  reset_answer = 0;
  Render();
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(stopResets, 1);
  reset_answer = 1;
  Render();
  Render();
  EXPECT_EQ(resets, 1);
}

TEST_F(SnapshotTest, WatchdogNeverActsAgainOnceTheModemAnswered) {
  const uint32_t keys[] = {kModemSwVersion_s, kIMSI_s, kMCBV_s, kMCLBV_s,
                           kUeRssi_i,         kScMcc_i, kScRssi_i};
  for (uint32_t key : keys) {
    StatusInit();
    ResetModemWatchdog();
    resets = 0;
    uptime = 500;
    Set(key, "1", 1700000000);
    Render();
    EXPECT_EQ(modemAnswered, 1) << statusValues.entries[key].name;
    Set(key, "", 1700000001);  // the value goes away again
    Render();
    EXPECT_EQ(resets, 0) << statusValues.entries[key].name;
  }
  // Other values do not count as an answer.
  StatusInit();
  ResetModemWatchdog();
  Set(kIMEI_s, "1", 1700000000);
  Render();
  EXPECT_EQ(modemAnswered, 0);
  EXPECT_EQ(resets, 1);
}

}  // namespace
