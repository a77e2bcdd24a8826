// Logging's repeat suppression and the post state file.
#include "base/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/console_text.h"
#include "base/paths.h"
#include "tests/support/test_files.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// Each step is a message; a leading '!' sends it as an error.
TEST(LogMessageTest, ImmediateRepeatsAreSuppressed) {
  const std::string a_long(300, 'a');
  const std::string a_long_other_tail = std::string(256, 'a') + "different tail";
  const struct {
    std::vector<std::string> steps;
    std::string out, err;
  } cases[] = {
      {{"A", "A"}, "A\n", ""},
      {{"A", "B", "A"}, "A\nB\nA\n", ""},
      {{"X", "!X"}, "X\n", ""},                // an error repeats an info line
      {{"!X", "X", "!Y"}, "", "X\nY\n"},      // and the other way round
      {{a_long, a_long_other_tail}, a_long + "\n", ""},  // equal in the first 256 characters
      {{"abc", "abcd"}, "abc\nabcd\n", ""},   // a prefix is not a repeat
  };
  for (const auto& c : cases) {
    ResetLogRepeat();
    CaptureStdout();
    CaptureStderr();
    for (const std::string& step : c.steps) {
      if (step[0] == '!') LogMessageError(step.c_str() + 1); else LogMessage(step.c_str());
    }
    EXPECT_EQ(GetCapturedStderr(), c.err) << c.steps[0];
    EXPECT_EQ(GetCapturedStdout(), c.out) << c.steps[0];
  }
  ResetLogRepeat();
}

// Control bytes from outside text reach neither the terminal nor syslog raw; an escape is never cut.
TEST(LogMessageTest, ControlBytesAreEscaped) {
  const struct {
    std::string in;
    size_t size;
    std::string out;
  } cases[] = {
      {std::string("Op\x1b]0;x\a\x1b[2J", 12), 64, "Op\\x1B]0;x\\x07\\x1B[2J"},
      {std::string("a\r\nb\0c\x7f\t", 8), 64, "a\\x0D\\x0Ab\\x00c\\x7F\\x09"},
      {"caf\xc3\xa9 <ok>", 64, "caf\xc3\xa9 <ok>"},  // UTF-8 and markup pass unchanged
      {"ab\n", 6, "ab"},                               // "\x0A" would not fit whole
      {"ab\n", 7, "ab\\x0A"},
      {"abc", 1, ""},
  };
  for (const auto& c : cases) {
    char out[64];
    const size_t n = EscapeControlBytes(c.in.data(), c.in.size(), out, c.size);
    EXPECT_EQ(std::string(out, n), c.out) << c.in;
    EXPECT_EQ(out[n], '\0');
  }
  ResetLogRepeat();
  const std::string forged = "name\nStatusGather: forged line\x1b[2J";
  CaptureStdout();
  LogMessage(forged.c_str());
  EXPECT_EQ(GetCapturedStdout(), "name\\x0AStatusGather: forged line\\x1B[2J\n");
  CaptureStdout();
  LogMessage("own line end\r\n");  // only the final line feed is the daemon's own
  EXPECT_EQ(GetCapturedStdout(), "own line end\\x0D\n\n");
  const std::string long_text = std::string(300, '\a');  // longer than one chunk of the writer
  CaptureStderr();
  LogMessageError(long_text.c_str());
  std::string expected;
  for (int i = 0; i < 300; ++i) expected += "\\x07";
  EXPECT_EQ(GetCapturedStderr(), expected + "\n");
  ResetLogRepeat();
}

class PostStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", root_.path().c_str(), 1);
    ReloadPathRoot();
    MakeDirs(root_ / "tmp/corvane");
  }
  void TearDown() override {
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  std::string Path() const { return root_ / "tmp/corvane/post_state.json"; }
  TempDir root_;
};

TEST_F(PostStateTest, ExactContentWithoutNewline) {
  for (const char* state : {"Starting", "Disabled", "Success", "Failure"}) {
    const long long before = static_cast<long long>(time(nullptr));
    ReportPostStatus(state);
    const long long after = static_cast<long long>(time(nullptr));
    const std::string content = ReadFile(Path());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(content, m, std::regex(R"re(\{"state": "(\w+)", "time": (\d+)\})re")))
        << content;
    EXPECT_EQ(m[1].str(), state);
    const long long t = std::stoll(m[2].str());
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
  }
  EXPECT_FALSE(FileExists(Path() + ".tmp"));
}

TEST_F(PostStateTest, ReplacedAtomically) {
  ReportPostStatus("Starting");
  struct stat first {};
  ASSERT_EQ(stat(Path().c_str(), &first), 0);
  ReportPostStatus("Success");
  struct stat second {};
  ASSERT_EQ(stat(Path().c_str(), &second), 0);
  EXPECT_NE(first.st_ino, second.st_ino) << "the file is replaced, not rewritten in place";

  // A reader running beside the writer only ever sees a whole object.
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!done) {
      std::string content = ReadFile(Path());
      if (content.empty() || content.front() != '{' || content.back() != '}') ++bad;
    }
  });
  for (int i = 0; i < 300; ++i) ReportPostStatus(i % 2 ? "Success" : "Failure");
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST_F(PostStateTest, MissingDirectoryIsReported) {
  setenv("MODEM_STATUS_ROOT", (root_ / "nowhere").c_str(), 1);
  ReloadPathRoot();
  CaptureStderr();
  ReportPostStatus("Success");
  EXPECT_EQ(GetCapturedStderr(), "Failed to open post status: No such file or directory\n");
  EXPECT_FALSE(FileExists(root_ / "nowhere"));
}

}  // namespace
