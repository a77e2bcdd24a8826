// The snapshot render, the bounded append, the writer's decision and passes with a chosen clock,
// and the step the writer runs after a render.
#include "report/json_snapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/signals.h"
#include "status/status_table.h"
#include "tests/support/json_validator.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"

namespace {

int64_t table_now = 1700000000;
int64_t TableNow() { return table_now; }

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override { table_now = 1700000000; }

  std::string Render(size_t size = kJsonRenderSize, int64_t now = 1700000000) {
    std::vector<char> buffer(kJsonBufferSize, '\0');
    GetJsonData(SnapshotOf(table_), buffer.data(), size, now);
    return buffer.data();
  }

  void Set(uint32_t index, const char* text, int64_t at) {
    table_now = at;
    table_.Update(index, text, 0);
  }

  StatusTable table_{TableNow};
};

TEST_F(SnapshotTest, EntriesInIndexOrderExpiredOnesKeptEmptyOnesLeftOut) {
  Set(kUeRssi_i, "-71", 1700000100);
  Set(kSn_s, "SN123", 4102444800);  // after 2038: every digit kept
  Set(kIMEI_s, "x", 1700000060);
  Set(kIMEI_s, "", 1700000070);  // emptied again: left out
  table_.Expire(StatusKind::kLink);  // UeRssi_i is link-dependent
  EXPECT_EQ(Render(kJsonRenderSize, 4102444805),
            "{\"time\": 4102444805,\"status\": ["
            "{\"name\":\"Sn_s\",\"value\":\"SN123\",\"lastChange\":\"4102444800\","
            "\"lastUpdate\":\"4102444800\"},"
            "{\"name\":\"UeRssi_i\",\"value\":\"-71\",\"lastChange\":\"1700000100\","
            "\"lastUpdate\":\"-1\"}]}");
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
  // The empty table; "]}" fits with one byte to spare; one byte less and it is skipped.
  EXPECT_EQ(Render(), full);
  EXPECT_EQ(Render(n + 1), full);
  EXPECT_EQ(Render(n), full.substr(0, n - 2));
  // The time misses, the status opening misses, the close still fits.
  EXPECT_EQ(Render(15), "{\"time\": ]}");
}

// At its largest (every entry escape-heavy) the document stays inside the given size and valid:
// the entries that do not fit are left out whole and the first of them is named.
TEST_F(SnapshotTest, AnOverfullTableStaysInsideTheGivenSizeAndValid) {
  for (const char unit : {'"', '\x1b'}) {  // 2 and 6 characters escaped
    SCOPED_TRACE(static_cast<int>(unit));
    const std::string longest(127, unit);
    for (uint32_t i = 0; i < kStatusCount; ++i) {
      if (i != kUnnamed2) Set(i, longest.c_str(), 1700000000);
    }
    std::vector<char> buffer(kJsonBufferSize, '\x7f');
    const int left_out =
        GetJsonData(SnapshotOf(table_), buffer.data(), kJsonRenderSize, 1700000000);
    const size_t length = strnlen(buffer.data(), kJsonRenderSize);
    EXPECT_LT(length, kJsonRenderSize);
    EXPECT_GT(length, kJsonRenderSize - 800);
    EXPECT_EQ(buffer[kJsonRenderSize], '\x7f');
    EXPECT_EQ(buffer[kJsonRenderSize + 1], '\x7f');
    const std::string doc(buffer.data(), length);
    std::string error;
    EXPECT_TRUE(IsValidJson(doc, &error)) << error;
    ASSERT_GT(left_out, 0);
    const std::string first_out = EntryOf(table_, left_out).name;
    EXPECT_EQ(doc.find("\"name\":\"" + first_out + "\""), std::string::npos);
    EXPECT_NE(doc.find(std::string("\"name\":\"") + EntryOf(table_, left_out - 1).name),
              std::string::npos);
  }
}

TEST(JsonWriteDecisionTest, WritesEveryFiveSecondsAndAfterTheClockStepsBack) {
  const int64_t t = 1700000000;
  struct Case {
    int64_t now, last_write, last_change;
    JsonWriteDecision expected;
  } cases[] = {
      {t + 4, t, t, JsonWriteDecision::kTooSoon},
      {t + 5, t, t, JsonWriteDecision::kWrite},
      {t, 0, 0, JsonWriteDecision::kWrite},                   // first pass after start
      {t - 100, t, t, JsonWriteDecision::kWrite},             // stepped back, nothing changed
      {t - 99, t, t - 100, JsonWriteDecision::kClockBehind},      // changed under the earlier clock
      {t + 29, t, t - 100, JsonWriteDecision::kClockBehind},
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
    path_ = path;
    InitJsonWriter(&writer_, &table_, path_.c_str(), false);
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
  std::string path_;
  JsonWriter writer_{};
};

TEST_F(SnapshotWriterTest, WritesAtOnceThenEveryFiveSeconds) {
  const int64_t t = 1700000000;
  Set(kSn_s, "SN", t - 10);
  EXPECT_EQ(PassesWriting(t, t + 11), (std::vector<int64_t>{t, t + 5, t + 10}));
  EXPECT_EQ(writer_.lastWrite, t + 10);
  EXPECT_EQ(SnapshotOf(table_).lastChange, t - 10);  // the writer leaves the table alone
  std::string doc = ReadFile(path_);
  EXPECT_EQ(doc.rfind("{\"time\": 1700000010,\"status\": [{\"name\":\"Sn_s\"", 0), 0u) << doc;
  EXPECT_TRUE(IsValidJson(doc));
  EXPECT_FALSE(FileExists(std::string(path_) + ".tmp"));
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

// A pass that cannot publish reports why on every attempt, leaves the old snapshot in place, no
// temporary file behind, and changes neither the last write nor the last change: a missing folder,
// a directory in the snapshot's place (the rename fails), a file size limit (a full device).
TEST_F(SnapshotWriterTest, FailedPassesReportAndChangeNothing) {
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    TempDir dir;
    std::string snapshot = dir / "modemstatus.json", pattern;
    if (fault == 0) {
      snapshot = dir / "missing/modemstatus.json";
      pattern = "Failed to write to JSON file '" + snapshot + ".tmp-[A-Za-z0-9]{6}' \\(No such file or directory\\)\n";
    } else if (fault == 1) {
      MakeDirs(snapshot + "/occupied");
      pattern = "Unable to rename " + snapshot + ".tmp-[A-Za-z0-9]{6} to " + snapshot + ": Is a directory\n";
    } else {
      WriteFile(snapshot, "{\"time\": 1,\"status\": []}");
      pattern = "Failed to write to JSON file '" + snapshot + ".tmp-[A-Za-z0-9]{6}' \\(File too large\\)\n";
    }
    UseSnapshot(snapshot);
    const std::string before = fault == 0 ? "" : ReadFile(snapshot);
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (fault == 2) {  // a render larger than the limit; the captured messages stay below it
      for (int i = 0; i < 60; ++i) Set(static_cast<uint32_t>(i), std::string(100, 'v').c_str(), 0);
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit small = saved;
      small.rlim_cur = 4096;
      setrlimit(RLIMIT_FSIZE, &small);
    }
    Set(kIMEI_s, std::to_string(fault).c_str(), 1234);
    for (int64_t now = 1700000000; now < 1700000002; ++now) {
      testing::internal::CaptureStderr();
      EXPECT_EQ(SaveJsonPass(&writer_, now), 0);
      EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::MatchesRegex(pattern));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(writer_.lastWrite, 0);
    EXPECT_EQ(writer_.changesWritten, 0u);
    if (fault != 0) {
      EXPECT_EQ(ReadFile(snapshot), before);
      EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"modemstatus.json"});
    }
  }
}

// The notice of entries left out comes once while the table stays too large, and again after a
// render that fit.
TEST_F(SnapshotWriterTest, LeftOutEntriesAreNamedOncePerRun) {
  const std::string longest(127, '\x1b');
  std::string notices;
  for (int pass = 0; pass < 4; ++pass) {
    for (uint32_t i = 0; i < kStatusCount; ++i) {
      if (i != kUnnamed2) Set(i, pass == 2 ? "short" : longest.c_str(), 1700000000 + 10 * pass);
    }
    ResetLogRepeat();  // the log's own repeat check is not what is tested here
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveJsonPass(&writer_, 1700000000 + 10 * pass), 1);
    notices += testing::internal::GetCapturedStderr();
    EXPECT_TRUE(IsValidJson(ReadFile(path_)));
  }
  const std::string notice = "JSON snapshot too large: entries left out, the first is ";
  EXPECT_THAT(notices, testing::MatchesRegex("(" + notice + "[A-Za-z0-9_]+\n){2}"));
}

// A pass that renders runs the after-render step once, without the table's lock (another thread
// can write meanwhile); a pass that does not render runs nothing.
TEST_F(SnapshotWriterTest, PassesThatRenderRunTheAfterRenderStep) {
  struct Seen {
    StatusTable* table;
    int runs;
    int lockedDuringStep;
  } seen{&table_, 0, 0};
  writer_.afterRender = [](void* owner) {
    auto* s = static_cast<Seen*>(owner);
    ++s->runs;
    std::promise<void> written;
    std::future<void> done = written.get_future();
    std::thread writer([s, &written] {
      s->table->UpdateInt(kCpuIdle_i, s->runs);
      written.set_value();
    });
    if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready) {
      writer.join();
    } else {
      ++s->lockedDuringStep;
      writer.detach();
    }
  };
  writer_.afterRenderOwner = &seen;
  const int64_t t = 1700000000;
  EXPECT_EQ(PassesWriting(t, t + 6), (std::vector<int64_t>{t, t + 5}));
  EXPECT_EQ(seen.runs, 2);
  EXPECT_EQ(seen.lockedDuringStep, 0);
}

TEST_F(SnapshotWriterTest, ThreadWritesSoonAfterStartAndStopsOnRequest) {
  Set(kSn_s, "SN", 0);
  stopRequested = 0;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, RunJsonWriterThread, &writer_), 0);
  for (int i = 0; i < 40 && !FileExists(path_); ++i) usleep(50000);
  testing::internal::CaptureStdout();
  stopRequested = 1;
  pthread_join(thread, nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  stopRequested = 0;
  EXPECT_NE(out.find("Exit saveJson\n"), std::string::npos);
  std::string doc = ReadFile(path_);
  EXPECT_TRUE(IsValidJson(doc)) << doc;
  EXPECT_NE(doc.find("\"value\":\"SN\""), std::string::npos);
}

}  // namespace
