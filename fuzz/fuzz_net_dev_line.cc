// Feeds arbitrary text to the /proc/net/dev line reader, as fgets hands it over (at most 1022
// characters, possibly without a line end).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "modem/link_state.h"
#include "modem/modem_pass.h"
#include "status/status_names.h"
#include "tests/support/table_access.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitStatusForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char line[1024];
  CopyInput(data, size, line, 1023);
  static ModemSession modem;
  ModemPass ctx = FuzzPass(&modem);
  TakeNetDevLine(ctx, line);
  // The stored counters never carry a separator.
  for (uint32_t index : {kWWanRxBytes_i, kWWanRxPkts_i, kWWanTxBytes_i, kWWanTxPkts_i}) {
    if (strpbrk(EntryOf(FuzzTable(), index).value, " \t\r\n") != nullptr) abort();
  }
  return 0;
}
