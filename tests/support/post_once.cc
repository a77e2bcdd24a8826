#include "tests/support/post_once.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "config/daemon_config.h"
#include "report/influx_post.h"

int PostRecordOnce(const DaemonConfig& config, bool debug, const char* record, int32_t* durationMs,
                   size_t maxLength, MonotonicReader monotonic) {
  *durationMs = 0;
  InfluxRequest request;
  if (!BuildInfluxRequest(config, &request)) return 0;
  const size_t length = strnlen(record, maxLength);
  PostOptions options;
  options.caFile = config.influxCaFile;
  options.debug = debug;
  options.compress = config.influxCompress == InfluxCompress::kGzip;
  options.clock = monotonic;
  PostResult result;
  PostInflux(request, record, length, options, &result);
  if (result.outcome == PostOutcome::kSent) {
    *durationMs = result.durationMs;
    return 1;
  }
  const bool ends_line = length > 0 && record[length - 1] == '\n';
  WriteEscaped(stderr, record, ends_line ? length - 1 : length);
  fputs(ends_line ? "\n\n" : "\n", stderr);
  return 0;
}
