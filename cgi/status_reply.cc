#include "cgi/status_reply.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kHeaderBlock =
    "Content-type: application/json\n"
    "Cache-Control: no-cache\n"
    "\n";
constexpr const char* kDisabledBody = "{\"status\":\"Error - Modem Status API disabled\"}";
constexpr const char* kTimeKey = "\"time\":";

void WriteEmptyList(FILE* out, int64_t time) {
  fprintf(out, "{\"time\":%llu,\"status\":[]}",
          static_cast<unsigned long long>(static_cast<uint64_t>(time)));
}

// A descriptor closed when it goes out of scope.
struct OpenFile {
  int fd;
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

// Reads up to kSnapshotReadSize bytes into `buffer` (one byte more for the terminator). Returns the
// count; 0 when the file is missing, a symbolic or hard link, no regular file (a FIFO would hold
// the request forever), cannot be opened or is empty.
size_t ReadSnapshot(const char* path, char* buffer) {
  buffer[0] = '\0';
  const OpenFile file{open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return 0;
  struct stat info;
  size_t count = 0;
  // A link count of 0 is a snapshot the daemon replaced after it was opened: still whole.
  if (fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink <= 1) {
    while (count < kSnapshotReadSize) {
      const ssize_t n = read(file.fd, buffer + count, kSnapshotReadSize - count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      count += static_cast<size_t>(n);
    }
  }
  buffer[count] = '\0';
  return count;
}

}  // namespace

void WriteStatusReply(FILE* out, const char* apiStatus, const char* snapshotPath,
                      const char* allowOrigin) {
  if (allowOrigin != nullptr) fprintf(out, "Access-Control-Allow-Origin: %s\n", allowOrigin);
  fputs(kHeaderBlock, out);
  if (strcmp(apiStatus, "enabled") != 0) {
    fputs(kDisabledBody, out);
    return;
  }
  static char buffer[kSnapshotReadSize + 1];
  size_t count = ReadSnapshot(snapshotPath, buffer);
  if (count == 0) {
    WriteEmptyList(out, 0);
    return;
  }
  const char* key = strstr(buffer, kTimeKey);
  if (key == nullptr) {
    WriteEmptyList(out, 0);
    return;
  }
  const char* number = key + strlen(kTimeKey);
  if (*number == ' ') ++number;
  // The daemon writes the time as a 64-bit number; read it whole (it would turn negative in 2038
  // as a 32-bit one and every request would get the empty list).
  int64_t time = static_cast<int64_t>(strtoll(number, nullptr, 10));
  if (time > 0) {
    fwrite(buffer, 1, count, out);
    return;
  }
  WriteEmptyList(out, time);
}
