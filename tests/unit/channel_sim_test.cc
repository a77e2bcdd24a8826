// The command channel against the simulated router's clients: the whole road from argument vector
// to reply text, and the time limits against clients that hang.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/paths.h"
#include "modem/channel.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "tests/support/fake_board.h"
#include "tests/support/sim_router.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

namespace {

// One simulated root for the suite (laying it out takes a while); each test picks its scenario.
class ChannelSimTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared_sim_ = new SimRouter(); }
  static void TearDownTestSuite() {
    delete shared_sim_;
    shared_sim_ = nullptr;
  }
  void SetUp() override {
    sim_.SetScenario("default");
    sim_.ClearCalls();
    setenv("MODEM_STATUS_ROOT", sim_.root().c_str(), 1);
    ReloadPathRoot();
    modem_.modemIndex = -1;
    modem_.cmdTotalMs = 2000;
    snprintf(modem_.qmiDevice, sizeof modem_.qmiDevice, "/dev/cdc-wdm0");
  }
  void TearDown() override {
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }

  static SimRouter* shared_sim_;
  SimRouter& sim_ = *shared_sim_;
  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
};

SimRouter* ChannelSimTest::shared_sim_ = nullptr;

// True when some process runs with `text` in its command line.
bool ProcessWithCommandLine(const std::string& text) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (struct dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::string cmdline = ReadFile(std::string("/proc/") + entry->d_name + "/cmdline");
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    if (cmdline.find(text) != std::string::npos) found = true;
  }
  closedir(proc);
  return found;
}

int64_t MsSince(std::chrono::steady_clock::time_point begin) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               begin)
      .count();
}

TEST_F(ChannelSimTest, ModemComesBackUnderANewIndexAfterReset) {
  sim_.SetScenario("reset-new-index");
  ASSERT_EQ(1, FindModem(ctx_));
  EXPECT_EQ(MmAnswer::kAnswered, ResetModem(ctx_));  // "successfully reseted the modem"
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, FindModem(ctx_));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(1, modem_.modemIndex);
  EXPECT_NE(std::string::npos, out.find("mmcli_GetIdx found modem 1 index: 1\n"));
}

TEST_F(ChannelSimTest, HangingClientIsCutAtTheCommandLimit) {
  sim_.SetScenario("hang");
  modem_.modemIndex = 0;
  modem_.cmdTotalMs = 300;
  AtReply reply{};
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(MmAnswer::kNone, SendAtCommand(ctx_, "AT+CSQ", &reply));
  EXPECT_LT(MsSince(begin), 300 + 300);
  EXPECT_STREQ("", reply.text);
  errno = 0;
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
  // Nothing of the client is left running.
  EXPECT_FALSE(ProcessWithCommandLine(sim_.root() + "/"));
}

}  // namespace
