#include "exec/program_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/stop_event.h"

namespace {

struct RunResult {
  ProgramOutcome outcome;
  std::vector<char> buffer;  // the whole caller buffer, cleared before the call
  int64_t elapsed_ms;
  int32_t count() const { return outcome.length; }
  std::string Text() const { return std::string(buffer.data()); }
};

// Runs /bin/sh -c `script` the way the daemon's callers do: a cleared buffer one byte larger than
// the size passed.
RunResult RunShell(const std::string& script, int32_t total_ms, int32_t output_size = 1023,
                   const StopEvent* stop = nullptr) {
  std::vector<char> buffer(static_cast<size_t>(output_size) + 1, '\0');
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                  const_cast<char*>(script.c_str()), nullptr};
  auto begin = std::chrono::steady_clock::now();
  ProgramOutcome outcome = RunProgram({"/bin/sh", argv, total_ms, stop}, buffer.data(),
                                      static_cast<size_t>(output_size));
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - begin)
                     .count();
  return {outcome, buffer, elapsed};
}

// True when no child of this process is left, not even one waiting to be reaped.
bool NoChildLeft() {
  errno = 0;
  return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// True when `pid` no longer runs (gone, or a zombie of some other parent).
bool NotRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string line;
  std::getline(stat, line);
  size_t paren = line.rfind(')');
  return paren != std::string::npos && line.size() > paren + 2 && line[paren + 2] == 'Z';
}

// Programs that end by themselves: the call returns once their output ends, long before the
// total limit, with every chunk in order and a NUL inside a chunk ending the text while the whole
// chunk counts (a later chunk lands after it).
TEST(ProgramRunTest, OutputOfProgramsThatEnd) {
  struct Case {
    const char* script;
    int32_t count;
    std::string bytes;  // the buffer's start, terminator included
  };
  const Case cases[] = {
      {"exit 0", 0, std::string(1, '\0')},
      {"printf abc", 3, std::string("abc\0", 4)},
      {"printf ab; sleep 0.05; printf cd; sleep 0.05; echo ef", 7, std::string("abcdef\n\0", 8)},
      {"printf 'ab\\000cd'", 5, std::string("ab\0\0\0\0", 6)},
      {"printf 'ab\\000cd'; sleep 0.1; printf xy", 7, std::string("ab\0\0\0xy\0", 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    RunResult r = RunShell(c.script, 10000);
    EXPECT_EQ(c.count, r.count());
    EXPECT_EQ(c.bytes, std::string(r.buffer.data(), c.bytes.size()));
    EXPECT_LT(r.elapsed_ms, 1000);
  }
  EXPECT_TRUE(NoChildLeft());
}

TEST(ProgramRunTest, OutputLargerThanBufferKeepsExactlySizeMinusOne) {
  struct Case {
    int32_t output_size;
    int bytes_written;
  };
  for (Case c : {Case{100, 5000}, Case{1023, 1023}, Case{1023, 5000}, Case{16383, 40000}}) {
    SCOPED_TRACE(c.output_size);
    RunResult r = RunShell("head -c " + std::to_string(c.bytes_written) + " /dev/zero | tr '\\0' x",
                           5000, c.output_size);
    EXPECT_EQ(c.output_size - 1, r.count());
    EXPECT_EQ(std::string(static_cast<size_t>(c.output_size - 1), 'x'), r.Text());
    EXPECT_EQ('\0', r.buffer[static_cast<size_t>(c.output_size - 1)]);
    EXPECT_LT(r.elapsed_ms, 2000);
  }
  EXPECT_TRUE(NoChildLeft());
}

TEST(ProgramRunTest, SizeOfOneOrLessStoresNothing) {
  for (size_t size : {size_t{1}, size_t{0}}) {
    std::vector<char> buffer(4, '#');
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                    const_cast<char*>("printf abc"), nullptr};
    ProgramOutcome outcome = RunProgram({"/bin/sh", argv, 2000, nullptr}, buffer.data(), size);
    EXPECT_EQ(0, outcome.length);
    EXPECT_TRUE(outcome.truncated);
    EXPECT_EQ(std::string(4, '#'), std::string(buffer.begin(), buffer.end()));
  }
  EXPECT_TRUE(NoChildLeft());
}

// How a run ended, with the output it left: an exit status (also one given by a signal), a
// program that cannot be executed, the total limit with a grandchild still holding the output, a
// truncated output, and a stop request before the start.
TEST(ProgramRunTest, Outcomes) {
  StopEvent stopped;
  stopped.Signal();
  struct Case {
    const char* path;
    const char* script;  // for /bin/sh -c
    int32_t size;
    const StopEvent* stop;
    RunEnd end;
    int status;
    std::string text;
    bool truncated;
  };
  const Case cases[] = {
      {"/bin/sh", "printf ok", 1023, nullptr, RunEnd::kExited, 0, "ok", false},
      {"/bin/sh", "echo no; exit 3", 1023, nullptr, RunEnd::kExited, 3, "no\n", false},
      {"/bin/sh", "kill -TERM $$", 1023, nullptr, RunEnd::kExited, 128 + SIGTERM, "", false},
      {"/nonexistent/bin/nosuch", "", 1023, nullptr, RunEnd::kNotStarted, -1, "", false},
      {"/dev/null", "", 1023, nullptr, RunEnd::kNotStarted, -1, "", false},
      {"/bin/sh", "sleep 30 & printf x", 1023, nullptr, RunEnd::kTimedOut, -1, "x", false},
      {"/bin/sh", "printf abcdef", 4, nullptr, RunEnd::kExited, 0, "abc", true},
      {"/bin/sh", "printf abc", 1023, &stopped, RunEnd::kStopped, -1, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.script);
    std::vector<char> buffer(static_cast<size_t>(c.size) + 1, '\0');
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(c.script),
                    nullptr};
    testing::internal::CaptureStderr();
    ProgramOutcome outcome =
        RunProgram({c.path, argv, 300, c.stop}, buffer.data(), static_cast<size_t>(c.size));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(static_cast<int>(c.end), static_cast<int>(outcome.end));
    EXPECT_EQ(c.status, outcome.status);
    EXPECT_EQ(c.text, std::string(buffer.data()));
    EXPECT_EQ(static_cast<int32_t>(c.text.size()), outcome.length);
    EXPECT_EQ(c.truncated, outcome.truncated);
    // Only a program that cannot start is reported.
    EXPECT_EQ(c.end == RunEnd::kNotStarted, err.rfind(std::string("Could not start ") + c.path, 0) == 0)
        << err;
    EXPECT_TRUE(NoChildLeft());
  }
}

// A program that starts sees an empty environment, or exactly the one the caller gives.
TEST(ProgramRunTest, EmptyOrGivenEnvironment) {
  std::vector<char> buffer(1024, '\0');
  char* env[] = {const_cast<char*>("env"), nullptr};
  setenv("PROGRAM_RUN_TEST_MARK", "1", 1);
  EXPECT_EQ(0, RunProgram({"/usr/bin/env", env, 2000, nullptr}, buffer.data(), 1023).length);
  unsetenv("PROGRAM_RUN_TEST_MARK");
  EXPECT_EQ("", std::string(buffer.data()));

  char* given[] = {const_cast<char*>("A=1"), const_cast<char*>("B=two"), nullptr};
  ProgramOutcome outcome =
      RunProgram({"/usr/bin/env", env, 2000, nullptr, given}, buffer.data(), 1023);
  EXPECT_EQ(RunEnd::kExited, outcome.end);
  EXPECT_EQ("A=1\nB=two\n", std::string(buffer.data()));
}

TEST(ProgramRunTest, ChildNeverExitingIsKilledAtTotalLimit) {
  const char* const scripts[] = {
      "echo $$; exec sleep 30",                           // silent
      "echo $$; while :; do echo x; sleep 0.02; done",    // still writing
      "sleep 30 & echo $!; exit 0",                       // a grandchild holds the output open
      "echo $$; exec >&- 2>&-; exec sleep 30",            // output closed, still running
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    RunResult r = RunShell(script, 300);
    EXPECT_GE(r.elapsed_ms, 290);
    EXPECT_LT(r.elapsed_ms, 300 + 250);
    pid_t pid = static_cast<pid_t>(atoi(r.Text().c_str()));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(static_cast<int32_t>(r.Text().size()), r.count());
    EXPECT_EQ(RunEnd::kTimedOut, r.outcome.end);
    EXPECT_TRUE(NoChildLeft());
    for (int i = 0; i < 50 && !NotRunning(pid); ++i) usleep(10000);
    EXPECT_TRUE(NotRunning(pid)) << "process " << pid << " still runs";
  }
}

TEST(ProgramRunTest, StopRequestEndsTheCallPromptly) {
  StopEvent stop;
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.Signal();
  });
  RunResult r = RunShell("printf started; exec sleep 30", 10000, 1023, &stop);
  stopper.join();
  EXPECT_EQ("started", r.Text());
  EXPECT_EQ(7, r.count());
  EXPECT_EQ(RunEnd::kStopped, r.outcome.end);
  EXPECT_LT(r.elapsed_ms, 600);
  EXPECT_TRUE(NoChildLeft());

  // Already stopping: nothing is started.
  RunResult skipped = RunShell("printf abc", 1000, 1023, &stop);
  EXPECT_EQ(0, skipped.count());
  EXPECT_EQ(RunEnd::kStopped, skipped.outcome.end);
  EXPECT_EQ("", skipped.Text());
}

void TestHandler(int) {}

// system() ignores SIGINT process-wide while its child runs, so a stop request sent meanwhile
// would be lost; the daemon's handler must stay in place.
TEST(ProgramRunTest, LeavesTheInterruptHandlerInPlaceWhileRunning) {
  struct sigaction ours {}, previous {};
  ours.sa_handler = TestHandler;
  sigemptyset(&ours.sa_mask);
  ASSERT_EQ(0, sigaction(SIGINT, &ours, &previous));

  std::atomic<bool> done{false};
  std::thread runner([&] {
    RunShell("sleep 0.3", 2000);
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

TEST(ProgramRunTest, ClientDiesWithAKilledCaller) {
  char pid_file[] = "/tmp/zel-exec-pid.XXXXXX";
  int fd = mkstemp(pid_file);
  ASSERT_GE(fd, 0);
  close(fd);
  pid_t caller = fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    RunShell(std::string("echo $$ > ") + pid_file + "; exec sleep 30", 30000);
    _exit(0);
  }
  pid_t client = 0;
  for (int i = 0; i < 200 && client == 0; ++i) {
    usleep(10000);
    std::ifstream in(pid_file);
    in >> client;
  }
  kill(caller, SIGKILL);
  waitpid(caller, nullptr, 0);
  unlink(pid_file);
  ASSERT_GT(client, 0);
  for (int i = 0; i < 100 && !NotRunning(client); ++i) usleep(10000);
  EXPECT_TRUE(NotRunning(client));
}

TEST(ProgramRunTest, ChildGetsOnlyStandardDescriptorsAndDefaultSignals) {
  int leaked = open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  int leaked_pipe[2];
  ASSERT_EQ(0, pipe(leaked_pipe));
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous_usr1 {};
  sigaction(SIGUSR1, &ignore, &previous_usr1);
  sigset_t block, previous_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &block, &previous_mask);

  RunResult fds = RunShell("ls /proc/$$/fd", 2000);
  RunResult sigs = RunShell(
      "while read key value; do case $key in SigBlk:|SigIgn:) echo $key $value;; esac; done "
      "< /proc/self/status",
      2000);

  pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
  sigaction(SIGUSR1, &previous_usr1, nullptr);
  close(leaked);
  close(leaked_pipe[0]);
  close(leaked_pipe[1]);

  EXPECT_EQ("0\n1\n2\n", fds.Text());
  EXPECT_EQ("SigBlk: 0000000000000000\nSigIgn: 0000000000000000\n", sigs.Text());
}

// The child starts on the caller's memory: calls from several threads at once must each get their
// own child and output (the daemon's main and JSON writer threads both run clients).
TEST(ProgramRunTest, ConcurrentCallersEachGetTheirOwnOutput) {
  std::vector<int> good(4, 0);
  std::vector<std::thread> callers;
  for (size_t t = 0; t < good.size(); ++t) {
    callers.emplace_back([t, &good] {
      for (int run = 0; run < 15; ++run) {
        const std::string expected = "caller " + std::to_string(t) + " run " + std::to_string(run);
        RunResult result = RunShell("printf '" + expected + "'", 2000);
        if (result.count() == static_cast<int32_t>(expected.size()) && result.Text() == expected) {
          ++good[t];
        }
      }
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(std::vector<int>(4, 15), good);
  EXPECT_TRUE(NoChildLeft());
}

}  // namespace
