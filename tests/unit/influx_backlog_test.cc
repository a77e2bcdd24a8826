// The backlog file as outside input: which lines count as one record, which records a long file
// leaves in the backlog, a stop during the load, and which files are taken up at all.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "base/log.h"
#include "base/stop_event.h"
#include "report/backlog_file.h"
#include "report/influx_backlog.h"
#include "report/line_protocol_check.h"
#include "tests/support/test_files.h"

namespace {

constexpr int64_t kT = 1750000000;

TEST(LineProtocolCheckTest, OneRecordOrNot) {
  struct Case {
    std::string line;
    bool record;
  } cases[] = {
      {"m v=1i", true},
      {"lte,serial_number=SN1,imei=86 id=0i,Sn=\"SN1\",Lat=47.5", true},
      {"lte\\ status\\,x,sn=SN\\ 1\\,a\\=b id=0i", true},
      {"m s=\"a, b=c \\\" d\\\\\",v=2", true},  // blanks, commas and escapes inside a string
      {"GPS\\ Error v=1", true},
      {"", false},
      {"m", false},                  // no field set
      {"m ", false},
      {"m,t=a", false},
      {"m,t=a ", false},
      {" v=1i", false},              // no measurement
      {"m,=a v=1", false},           // empty tag key
      {"m,t= v=1", false},           // empty tag value
      {"m,t v=1", false},            // tag without a value
      {"m v", false},                // field without a value
      {"m =1", false},               // field without a key
      {"m v=", false},
      {"m v=1,", false},             // a comma and nothing after it
      {"m v=\"open", false},         // string not closed
      {"m v=\"a\\\"", false},        // its closing quote escaped
      {"m v=1 x=2", false},          // a second field set (or a time that is no number)
      {"m v=1 -5", false},
      {"m v=1\\", false},            // a lone backslash at the end
      {std::string("m v=\"a\0b\"", 9), false},  // NUL
      {"m v=\"a\rb\"", false},       // CR
      {"m v=\"\x1b[2J\"", false},    // ESC
      {"m v=\"a\tb\"", false},       // tab
      {"m v=\"a\x7f\"", false},      // DEL
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.record, IsOneLineRecord(c.line.data(), c.line.size())) << "'" << c.line << "'";
  }
}

std::string Lines(const InfluxBacklog& backlog) {
  std::string out;
  for (size_t i = 0; i < backlog.Count(); ++i) {
    out.append(backlog.TextOf(backlog.At(i)), backlog.At(i).length);
    out += '\n';
  }
  return out;
}

// Lines "m v=<i>i <time>" for i in [from, to).
std::string Numbered(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) {
    text += "m v=" + std::to_string(i) + "i " + std::to_string(kT + i) + "\n";
  }
  return text;
}

// A file longer than either bound keeps its newest records, as the run-time rule keeps them;
// malformed lines are counted, not kept, and take no room.
TEST(InfluxBacklogLoadTest, KeepsTheNewestRecordsWithinBothBounds) {
  struct Case {
    const char* what;
    size_t records;  // bounds
    size_t bytes;
    std::string text;
    std::string kept;
    size_t beyond;
    size_t malformed;
  } cases[] = {
      {"count bound", 3, 1000, Numbered(0, 10), "m v=7i\nm v=8i\nm v=9i\n", 7, 0},
      // Each record takes 6 bytes: 20 hold three.
      {"byte bound", 100, 20, Numbered(0, 10), "m v=7i\nm v=8i\nm v=9i\n", 7, 0},
      {"exactly full", 3, 18, Numbered(1, 4), "m v=1i\nm v=2i\nm v=3i\n", 0, 0},
      {"a longer record ends the run", 100, 20,
       "m v=1i\nm v=2i\nm s=\"long record\"\nm v=3i\nm v=4i\n", "m v=3i\nm v=4i\n", 3, 0},
      {"malformed lines", 2, 1000,
       "m v=1i\nm v=2i\nno fields\nm v=3i\n" + std::string("m v=\"\0\"\n", 8) + "\n# note\n",
       "m v=2i\nm v=3i\n", 1, 2},
      {"no line feed at the end, CRLF", 10, 1000, "m v=1i\r\nm v=2i", "m v=1i\nm v=2i\n", 0, 0},
      {"too long for a request", 10, 1000, "m v=1i\nm s=\"" + std::string(40, 'x') + "\"\n",
       "m v=1i\n", 0, 1},
  };
  for (const Case& c : cases) {
    InfluxBacklog backlog;
    ASSERT_TRUE(backlog.Reserve(c.records, c.bytes));
    const BacklogLoad load = backlog.Load(c.text.data(), c.text.size(), kT, 0, 32);
    EXPECT_EQ(c.kept, Lines(backlog)) << c.what;
    EXPECT_EQ(backlog.Count(), load.taken) << c.what;
    EXPECT_EQ(c.beyond, load.beyondBounds) << c.what;
    EXPECT_EQ(c.malformed, load.malformed) << c.what;
    EXPECT_FALSE(load.stopped) << c.what;
  }
}

TEST(InfluxBacklogLoadTest, KeepsTheirTimesAndLeavesRoomForWhatIsThere) {
  InfluxBacklog backlog;
  ASSERT_TRUE(backlog.Reserve(3, 1000));
  backlog.Add("a v=1i", 6, kT - 1, 0);
  const std::string text = Numbered(5, 9);
  const BacklogLoad load = backlog.Load(text.data(), text.size(), kT + 900, 0);
  EXPECT_EQ("a v=1i\nm v=7i\nm v=8i\n", Lines(backlog));
  EXPECT_EQ(2u, load.beyondBounds);
  EXPECT_EQ(kT + 8, backlog.At(2).built);
}

TEST(InfluxBacklogLoadTest, AStopKeepsNothing) {
  InfluxBacklog backlog;
  ASSERT_TRUE(backlog.Reserve(100000, 1 << 20));
  const std::string text = Numbered(0, 20000);
  StopEvent stop;
  stop.Signal();
  const BacklogLoad load = backlog.Load(text.data(), text.size(), kT, 0, SIZE_MAX, &stop);
  EXPECT_TRUE(load.stopped);
  EXPECT_EQ(0u, backlog.Count());
  EXPECT_EQ(0u, backlog.Bytes());
}

// Files another user could have written are not read, with one message naming file and reason.
class BacklogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogRepeat();
    MakeDirs(folder_);
    chmod(folder_.c_str(), 0755);
    WriteFile(path_, "m v=1i 1750000000\n");
    chmod(path_.c_str(), 0644);
  }
  // Reads the file; the message it logged, if any, lands in err_.
  BacklogFileText Read(size_t limit = 4096) {
    testing::internal::CaptureStderr();
    BacklogFileText text = ReadBacklogFile(path_.c_str(), buffer_, limit);
    err_ = testing::internal::GetCapturedStderr();
    return text;
  }

  TempDir root_;
  std::string folder_ = root_ / "tmp/corvane";
  std::string path_ = folder_ + "/influx_backlog.lp";
  char buffer_[4097];
  std::string err_;
};

TEST_F(BacklogFileTest, OnlyAFileNoOtherUserCouldWriteIsRead) {
  ASSERT_EQ(0u, geteuid()) << "needs root to give files away";
  const struct passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  EXPECT_EQ(18, Read().length);
  EXPECT_EQ("m v=1i 1750000000\n", std::string(buffer_));
  EXPECT_EQ("", err_);

  struct Case {
    const char* what;
    std::function<void()> make;
    const char* reason;
  } cases[] = {
      {"file of nobody, 0666",
       [&] {
         ASSERT_EQ(0, chown(path_.c_str(), nobody->pw_uid, nobody->pw_gid));
         chmod(path_.c_str(), 0666);
       },
       "it belongs to user"},
      {"own file, writable by others", [&] { chmod(path_.c_str(), 0646); },
       "it is writable by group or others (mode 0646)"},
      {"own file, writable by group", [&] { chmod(path_.c_str(), 0664); },
       "it is writable by group or others (mode 0664)"},
      {"folder of nobody", [&] { ASSERT_EQ(0, chown(folder_.c_str(), nobody->pw_uid, 0)); },
       "its folder belongs to user"},
      {"folder writable by all", [&] { chmod(folder_.c_str(), 01777); },
       "its folder is writable by group or others (mode 1777)"},
      {"a link to a root file",
       [&] {
         unlink(path_.c_str());
         ASSERT_EQ(0, symlink((root_ / "secret").c_str(), path_.c_str()));
       },
       "it is a symbolic link"},
      {"a hard link to a root file",
       [&] {
         unlink(path_.c_str());
         ASSERT_EQ(0, link((root_ / "secret").c_str(), path_.c_str()));
       },
       "it has a second name (a hard link)"},
      {"a folder", [&] {
         unlink(path_.c_str());
         MakeDirs(path_);
       },
       "it is no regular file"},
  };
  WriteFile(root_ / "secret", "secret v=1i\n");
  for (const Case& c : cases) {
    SetUp();
    c.make();
    ResetLogRepeat();
    EXPECT_EQ(-1, Read().length) << c.what;
    EXPECT_EQ("", std::string(buffer_)) << c.what;
    EXPECT_NE(std::string::npos, err_.find("Influx backlog file " + path_ + " left alone: " +
                                           c.reason))
        << c.what << ": " << err_;
    EXPECT_EQ(1u, std::count(err_.begin(), err_.end(), '\n')) << err_;
    // Put things back for the next case.
    rmdir(path_.c_str());
    unlink(path_.c_str());
    chown(folder_.c_str(), 0, 0);
  }
  // A missing file is no news.
  EXPECT_EQ(-1, Read().length);
  EXPECT_EQ("", err_);
}

TEST_F(BacklogFileTest, ALongerFileGivesItsLastWholeLines) {
  WriteFile(path_, Numbered(0, 100));
  const std::string whole = Numbered(0, 100);
  struct Case {
    size_t limit;
    std::string text;
  } cases[] = {
      {whole.size(), whole},
      {whole.size() - 1, Numbered(1, 100)},  // the first line lacks one byte: left out whole
      {Numbered(98, 100).size(), Numbered(98, 100)},  // begins exactly at a line
      {Numbered(98, 100).size() + 3, Numbered(98, 100)},
  };
  for (const Case& c : cases) {
    const BacklogFileText text = Read(c.limit);
    EXPECT_EQ(c.text, std::string(buffer_, static_cast<size_t>(text.length))) << c.limit;
    EXPECT_EQ(static_cast<off_t>(whole.size() - c.text.size()), text.skipped) << c.limit;
  }
}

}  // namespace
