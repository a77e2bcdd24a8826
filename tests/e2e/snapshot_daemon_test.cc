// The snapshot against the simulated router: the watchdog's resets answered by the fake
// ModemManager client, and the daemon publishing a snapshot that the CGI serves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "daemon/context.h"
#include "daemon/paths.h"
#include "report/json_snapshot.h"
#include "report/modem_watchdog.h"
#include "status/status_table.h"
#include "tests/support/json_validator.h"
#include "tests/support/sim_router.h"

namespace {

int32_t LongUptime() { return 600; }

class WatchdogSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", sim_.root().c_str(), 1);
    ReloadPathRoot();
    StatusInit();
    ResetModemWatchdog();
    SetModemWatchdogHooks(nullptr, LongUptime);  // the real modem_Reset
    ctx_.statusTable = &statusValues;
    ctx_.modemIndex = 0;
    ctx_.cmdTotalMs = 2000;
    ctx_.cmdIdleMs = 100;
    sim_.ClearCalls();
  }
  void TearDown() override {
    SetModemWatchdogHooks(nullptr, nullptr);
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  void Render() {
    std::vector<char> buffer(kJsonBufferSize, '\0');
    StatusLock();
    GetJsonData(&ctx_, buffer.data(), kJsonRenderSize, 1700000000);
    StatusUnlock();
  }
  int Resets() const { return sim_.CountCalls("mmcli -m 0 -r"); }

  SimRouter sim_;
  GatherContext ctx_{};
};

TEST_F(WatchdogSimTest, ArmedWhileResetsAreAnsweredThenAnsweredForGood) {
  Render();
  Render();
  EXPECT_EQ(Resets(), 2);
  EXPECT_EQ(stopResets, 0);
  UpdateVariableStatus_i(&ctx_, kScRssi_i, -65);
  Render();
  Render();
  EXPECT_EQ(Resets(), 2);
  EXPECT_EQ(modemAnswered, 1);
}

TEST_F(WatchdogSimTest, AnErrorReplyCountsAsAnAnswerAndTheResetIsRepeated) {
  sim_.SetScenario("reset-fails");  // ModemManager's error text is a usable reply
  Render();
  Render();
  EXPECT_EQ(Resets(), 2);
  EXPECT_EQ(stopResets, 0);
}

TEST_F(WatchdogSimTest, StopsForGoodWhenTheResetGivesNoUsableReply) {
  sim_.WriteRouterFile("sim/scenarios/reset-silent/parent", "default\n");
  sim_.WriteRouterFile("sim/scenarios/reset-silent/mmcli_-m_@_-r.out", "short\n");
  sim_.SetScenario("reset-silent");
  Render();
  EXPECT_EQ(Resets(), 1);
  EXPECT_EQ(stopResets, 1);
  sim_.SetScenario("default");
  Render();
  EXPECT_EQ(Resets(), 1);
  EXPECT_EQ(modemAnswered, 0);
}

TEST_F(WatchdogSimTest, ModemIndexTooLargeStopsWithoutCallingTheClient) {
  ctx_.modemIndex = 1000;
  testing::internal::CaptureStderr();
  Render();
  Render();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "modem_Send error: Modem index too large! - 1000\n");
  EXPECT_EQ(sim_.CountCalls("-r"), 0);
  EXPECT_EQ(stopResets, 1);
}

TEST(SnapshotDaemonTest, DaemonPublishesTheSnapshotAndTheCgiServesIt) {
  SimRouter sim;
  // The simulated router ships with the status API enabled.
  ASSERT_NE(sim.ReadRouterFile("etc/config/zel").find("option status 'enabled'"),
            std::string::npos);

  const std::string snapshot = sim.Path("tmp/corvane/modemstatus.json");
  DaemonProcess daemon(sim, {"-j", snapshot, "-d"});
  ASSERT_TRUE(daemon.WaitForOutput(" -- saveJson now:", 10000)) << daemon.Output();
  std::string doc;
  for (int i = 0; i < 100 && doc.empty(); ++i) {
    doc = ReadFile(snapshot);
    if (doc.empty()) usleep(20000);
  }
  std::string error;
  EXPECT_TRUE(IsValidJson(doc, &error)) << error << "\n" << doc;
  EXPECT_EQ(doc.rfind("{\"time\": ", 0), 0u) << doc;
  EXPECT_NE(doc.find("{\"name\":\"Sn_s\",\"value\":\""), std::string::npos) << doc;
  EXPECT_FALSE(FileExists(snapshot + ".tmp"));

  ProgramResult cgi = RunProgram({MODEM_STATUS_API_BIN}, {"MODEM_STATUS_ROOT=" + sim.root()});
  EXPECT_EQ(cgi.status, 0);
  const std::string header =
      "Access-Control-Allow-Origin: *\nContent-type: application/json\nCache-Control: no-cache\n\n";
  ASSERT_EQ(cgi.out.rfind(header, 0), 0u) << cgi.out;
  std::string served = cgi.out.substr(header.size());
  EXPECT_TRUE(IsValidJson(served)) << served;
  EXPECT_NE(served.find("\"name\":\"Sn_s\""), std::string::npos) << served;
  EXPECT_EQ(daemon.Stop(), 0);
}

// Fields of one CSV line (RFC 4180 quoting undone).
std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The content of `path` and the inode it was read from (one open, so the two belong together).
std::string ReadFileAndInode(const std::string& path, ino_t* inode) {
  std::string text;
  FILE* file = fopen(path.c_str(), "re");
  if (file == nullptr) return text;
  struct stat info {};
  if (fstat(fileno(file), &info) == 0) *inode = info.st_ino;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
  fclose(file);
  return text;
}

TEST(SnapshotDaemonTest, PublishesSnapshotAndCsvWhilePollingTheSimulator) {
  SimRouter sim;
  const std::string snapshot = sim.Path("tmp/corvane/modemstatus.json");
  const std::string csv = sim.Path("tmp/status.csv");
  DaemonProcess daemon(sim, {"-j", snapshot, "-f", csv});
  // The first file of a run holds the header line; the loop rewrites it after every full pass.
  std::string first;
  ino_t first_inode = 0;
  for (int i = 0; i < 200 && first.find("id=0i") == std::string::npos; ++i) {
    usleep(50000);
    first = ReadFileAndInode(csv, &first_inode);
  }
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

  std::string second;
  ino_t second_inode = 0;
  for (int i = 0; i < 200 && second.find("id=1i") == std::string::npos; ++i) {
    usleep(50000);
    second = ReadFileAndInode(csv, &second_inode);
  }
  EXPECT_EQ(second.rfind("id=1i", 0), 0u) << second;  // no header after the first record
  // Readers never see the file emptied or half written: each record replaces it whole.
  EXPECT_NE(first_inode, second_inode);
  EXPECT_NE(0, access((csv + ".tmp").c_str(), F_OK));

  std::string doc = ReadFile(snapshot);
  for (int i = 0; i < 200 && doc.find("UeRssi_i") == std::string::npos; ++i) {
    usleep(50000);
    doc = ReadFile(snapshot);
  }
  std::string error;
  EXPECT_TRUE(IsValidJson(doc, &error)) << error << "\n" << doc;
  EXPECT_NE(doc.find("{\"name\":\"UeRssi_i\",\"value\":\"" + fields[kUeRssi_i] + "\""),
            std::string::npos)
      << doc;
  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_NE(daemon.Output().find("Exit saveJson\n"), std::string::npos);
}

}  // namespace
