// The daemon's start-up through the real binary in a temporary router root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/sim_router.h"
#include "tests/support/test_files.h"

namespace {

constexpr int kTimeoutMs = 10000;
const char kUsage[] =
    " [-f <file>] [-j file] [-c] [-i] [-l] [-d] [-p <seconds>]\n  VERSION 0.1\n";

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.WriteRouterFile("tmp/corvane/serialNumber", "ZR47-000123\n");
    sim_.WriteRouterFile("etc/corvane_build_info", "Target board: kx\nVersion: 4.2.1\n");
    sim_.WriteRouterFile("etc/config/zel",
                         "config status_gather 'status_gather'\n"
                         "\toption period '30'\n"
                         "\toption password 'hunter2'\n"
                         "\toption influx_token \"tok-123\"\n");
    sim_.WriteRouterFile("etc/config/zel_gpsd", "config gpsd\n\toption tid 'T-17'\n");
  }

  std::unique_ptr<DaemonProcess> Start(const std::vector<std::string>& args) {
    return std::make_unique<DaemonProcess>(sim_, args);
  }

  // Runs the daemon until it has printed `until`, then kills it; returns everything it printed.
  std::string RunUntil(const std::vector<std::string>& args, const std::string& until) {
    auto daemon = Start(args);
    EXPECT_TRUE(daemon->WaitForOutput(until, kTimeoutMs)) << daemon->Output();
    daemon->Signal(SIGKILL);
    daemon->Wait(kTimeoutMs);
    return daemon->Output();
  }

  std::string Socket() const { return sim_.Path("tmp/corvane/gps.socket"); }
  std::string PostState() const { return sim_.Path("tmp/corvane/post_state.json"); }

  SimRouter sim_;
};

bool IsSocket(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

TEST_F(StartupTest, HelpAsFirstArgumentPrintsUsageAndCreatesNothing) {
  for (const char* help : {"--help", "-h", "-?"}) {
    auto daemon = Start({help, "-d"});
    EXPECT_EQ(daemon->Wait(kTimeoutMs), 0) << help;
    EXPECT_EQ(daemon->Output(), std::string(MODEM_STATUSD_BIN) + kUsage) << help;
    EXPECT_FALSE(FileExists(Socket())) << help;
    EXPECT_FALSE(FileExists(PostState())) << help;
  }
}

TEST_F(StartupTest, UsageAfterOptionParsingFollowsSocketAndPostState) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-d", "-h"}, {"-x"}}) {
    auto daemon = Start(args);
    EXPECT_EQ(daemon->Wait(kTimeoutMs), 0) << args.back();
    const std::string out = daemon->Output();
    EXPECT_NE(out.find(std::string(MODEM_STATUSD_BIN) + kUsage), std::string::npos) << out;
    EXPECT_NE(out.find("GPS socket created: "), std::string::npos) << out;
    EXPECT_EQ(out.find("Daemon starting"), std::string::npos) << out;
    EXPECT_TRUE(IsSocket(Socket())) << args.back();
    EXPECT_TRUE(FileExists(PostState())) << args.back();
  }
}

// One run: the lookups (secrets masked), the options, the identity values on the console and in
// the snapshot, the post state without an Influx URL, a path of exactly 126 characters, and a
// clean stop on SIGINT.
TEST_F(StartupTest, StartsAndPublishesTheIdentity) {
  const std::string snapshot = sim_.Path("tmp/corvane/modemstatus.json");
  const std::string csv = sim_.root() + "/" + std::string(126 - sim_.root().size() - 1, 'a');
  auto daemon = Start({"-d", "-p", "0", "-c", "-f", csv, "-j", snapshot});
  ASSERT_TRUE(daemon->WaitForOutput("System Name:", kTimeoutMs)) << daemon->Output();
  EXPECT_TRUE(std::regex_match(ReadFile(PostState()),
                               std::regex(R"(\{"state": "Disabled", "time": \d{10,}\})")))
      << ReadFile(PostState());
  std::string json;
  for (int waited = 0; waited < kTimeoutMs; waited += 50) {
    json = ReadFile(snapshot);
    if (json.find("SystemName_s") != std::string::npos) break;
    usleep(50 * 1000);
  }
  EXPECT_EQ(daemon->Stop(kTimeoutMs), 0);
  const std::string out = daemon->Output();
  const std::string expected[] = {
      "Lookup for name: 'zel.status_gather.influx_url' failed\n",
      "Lookup for name: 'zel.status_gather.influx_token' = '********'\n",
      "Lookup for name: 'zel.status_gather.password' = '********'\n",
      "Lookup for name: 'zel.status_gather.period' = '30'\n",
      "Lookup for name: 'zel.status_gather.poll' failed\n",
      "Lookup for name: 'zel_gpsd.gpsd.tid' failed\n",
      "Lookup for name: 'zel_gpsd.@gpsd[0].tid' = 'T-17'\n",
      "Influx Period is: 0 seconds\n",
      "CSV Filename is: " + csv + "\n",
      "JSON filename is: " + snapshot + "\n",
      "Daemon starting\n",
      "Serial Number: 'ZR47-000123'\n",
      "Software Version: '4.2.1'\n",
      "Target Board: 'kx'\n",
      "System Name: 'KX-ZR47'\n",
      "Linux Version: '5.15.150'\n",
  };
  for (const std::string& line : expected) EXPECT_NE(out.find(line), std::string::npos) << line << out;
  EXPECT_EQ(out.find("hunter2"), std::string::npos);
  EXPECT_EQ(out.find("tok-123"), std::string::npos);
  // One line per configuration key in start-up (22 with the tid fallback, modem_access and
  // qmi_access).
  size_t lookups = 0;
  const size_t started = out.find("System Name:");
  for (size_t pos = 0; (pos = out.find("Lookup for name: ", pos)) < started; ++pos) ++lookups;
  EXPECT_EQ(lookups, 22u);
  EXPECT_EQ(sim_.CountCalls("uname -r"), 1);
  for (const char* entry : {R"("name":"Sn_s","value":"ZR47-000123")",
                            R"("name":"SwVersion_s","value":"4.2.1")",
                            R"("name":"SystemName_s","value":"KX-ZR47")"}) {
    EXPECT_NE(json.find(entry), std::string::npos) << entry << "\n" << json;
  }
}

// Also: with an Influx URL configured (and no -i) the post state starts as "Starting".
TEST_F(StartupTest, BindsAgainOverStaleSocketAndFile) {
  sim_.WriteRouterFile("etc/config/zel",
                       "config status_gather 'status_gather'\n\toption influx_url 'http://db:8086'\n");
  RunUntil({}, "System Name:");  // killed: leaves its socket behind
  EXPECT_TRUE(std::regex_match(ReadFile(PostState()),
                               std::regex(R"(\{"state": "Starting", "time": \d{10,}\})")))
      << ReadFile(PostState());
  ASSERT_TRUE(IsSocket(Socket()));
  EXPECT_NE(RunUntil({}, "System Name:").find("GPS socket created: "), std::string::npos);

  unlink(Socket().c_str());
  WriteFile(Socket(), "not a socket");
  EXPECT_NE(RunUntil({}, "System Name:").find("GPS socket created: "), std::string::npos);
  EXPECT_TRUE(IsSocket(Socket()));
}

TEST_F(StartupTest, SocketDirectoryMissingEndsWithStatus1) {
  ASSERT_EQ(rename(sim_.Path("tmp/corvane").c_str(), sim_.Path("tmp/elsewhere").c_str()), 0);
  auto daemon = Start({});
  EXPECT_EQ(daemon->Wait(kTimeoutMs), 1);
  const std::string out = daemon->Output();
  EXPECT_NE(out.find("Failed to open post status: No such file or directory\n"), std::string::npos);
  EXPECT_NE(out.find("Could not bind GPS socket\n"), std::string::npos) << out;
}

TEST_F(StartupTest, PathArgumentsLongerThan126CharactersAreRefused) {
  const std::string too_long = sim_.root() + "/" + std::string(126 - sim_.root().size(), 'a');
  for (const char* option : {"-f", "-j"}) {
    auto daemon = Start({option, too_long});
    EXPECT_EQ(daemon->Wait(kTimeoutMs), 1) << option;
    const std::string out = daemon->Output();
    EXPECT_NE(out.find(std::string("Path of ") + option + " is longer than 126 characters: " + too_long),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Daemon starting"), std::string::npos) << out;
  }
}

}  // namespace
