#include "config/influx_wire.h"

#include <cstring>

InfluxCompress ParseInfluxCompress(const char* text) {
  if (text[0] == '\0' || strcmp(text, "gzip") == 0) return InfluxCompress::kGzip;
  if (strcmp(text, "none") == 0) return InfluxCompress::kNone;
  return InfluxCompress::kUnknown;
}

int64_t BoundInfluxBatch(int64_t configured) {
  if (configured <= 0) return 1;
  return configured < kMostInfluxBatch ? configured : kMostInfluxBatch;
}
