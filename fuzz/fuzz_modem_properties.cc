// Feeds arbitrary text to the mmcli link's readers of key-value output, the store of what they
// read, and the own-number format.
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "modem/mmcli_link.h"
#include "modem/modem_pass.h"
#include "modem/modem_properties.h"
#include "tests/support/table_access.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitStatusForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char text[16384];  // the reader's output buffer holds at most 16383 characters
  const size_t n = CopyInput(data, size, text, sizeof text);
  static ModemSession modem;
  ModemPass ctx = FuzzPass(&modem);
  ModemProperties properties{};
  ReadModemKeyValues(text, &properties);
  StoreModemProperties(ctx, properties);
  BearerProperties bearer{};
  ReadBearerKeyValues(text, &bearer);
  StoreBearerProperties(ctx, bearer);
  if (strnlen(modem.initialBearerApn, sizeof modem.initialBearerApn) ==
          sizeof modem.initialBearerApn ||
      strnlen(modem.bearerApn, sizeof modem.bearerApn) == sizeof modem.bearerApn) {
    abort();  // an APN field left unterminated
  }

  // The first line alone as an own number.
  char value[kPropertyValueSize];
  size_t len = 0;
  while (len < n && len < sizeof value - 1 && text[len] != '\n') ++len;
  memcpy(value, text, len);
  value[len] = '\0';
  char number[kPropertyValueSize];
  FormatPhoneNumber(value, number, sizeof number);
  return 0;
}
