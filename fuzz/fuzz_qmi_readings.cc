// Feeds arbitrary text to the QMI readers and the home-network reader, as the client's output lands
// in qmiResult (at most 1022 characters).
#include <cstdint>
#include <cstring>

#include "config/context.h"
#include "fuzz/fuzz_support.h"
#include "modem/channel.h"
#include "modem/qmi_readings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitStatusForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  memset(qmiResult, 0, sizeof qmiResult);
  CopyInput(data, size, qmiResult, kQmiResultSize - 1);
  GatherContext ctx = StatusContext();
  QmiOutputIsError(qmiResult);
  ParseTxRxInfo(&ctx, qmiResult);
  ParseCAInfo(&ctx, qmiResult);
  ParseSignalInfo(&ctx, qmiResult);
  ParseHomeNetwork(&ctx, qmiResult);
  return 0;
}
