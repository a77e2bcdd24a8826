// Feeds arbitrary datagrams to the location update as the GPS listener hands them over (at most
// 264 bytes, terminated). The first 4 bytes move the receive time, so fixes around midnight and
// far from the fix time are reached. The board switches nothing.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "location/location_update.h"
#include "modem/modem_pass.h"
#include "status/status_names.h"
#include "tests/support/table_access.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitStatusForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t shift = 0;
  memcpy(&shift, data, sizeof shift);
  const int64_t now = 1700000000 + static_cast<int64_t>(shift);
  char text[268];
  CopyInput(data + 4, size - 4, text, 265);
  static ModemSession modem;
  ModemPass ctx = FuzzPass(&modem);
  LocationUpdateAt(ctx.table, ctx.board, text, now);

  NmeaFields fields;
  const int32_t count = SplitNmeaFields(text, &fields);
  if (count < 1 || count > kNmeaFieldCount) abort();
  const int64_t fix = NmeaFixTime(fields.field[1], now);
  if (fix != 0 && (fix - now > 12 * 3600 || now - fix > 12 * 3600)) abort();
  return 0;
}
