#include "exec/shell_command.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

void TestHandler(int) {}

TEST(ShellCommandTest, ReturnsTheWaitStatus) {
  const int status = RunShellCommand("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(3, WEXITSTATUS(status));
}

// system() ignores SIGINT process-wide while its child runs, so a stop request sent meanwhile
// would be lost; the daemon's handler must stay in place.
TEST(ShellCommandTest, LeavesTheInterruptHandlerInPlaceWhileRunning) {
  struct sigaction ours {}, previous {};
  ours.sa_handler = TestHandler;
  sigemptyset(&ours.sa_mask);
  ASSERT_EQ(0, sigaction(SIGINT, &ours, &previous));

  std::atomic<bool> done{false};
  std::thread runner([&] {
    RunShellCommand("sleep 0.3");
    done = true;
  });
  int samples = 0;
  bool kept = true;
  while (!done) {
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    if (now.sa_handler != TestHandler) kept = false;
    ++samples;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  runner.join();
  sigaction(SIGINT, &previous, nullptr);
  EXPECT_GT(samples, 5);
  EXPECT_TRUE(kept);
}

}  // namespace
