// Feeds arbitrary client output to the mmcli link's reader of reply lines (AT commands, reset).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "modem/mmcli_link.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As the mmcli link has it: a zero-filled 1024-byte output buffer holding at most 1022 characters
  // (NUL bytes included: RunProgram counts them), and the caller's zero-filled reply buffer.
  char out[1024] = {};
  const size_t n = CopyInput(data, size, out, 1023);
  char copy[1024];
  memcpy(copy, out, sizeof copy);
  static char reply[kModemReplySize];
  memset(reply, 0, sizeof reply);
  const int len = TakeModemResponse(out, static_cast<int>(n), reply);
  if (len < 0 || (len > 0 && len > static_cast<int>(n) - 10)) abort();
  // The answer is the output's bytes after the first ten.
  if (len > 0 && memcmp(reply, copy + 10, static_cast<size_t>(len)) != 0) abort();
  if (reply[kModemReplySize - 1] != '\0') abort();

  char out2[1024];
  memcpy(out2, copy, sizeof out2);
  if (TakeModemResponse(out2, static_cast<int>(n), nullptr) != len) abort();  // the reset's use
  return 0;
}
