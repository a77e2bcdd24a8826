#include "exec/router_board.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/stop_event.h"
#include "tests/support/test_files.h"

namespace {

// A folder of recording `gpio` and `i2cset` tools put first on PATH for the test's lifetime. Each
// call logs its name, its arguments and whether the daemon's process started it itself.
class ToolsOnPath : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"gpio", "i2cset"}) {
      WriteTool(tool, std::string("#!/bin/sh\n"
                                  "[ \"$PPID\" = \"$EXPECTED_PARENT\" ] && how=direct || how=shell\n"
                                  "echo \"") +
                          tool + " $* ($how)\" >> \"" + (dir_ / "calls.log") + "\"\n" +
                          "[ \"$1\" != fail ]\n");
    }
    const char* path = getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    setenv("PATH", (dir_.path() + ":" + saved_path_).c_str(), 1);
    setenv("EXPECTED_PARENT", std::to_string(getpid()).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    unsetenv("EXPECTED_PARENT");
  }
  void WriteTool(const std::string& name, const std::string& script) {
    WriteFile(dir_ / name, script);
    ASSERT_EQ(0, chmod((dir_ / name).c_str(), 0755));
  }
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(dir_ / "calls.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempDir dir_;
  std::string saved_path_;
};

// The router's commands, started directly (the tool's parent is this process), with the LED that
// goes dark switched first.
TEST_F(ToolsOnPath, RunsTheRouterCommandsDirectly) {
  RouterBoard board(nullptr);
  EXPECT_TRUE(board.SetHpueLeds(false));
  EXPECT_TRUE(board.SetHpueLeds(true));
  EXPECT_TRUE(board.SetFixRegister(true));
  EXPECT_TRUE(board.SetFixRegister(false));
  EXPECT_EQ((std::vector<std::string>{
                "gpio led hpue_blue off (direct)", "gpio led hpue_green on (direct)",
                "gpio led hpue_green off (direct)", "gpio led hpue_blue on (direct)",
                "i2cset -y 0 0x50 0x40 2 (direct)", "i2cset -y 0 0x50 0x40 0 (direct)"}),
            Calls());
  EXPECT_STREQ("wwan0", board.WwanInterface());
  EXPECT_STREQ("lan1", board.LanInterface());
}

// A tool that fails, prints, hangs or is missing: the switch reports false, what the tool printed
// reaches the console, a hanging one is ended at the limit, and a missing one found later is used.
TEST_F(ToolsOnPath, FailingHangingAndMissingTools) {
  WriteTool("gpio", "#!/bin/sh\necho 'no such led' >&2\nexit 1\n");
  WriteTool("i2cset", "#!/bin/sh\nexec sleep 30\n");
  RouterBoard board(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(board.SetHpueLeds(true));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(board.SetFixRegister(true));
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ("no such led\nno such led\ni2cset did not end within 2000 ms\n", err);
  EXPECT_GE(elapsed, RouterBoard::kToolLimitMs - 10);
  EXPECT_LT(elapsed, RouterBoard::kToolLimitMs + 1000);

  setenv("PATH", "/nonexistent", 1);
  RouterBoard missing(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(missing.SetFixRegister(false));
  EXPECT_EQ("i2cset not found on PATH\n", testing::internal::GetCapturedStderr());
  WriteTool("i2cset", "#!/bin/sh\nexit 0\n");
  setenv("PATH", dir_.path().c_str(), 1);
  EXPECT_TRUE(missing.SetFixRegister(false));
}

// A stop request ends a running tool at once, and no tool starts after it.
TEST_F(ToolsOnPath, StopEventEndsToolRuns) {
  StopEvent stop;
  RouterBoard board(&stop);
  EXPECT_TRUE(board.SetFixRegister(true));  // the recording i2cset, before the stop
  WriteTool("gpio", "#!/bin/sh\nexec sleep 30\n");
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.Signal();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(board.SetHpueLeds(false));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
  EXPECT_FALSE(board.SetFixRegister(false));
  EXPECT_EQ((std::vector<std::string>{"i2cset -y 0 0x50 0x40 2 (direct)"}), Calls());
}

TEST(FindOnPathTest, LooksUpLikeTheShell) {
  TempDir dir;
  WriteFile(dir / "a/tool", "#!/bin/sh\n");
  chmod((dir / "a/tool").c_str(), 0644);  // not executable: skipped
  MakeDirs(dir / "b/tool");               // a folder: skipped
  WriteFile(dir / "c/tool", "#!/bin/sh\n");
  chmod((dir / "c/tool").c_str(), 0755);
  WriteFile(dir / "d/tool", "#!/bin/sh\n");
  chmod((dir / "d/tool").c_str(), 0755);
  const std::string a = dir / "a", b = dir / "b", c = dir / "c", d = dir / "d";
  struct Case {
    std::string path_list;
    size_t size;
    std::string found;  // "" when not found
  };
  const Case cases[] = {
      {a + ":" + b + ":" + c + ":" + d, 256, c + "/tool"},
      {d + ":" + c, 256, d + "/tool"},
      {"/nonexistent::" + c, 256, c + "/tool"},  // the empty entry is the current folder
      {a + ":" + b, 256, ""},
      {"", 256, ""},
      {c, c.size() + 5, ""},  // no room for the terminator
      {c, c.size() + 6, c + "/tool"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.path_list);
    std::vector<char> found(t.size, '#');
    EXPECT_EQ(!t.found.empty(), FindOnPath(t.path_list.c_str(), "tool", found.data(), t.size));
    EXPECT_EQ(t.found, std::string(found.data()));
  }
  char found[256];
  EXPECT_TRUE(FindOnPath(nullptr, "sh", found, sizeof found));  // no PATH: the shell's default
}

}  // namespace
