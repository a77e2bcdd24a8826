#include "base/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

LockResult InstanceLock::Take(const char* path, long* holder) {
  *holder = 0;
  fd_.Reset(open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd_.get() < 0) return errno == ENOENT ? LockResult::kNoFolder : LockResult::kUnavailable;
  struct stat info;
  if (fstat(fd_.get(), &info) != 0) return LockResult::kUnavailable;
  if (!S_ISREG(info.st_mode)) {
    fd_.Close();
    errno = EINVAL;
    return LockResult::kUnavailable;
  }
  // A hard link planted at the lock path would have the pid written over the file it names.
  if (info.st_nlink > 1) {
    fd_.Close();
    errno = EMLINK;
    return LockResult::kLinked;
  }
  if (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    const bool taken = errno == EWOULDBLOCK;
    if (taken) {
      char text[24] = {};
      if (pread(fd_.get(), text, sizeof text - 1, 0) > 0) *holder = strtol(text, nullptr, 10);
    }
    fd_.Close();
    return taken ? LockResult::kTaken : LockResult::kUnavailable;
  }
  char pid[24];
  const int n = snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
  // The pid only serves a second copy's message: the lock holds without it.
  const bool noted =
      ftruncate(fd_.get(), 0) == 0 && pwrite(fd_.get(), pid, static_cast<size_t>(n), 0) == n;
  static_cast<void>(noted);
  return LockResult::kHeld;
}
