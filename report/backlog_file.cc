#include "report/backlog_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/scoped_handles.h"

namespace {

void Refuse(const char* path, const char* reason) {
  char line[512];
  snprintf(line, sizeof line, "Influx backlog file %s left alone: %s", path, reason);
  LogMessageError(line);
}

// Why a file or folder of this status may not be trusted, or null when it may. `what` is "it" or
// "its folder"; `reason` receives the text.
const char* Distrust(const struct stat& st, const char* what, char* reason, size_t size) {
  const uid_t self = geteuid();
  if (st.st_uid != self) {
    snprintf(reason, size, "%s belongs to user %u, not %u", what, static_cast<unsigned>(st.st_uid),
             static_cast<unsigned>(self));
    return reason;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    snprintf(reason, size, "%s is writable by group or others (mode %04o)", what,
             static_cast<unsigned>(st.st_mode & 07777));
    return reason;
  }
  return nullptr;
}

// Reads up to `size` bytes at `offset`, resuming after short reads. The count read.
size_t ReadAt(int fd, char* buffer, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

BacklogFileText ReadBacklogFile(const char* path, char* buffer, size_t limit) {
  BacklogFileText result{-1, 0};
  buffer[0] = '\0';
  char folder[512];
  snprintf(folder, sizeof folder, "%s", path);
  char* slash = strrchr(folder, '/');
  const char* name = path;
  if (slash == nullptr) {
    snprintf(folder, sizeof folder, ".");
  } else {
    name = path + (slash - folder) + 1;
    if (slash == folder) ++slash;  // a file in "/"
    *slash = '\0';
  }
  ScopedFd dir(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return result;  // no folder: no file
  // The file is opened through the folder checked here, without following a link.
  ScopedFd fd(openat(dir.get(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ELOOP) Refuse(path, "it is a symbolic link");
    else if (errno != ENOENT) Refuse(path, strerror(errno));
    return result;
  }
  char reason[128];
  struct stat st {};
  if (fstat(dir.get(), &st) != 0) {
    Refuse(path, strerror(errno));
    return result;
  }
  if (Distrust(st, "its folder", reason, sizeof reason) != nullptr) {
    Refuse(path, reason);
    return result;
  }
  if (fstat(fd.get(), &st) != 0) {
    Refuse(path, strerror(errno));
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    Refuse(path, "it is no regular file");
    return result;
  }
  if (st.st_nlink > 1) {
    Refuse(path, "it has a second name (a hard link)");
    return result;
  }
  if (Distrust(st, "it", reason, sizeof reason) != nullptr) {
    Refuse(path, reason);
    return result;
  }

  off_t offset = 0;
  if (st.st_size > static_cast<off_t>(limit)) offset = st.st_size - static_cast<off_t>(limit);
  size_t length = ReadAt(fd.get(), buffer, limit, offset);
  size_t start = 0;
  if (offset > 0) {
    // Begin at a whole line: pass over the rest of a line that began before the part read.
    char before = '\n';
    if (ReadAt(fd.get(), &before, 1, offset - 1) == 1 && before != '\n') {
      const char* nl = static_cast<const char*>(memchr(buffer, '\n', length));
      start = nl != nullptr ? static_cast<size_t>(nl - buffer) + 1 : length;
      memmove(buffer, buffer + start, length - start);
      length -= start;
    }
  }
  buffer[length] = '\0';
  result.length = static_cast<long>(length);
  result.skipped = offset + static_cast<off_t>(start);
  return result;
}
