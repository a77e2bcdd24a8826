// Feeds arbitrary text to the QMI readers and the home-network reader, as the qmicli link's (or
// the script's) output (at most 1022 characters).
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/qmi_readings.h"
#include "tests/support/table_access.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitStatusForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ModemSession modem;
  ModemPass ctx = FuzzPass(&modem);
  char* output = modem.qmiResult;
  CopyInput(data, size, output, kQmiResultSize - 1);
  QmiOutputIsError(output);
  TakeTxRxInfo(ctx, ParseTxRxInfo(output));
  TakeCAInfo(ctx, ParseCaInfo(output));
  TakeSignalInfo(ctx, ParseSignalInfo(output));
  TakeHomeNetwork(ctx, output);
  return 0;
}
