#include "base/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/scoped_handles.h"

// Without 64-bit offsets and inode numbers a 32-bit glibc program gets EOVERFLOW from stat and
// would take a file on a large file system for missing (the build sets _FILE_OFFSET_BITS=64).
static_assert(sizeof(off_t) >= 8 && sizeof(ino_t) >= 8, "off_t and ino_t must have 64 bits");

namespace {

long ReadAllInto(int fd, char* buffer, size_t limit) {
  size_t got = 0;
  while (got < limit) {
    ssize_t n = read(fd, buffer + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  buffer[got] = '\0';
  return static_cast<long>(got);
}

}  // namespace

long ReadFileInto(const char* path, char* buffer, size_t limit) {
  ScopedFd fd(open(path, O_RDONLY | O_CLOEXEC));
  buffer[0] = '\0';
  if (fd.get() < 0) return -1;
  return ReadAllInto(fd.get(), buffer, limit);
}

int OpenRegularFile(const char* path) {
  ScopedFd fd(open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return -1;
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return -1;
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  // A second name of the file may have been planted by someone else: such a file counts as missing.
  // (0 names: the file was replaced after it was opened, and what was opened is still whole.)
  if (info.st_nlink > 1) {
    errno = EMLINK;
    return -1;
  }
  // Reads of a regular file do not block anyway; the flag only kept a FIFO from holding us.
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  const int result = fd.get();
  fd.Release();
  return result;
}

long ReadRegularFileInto(const char* path, char* buffer, size_t limit) {
  ScopedFd fd(OpenRegularFile(path));
  buffer[0] = '\0';
  if (fd.get() < 0) return -1;
  return ReadAllInto(fd.get(), buffer, limit);
}

bool WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool LineReader::Next(char* line, size_t size) {
  if (size == 0) return false;
  size_t n = 0;
  while (n + 1 < size) {
    if (start_ == end_) {
      if (ended_) break;
      ssize_t got = read(fd_, buffer_, sizeof buffer_);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ended_ = true;
        break;
      }
      start_ = 0;
      end_ = static_cast<size_t>(got);
    }
    const char c = buffer_[start_++];
    line[n++] = c;
    if (c == '\n') break;
  }
  line[n] = '\0';
  return n > 0;
}
