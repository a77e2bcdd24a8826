// Feeds arbitrary text to the backlog's load as the backlog file: the first byte picks the bounds.
// Whatever the text, the records kept must fit both bounds and each must be one line-protocol
// record; the request text made of them must hold exactly as many lines.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "report/influx_backlog.h"
#include "report/line_protocol_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t max_records = 1 + (data[0] & 15);
  const size_t max_bytes = 8 + 16 * static_cast<size_t>(data[0] >> 4);
  InfluxBacklog backlog;
  if (!backlog.Reserve(max_records, max_bytes)) abort();
  const char* text = reinterpret_cast<const char*>(data + 1);
  const BacklogLoad load = backlog.Load(text, size - 1, 1750000000, 0, 200);
  if (load.stopped || load.taken != backlog.Count()) abort();
  if (backlog.Count() > max_records || backlog.Bytes() > max_bytes) abort();
  for (size_t i = 0; i < backlog.Count(); ++i) {
    const BacklogEntry& entry = backlog.At(i);
    if (!IsOneLineRecord(backlog.TextOf(entry), entry.length)) abort();
  }
  static char out[8192];
  size_t records = 0;
  uint32_t last = 0;
  const size_t length =
      backlog.Format(out, sizeof out, SIZE_MAX, 1750000000, 0, &records, &last);
  size_t lines = 0;
  for (size_t i = 0; i < length; ++i) lines += out[i] == '\n' ? 1 : 0;
  if (records != backlog.Count() || lines != records) abort();
  return 0;
}
