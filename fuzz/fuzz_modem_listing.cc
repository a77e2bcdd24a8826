// Feeds arbitrary text to the modem lookup as the output of `mmcli -L`.
#include <climits>
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
  // The client's output lands in a zero-filled 1024-byte buffer, at most 1022 characters of it.
  char out[1024] = {};
  const size_t n = CopyInput(data, size, out, 1023);
  ModemListing listing{};
  listing.index = -2;
  if (ReadModemListing(out, static_cast<int>(n), &listing) == 1) {
    // A modem number is a whole number in the 32-bit range, written as the listing says.
    if (!listing.found || listing.index < 0 ||
        strtol(listing.number, nullptr, 10) != listing.index) {
      abort();
    }
  } else if (listing.found) {
    abort();
  }
  return 0;
}
