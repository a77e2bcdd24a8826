// Files in the shared folder that have a second name: read as missing, and the instance lock
// refused without writing through the link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/instance_lock.h"
#include "base/plain_file.h"
#include "tests/support/test_files.h"

namespace {

TEST(LinkedFilesTest, ReadRegularFileIntoTakesOnlyAFileWithOneName) {
  TempDir dir;
  WriteFile(dir / "target", "secret\n");
  ASSERT_EQ(link((dir / "target").c_str(), (dir / "hard").c_str()), 0);
  ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "soft").c_str()), 0);
  WriteFile(dir / "plain", "LTE\n");
  struct Case {
    const char* name;
    long result;
    const char* text;
  } cases[] = {
      {"plain", 4, "LTE\n"},
      {"hard", -1, ""},
      {"target", -1, ""},  // the other name of the same file has two names as well
      {"soft", -1, ""},
      {"missing", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[32] = "left over";
    EXPECT_EQ(ReadRegularFileInto((dir / c.name).c_str(), buffer, sizeof buffer - 1), c.result);
    EXPECT_STREQ(buffer, c.text);
  }
  errno = 0;
  EXPECT_EQ(OpenRegularFile((dir / "hard").c_str()), -1);
  EXPECT_EQ(errno, EMLINK);
  // Once the second name is gone, the file counts again.
  ASSERT_EQ(unlink((dir / "hard").c_str()), 0);
  char buffer[32];
  EXPECT_EQ(ReadRegularFileInto((dir / "target").c_str(), buffer, sizeof buffer - 1), 7);
}

TEST(LinkedFilesTest, LockAtAHardLinkIsRefusedAndTheTargetKept) {
  TempDir dir;
  const std::string victim = dir / "victim", lock = dir / "modem-statusd.lock";
  WriteFile(victim, "root:x:0:0:root:/root:/bin/sh\n");
  ASSERT_EQ(link(victim.c_str(), lock.c_str()), 0);
  InstanceLock taker;
  long holder = -1;
  errno = 0;
  EXPECT_EQ(taker.Take(lock.c_str(), &holder), LockResult::kLinked);
  EXPECT_EQ(errno, EMLINK);
  EXPECT_EQ(holder, 0);
  EXPECT_EQ(ReadFile(victim), "root:x:0:0:root:/root:/bin/sh\n");
  // Not locked either: another process may still take a lock on the victim.
  const int fd = open(victim.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
}

TEST(LinkedFilesTest, LockOfAFileWithOneNameIsHeldAndCarriesThePid) {
  TempDir dir;
  const std::string lock = dir / "modem-statusd.lock";
  WriteFile(lock, "a much longer text than a pid\n");
  InstanceLock taker;
  long holder = -1;
  ASSERT_EQ(taker.Take(lock.c_str(), &holder), LockResult::kHeld);
  EXPECT_EQ(ReadFile(lock), std::to_string(getpid()) + "\n");
  InstanceLock second;
  EXPECT_EQ(second.Take(lock.c_str(), &holder), LockResult::kTaken);
  EXPECT_EQ(holder, getpid());
}

}  // namespace
