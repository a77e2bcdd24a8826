// Feeds arbitrary text to every AT reply parser, as the ModemManager link hands an answer over:
// serving cell, band and RSSI, data counters, group ids, temperatures, the SIM identity steps and
// the LTE state file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "modem/band_rssi.h"
#include "modem/data_counters.h"
#include "modem/group_ids.h"
#include "modem/modem_pass.h"
#include "modem/serving_cell.h"
#include "modem/sim_identity.h"
#include "modem/status_cycle.h"
#include "modem/temperatures.h"
#include "tests/support/table_access.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitStatusForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char text[2048];  // a reply holds at most 2047 characters
  CopyInput(data, size, text, sizeof text);
  static ModemSession modem;
  ModemPass ctx = FuzzPass(&modem);

  TakeServingCell(ctx, text);
  TakeBandConfig(ctx, text);
  TakeRssiBer(ctx, text);
  TakeRxTxBytes(ctx, text);
  TakeGroupIds(ctx, text);
  TakeTemperatures(ctx, text);

  TakeSimState(ctx, text);
  TakeIccid(ctx, text);
  TakeImsi(ctx, text);
  TakeSwVersion(ctx, text);

  char state[128];
  if (ParseLteState(text, state, sizeof state) == 1 && strlen(state) >= sizeof state) abort();
  return 0;
}
