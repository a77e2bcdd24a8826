// Feeds arbitrary text to every radio reply parser, as a modem reply and as a client's output.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "daemon/context.h"
#include "modem/band_rssi.h"
#include "modem/data_counters.h"
#include "modem/group_ids.h"
#include "modem/qmi_readings.h"
#include "modem/serving_cell.h"
#include "modem/temperatures.h"
#include "status/status_table.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StatusInit();
  // The LED tool is not found: the shell commands fail at once.
  setenv("PATH", "/nonexistent", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char text[2048];
  const size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
  memcpy(text, data, n);
  text[n] = '\0';
  GatherContext ctx{};
  ctx.statusTable = &statusValues;

  ParseServingCell(&ctx, text);
  ParseBandConfig(&ctx, text);
  ParseRssiBer(&ctx, text);
  ParseRxTxBytes(&ctx, text);
  ParseGroupIds(&ctx, text);
  ParseTemperatures(&ctx, text);
  text[n < 1023 ? n : 1023] = '\0';  // client output is at most 1022 characters
  ParseTxRxInfo(&ctx, text);
  ParseCAInfo(&ctx, text);
  ParseSignalInfo(&ctx, text);
  ParseHomeNetwork(&ctx, text);
  return 0;
}
