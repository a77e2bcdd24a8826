// The uptime and wall time an Influx record is made at, stored in the table before it is copied.
#pragma once

#include <cstdint>

class StatusTable;
struct DaemonConfig;

// Stores `uptime` in UpTime_i and `recordTime` in StatusTime_i, which the record then carries;
// nothing when the schema gives no measurement name (no record is made).
void StampInfluxRecord(StatusTable& table, const DaemonConfig& config, int32_t uptime,
                       int64_t recordTime);
