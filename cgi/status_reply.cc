#include "cgi/status_reply.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kHeaderBlock =
    "Access-Control-Allow-Origin: *\n"
    "Content-type: application/json\n"
    "Cache-Control: no-cache\n"
    "\n";
constexpr const char* kDisabledBody = "{\"status\":\"Error - Modem Status API disabled\"}";
constexpr const char* kTimeKey = "\"time\":";

void WriteEmptyList(FILE* out, int64_t time) {
  fprintf(out, "{\"time\":%llu,\"status\":[]}",
          static_cast<unsigned long long>(static_cast<uint64_t>(time)));
}

// Reads up to kSnapshotReadSize bytes into `buffer` (one byte more for the terminator). Returns the
// count, 0 when the file cannot be examined, opened or is empty.
size_t ReadSnapshot(const char* path, char* buffer) {
  struct stat info;
  if (stat(path, &info) != 0) return 0;
  FILE* file = fopen(path, "r");
  if (file == nullptr) return 0;
  size_t count = fread(buffer, 1, kSnapshotReadSize, file);
  fclose(file);
  buffer[count] = '\0';
  return count;
}

}  // namespace

void WriteStatusReply(FILE* out, const char* apiStatus, const char* snapshotPath) {
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
