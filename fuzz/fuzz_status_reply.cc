// Feeds arbitrary snapshot files to the status CGI's reply: the file is served unchanged when its
// "time" is positive, else the empty list is; the header block always comes first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgi/status_reply.h"
#include "fuzz/fuzz_support.h"

namespace {

ScratchDir* dir = nullptr;
constexpr char kEmptyListEnd[] = ",\"status\":[]}";
constexpr char kHeader[] =
    "Access-Control-Allow-Origin: *\nContent-type: application/json\nCache-Control: no-cache\n\n";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static ScratchDir scratch;
  dir = &scratch;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = *dir / "modemstatus.json";
  WriteInputFile(path, data, size);
  char* reply = nullptr;
  size_t reply_size = 0;
  FILE* out = open_memstream(&reply, &reply_size);
  if (out == nullptr) abort();
  WriteStatusReply(out, "enabled", path.c_str(), "*");
  if (fclose(out) != 0) abort();

  const size_t header = sizeof kHeader - 1;
  if (reply_size < header || memcmp(reply, kHeader, header) != 0) abort();
  const char* body = reply + header;
  const size_t body_size = reply_size - header;
  const size_t served = size < kSnapshotReadSize ? size : kSnapshotReadSize;
  const bool whole = body_size == served && memcmp(body, data, served) == 0;
  const size_t end_size = sizeof kEmptyListEnd - 1;
  const bool empty_list = body_size > 8 + end_size && strncmp(body, "{\"time\":", 8) == 0 &&
                          memcmp(body + body_size - end_size, kEmptyListEnd, end_size) == 0;
  if (!whole && !empty_list) abort();
  free(reply);
  return 0;
}
