// The daemon's configuration: the zel.status_gather and zel_gpsd options, read once at start-up
// into one record with the defaults and bounds applied.
#pragma once

#include <cstdint>

#include "config/influx_wire.h"
#include "config/modem_access_option.h"

class UciSource;

constexpr int64_t kDefaultPeriod = 60;  // seconds between Influx records
constexpr int64_t kDefaultPoll = 15;    // seconds between status cycles
// Default bounds of the Influx backlog: about 8 hours of 2 KB records at the default period; 1 MB
// of record text, reserved twice (the records and the file's text), and the file under /tmp (a
// RAM file system on the router) while records wait.
constexpr int64_t kDefaultBacklogRecords = 500;
constexpr int64_t kDefaultBacklogKb = 1024;
constexpr int64_t kMostBacklogRecords = 100000;
constexpr int64_t kMostBacklogKb = 65536;

constexpr int kConfigTextSize = 128;

// A value-initialised record is the configuration with no option set.
struct DaemonConfig {
  char influxUrl[kConfigTextSize] = "";
  char influxToken[kConfigTextSize] = "";
  char influxOrg[kConfigTextSize] = "";
  char influxBucket[kConfigTextSize] = "";
  char database[kConfigTextSize] = "";
  char schema[kConfigTextSize] = "";
  char userId[kConfigTextSize] = "";
  char password[kConfigTextSize] = "";
  char account[kConfigTextSize] = "";
  char subAccount[kConfigTextSize] = "";
  char instance[kConfigTextSize] = "";
  char influxCaFile[kConfigTextSize] = "";  // CA bundle for HTTPS posts; empty: libcurl's own
  int64_t period = kDefaultPeriod;  // 0 or missing: the default; negative stays (-p overrides)
  int64_t poll = kDefaultPoll;      // 0 or missing: the default; negative stays
  int64_t backlogRecords = kDefaultBacklogRecords;  // 1 to kMostBacklogRecords
  int64_t backlogKb = kDefaultBacklogKb;            // 1 to kMostBacklogKb
  int64_t influxBatch = 1;                          // records per request, 1 to kMostInfluxBatch
  InfluxCompress influxCompress = InfluxCompress::kGzip;  // kGzip or kNone, never kUnknown
  ModemAccess modemAccess = ModemAccess::kMmcli;          // kMmcli or kDbus, never kUnknown
  QmiAccess qmiAccess = QmiAccess::kQmicli;               // kQmicli or kLibqmi, never kUnknown
  char gpsdTid[16] = "";  // the GPS daemon's tid (at most 15 characters)
  // The unit's serial number (at most 127 characters), which tags the Influx records; not an
  // option: start-up reads it from the router's file after the configuration.
  char serialNumber[256] = "";
};

// Looks up every option (one console line each, secrets masked; a value out of its range is said
// once) and returns the record. Numbers are read as text of at most 9 characters with atoi.
DaemonConfig ReadDaemonConfig(UciSource& uci);

// Records kept for a later post from the configured number: 0 or less means the default, more
// than the most means the most. The same rule for kilobytes.
int64_t BoundBacklogRecords(int64_t configured);
int64_t BoundBacklogKb(int64_t configured);
