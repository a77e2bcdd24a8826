// The snapshot against the simulated router: the watchdog's resets answered by the fake
// ModemManager client, and the daemon publishing a snapshot that the CGI serves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/paths.h"
#include "modem/channel.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/modem_watchdog.h"
#include "report/json_snapshot.h"
#include "status/status_table.h"
#include "tests/support/csv_fields.h"
#include "tests/support/fake_board.h"
#include "tests/support/json_validator.h"
#include "tests/support/sim_router.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

namespace {

int32_t sim_uptime = 600;
int32_t SimUptime() { return sim_uptime; }

class WatchdogSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", sim_.root().c_str(), 1);
    ReloadPathRoot();
    watchdog_ = ModemWatchdog{ResetModem, SimUptime, false, false, false, 0};
    sim_uptime = 600;
    modem_.modemIndex = 0;
    modem_.lifeSigns = ModemLifeSigns{};
    modem_.lifeSigns.NoteAsked();  // a whole pass has asked the modem
    modem_.cmdTotalMs = 2000;
    sim_.ClearCalls();
  }
  void TearDown() override {
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  // A render and the watchdog step after it, as the snapshot writer runs them.
  void Render() {
    std::vector<char> buffer(kJsonBufferSize, '\0');
    GetJsonData(SnapshotOf(table_), buffer.data(), kJsonRenderSize, 1700000000);
    RunModemWatchdog(&watchdog_, ctx_);
  }
  int Resets() const { return sim_.CountCalls("mmcli -m 0 -r"); }

  SimRouter sim_;
  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
  ModemWatchdog watchdog_{};
};

// The resets the watchdog makes, by uptime: an accepted reset waits 180 s for the next one;
// ModemManager's refusal (also from a modem gone after a first reset) stops it for good; a modem
// value seen once stops it for good.
TEST_F(WatchdogSimTest, ResetsAreSpacedAndStopOnRefusalOrAnswer) {
  struct Case {
    const char* scenario;
    std::vector<int32_t> uptimes;  // one render at each
    std::vector<int> resets;       // -r calls after each render
    int stopped;
  } cases[] = {
      {"default", {100, 181, 186, 360, 361, 400, 541}, {0, 1, 1, 1, 2, 2, 3}, 0},
      {"reset-fails", {181, 186, 1000, 5000}, {1, 1, 1, 1}, 1},
      {"reset-modem-gone", {181, 186, 361, 541, 5000}, {1, 1, 2, 2, 2}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    SetUp();
    sim_.SetScenario(c.scenario);
    std::vector<int> resets;
    for (int32_t uptime : c.uptimes) {
      sim_uptime = uptime;
      Render();
      resets.push_back(Resets());
    }
    EXPECT_EQ(resets, c.resets);
    EXPECT_EQ(static_cast<int>(watchdog_.stopped), c.stopped);
  }
  SetUp();
  sim_.SetScenario("default");
  Render();
  table_.UpdateInt(kScRssi_i, -65);
  sim_uptime = 5000;
  Render();
  EXPECT_EQ(Resets(), 1);
  EXPECT_TRUE(watchdog_.answered);
}

TEST_F(WatchdogSimTest, StopsForGoodWhenTheResetGivesNoUsableReply) {
  sim_.WriteRouterFile("sim/scenarios/reset-silent/parent", "default\n");
  sim_.WriteRouterFile("sim/scenarios/reset-silent/mmcli_-m_@_-r.out", "short\n");
  sim_.SetScenario("reset-silent");
  Render();
  EXPECT_EQ(Resets(), 1);
  EXPECT_TRUE(watchdog_.stopped);
  sim_.SetScenario("default");
  Render();
  EXPECT_EQ(Resets(), 1);
  EXPECT_FALSE(watchdog_.answered);
}

TEST_F(WatchdogSimTest, ModemIndexTooLargeStopsWithoutCallingTheClient) {
  modem_.modemIndex = 1000;
  testing::internal::CaptureStderr();
  Render();
  Render();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "modem_Send error: Modem index too large! - 1000\n");
  EXPECT_EQ(sim_.CountCalls("-r"), 0);
  EXPECT_TRUE(watchdog_.stopped);
}

// The daemon polling the simulator publishes the CSV file (header line only in the first file of
// the run) and the snapshot, which the CGI serves; every request it made had an answer.
TEST(SnapshotDaemonTest, PublishesSnapshotAndCsvWhilePollingTheSimulator) {
  SimRouter sim;
  const std::string snapshot = sim.Path("tmp/corvane/modemstatus.json");
  const std::string csv = sim.Path("tmp/status.csv");
  DaemonProcess daemon(sim, {"-j", snapshot, "-f", csv});
  // Waits for `text` in the file; `inode` receives the inode the content was read from.
  auto wait_for = [](const std::string& path, const std::string& text, ino_t* inode) {
    std::string content;
    for (int i = 0; i < 200 && content.find(text) == std::string::npos; ++i) {
      if (i > 0) usleep(50000);
      content.clear();
      FILE* file = fopen(path.c_str(), "re");
      if (file == nullptr) continue;
      struct stat info {};
      if (inode != nullptr && fstat(fileno(file), &info) == 0) *inode = info.st_ino;
      char chunk[4096];
      for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, n);
      fclose(file);
    }
    return content;
  };
  ino_t first_inode = 0, second_inode = 0;
  std::string first = wait_for(csv, "id=0i", &first_inode);
  ASSERT_EQ(first.rfind("Cprint,Sn_s,,HwVersion_s,", 0), 0u) << first << daemon.Output();
  size_t line_end = first.find('\n');
  EXPECT_EQ(SplitCsv(first.substr(0, line_end)).size(), 98u);
  std::string record = first.substr(line_end + 1);
  ASSERT_FALSE(record.empty());
  EXPECT_EQ(record.back(), '\n');
  std::vector<std::string> fields = SplitCsv(record.substr(0, record.size() - 1));
  ASSERT_EQ(fields.size(), 98u) << record;
  EXPECT_EQ(fields[0].rfind("id=0i", 0), 0u);
  EXPECT_FALSE(fields[kUeRssi_i].empty()) << record;
  // No header after the first record; each record replaces the file whole, so readers never see
  // it emptied or half written.
  EXPECT_EQ(wait_for(csv, "id=1i", &second_inode).rfind("id=1i", 0), 0u);
  EXPECT_NE(first_inode, second_inode);
  EXPECT_NE(0, access((csv + ".tmp").c_str(), F_OK));

  std::string doc = wait_for(snapshot, "UeRssi_i", nullptr);
  std::string error;
  EXPECT_TRUE(IsValidJson(doc, &error)) << error << "\n" << doc;
  EXPECT_EQ(doc.rfind("{\"time\": ", 0), 0u) << doc;
  EXPECT_NE(doc.find("{\"name\":\"UeRssi_i\",\"value\":\"" + fields[kUeRssi_i] + "\""),
            std::string::npos)
      << doc;
  EXPECT_FALSE(FileExists(snapshot + ".tmp"));

  ProgramResult cgi = RunProgram({MODEM_STATUS_API_BIN}, {"MODEM_STATUS_ROOT=" + sim.root()});
  EXPECT_EQ(cgi.status, 0);
  const std::string header =
      "Access-Control-Allow-Origin: *\nContent-type: application/json\nCache-Control: no-cache\n\n";
  ASSERT_EQ(cgi.out.rfind(header, 0), 0u) << cgi.out;
  EXPECT_TRUE(IsValidJson(cgi.out.substr(header.size()))) << cgi.out;
  EXPECT_NE(cgi.out.find("{\"name\":\"Sn_s\",\"value\":\""), std::string::npos) << cgi.out;

  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_NE(daemon.Output().find("Exit saveJson\n"), std::string::npos);
  EXPECT_TRUE(sim.UnknownCalls().empty());
}

}  // namespace
