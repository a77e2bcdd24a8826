// The daemon's configuration record: the Influx settings, the poll and record periods, the backlog
// bounds and the unit's identity texts, filled by start-up and read-only afterwards.
#pragma once

#include <cstdint>

struct GatherConfig {
  char influxUrl[128];
  char influxToken[128];
  char influxOrg[128];
  char influxBucket[128];
  char database[128];
  char schema[128];
  char userId[128];
  char password[128];
  char account[128];
  char subAccount[128];
  char instance[128];
  int64_t period;  // seconds between Influx records, default 60
  int64_t poll;    // seconds between status cycles, default 15
  char serialNumber[256];
  char linuxVersion[128];
  char influxCaFile[128];  // CA bundle for HTTPS posts; empty: libcurl's default bundle
  int64_t backlogRecords;  // most records kept for a later post
  int64_t backlogKb;       // most kilobytes of record text kept
  int64_t influxBatch;     // records per request, 1 to 60 (influx_batch)
  uint8_t influxGzip;      // 1: request bodies gzip-compressed (influx_compress 'gzip')
  char gpsdTid[16];        // the GPS daemon's tracker id (zel_gpsd)
};
