// Placeholders until the Influx record and post land.
#include "report/influx_post.h"
#include "report/influx_record.h"

int GetInfluxData(GatherContext*, char*, size_t) { return 0; }
int statusPostData(GatherContext*, const char*, int32_t* durationMs, size_t) {
  *durationMs = 0;
  return 0;
}
