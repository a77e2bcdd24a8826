#include "daemon/record_stamp.h"

#include <cinttypes>
#include <cstdio>

#include "config/daemon_config.h"
#include "report/influx_record.h"
#include "status/status_table.h"

void StampInfluxRecord(StatusTable& table, const DaemonConfig& config, int32_t uptime,
                       int64_t recordTime) {
  if (!InfluxRecordWanted(config)) return;
  table.UpdateLong(kUpTime_i, static_cast<long>(uptime));
  char text[24];
  snprintf(text, sizeof text, "%" PRId64, recordTime);
  table.Update(kStatusTime_i, text);
}
