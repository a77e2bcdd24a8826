#include "daemon/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int ReplaceFileAtomically(const char* path, const char* text, size_t length) {
  char tmp[512];
  int n = snprintf(tmp, sizeof tmp, "%s.tmp", path);
  if (n < 0 || static_cast<size_t>(n) >= sizeof tmp) {
    errno = ENAMETOOLONG;
    return 0;
  }
  int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < length) {
    ssize_t w = write(fd, text + done, length - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      close(fd);
      unlink(tmp);
      errno = saved;
      return 0;
    }
    done += static_cast<size_t>(w);
  }
  if (close(fd) != 0 || rename(tmp, path) != 0) {
    int saved = errno;
    unlink(tmp);
    errno = saved;
    return 0;
  }
  return 1;
}
