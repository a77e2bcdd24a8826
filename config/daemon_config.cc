#include "config/daemon_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console_text.h"
#include "config/config_lookup.h"

namespace {

// Text options, in the order they are read (and their lines printed).
struct TextOption {
  const char* key;
  char* (*field)(DaemonConfig&);
};

// A number option read as text into a cleared 10-byte buffer; 0 when missing.
int64_t LookupNumber(UciSource& uci, const char* key) {
  char text[10];
  memset(text, 0, sizeof text);
  LookupValue(uci, key, text, sizeof text);
  return static_cast<int64_t>(atoi(text));
}

int64_t BoundOr(int64_t configured, int64_t fallback, int64_t most) {
  if (configured <= 0) return fallback;
  return configured < most ? configured : most;
}

// influx_batch and influx_compress; a value out of their range is said on the console once.
void ReadInfluxWire(UciSource& uci, DaemonConfig* config) {
  const int64_t batch = LookupNumber(uci, "zel.status_gather.influx_batch");
  config->influxBatch = BoundInfluxBatch(batch);
  if (batch > kMostInfluxBatch) {
    printf("influx_batch %lld is more than %lld: using %lld\n", static_cast<long long>(batch),
           static_cast<long long>(kMostInfluxBatch), static_cast<long long>(config->influxBatch));
  }
  char text[16] = "";
  LookupValue(uci, "zel.status_gather.influx_compress", text, sizeof text);
  config->influxCompress = ParseInfluxCompress(text);
  if (config->influxCompress == InfluxCompress::kUnknown) {
    PrintOutsideText(stdout, "influx_compress '%s' is not 'gzip' or 'none': using gzip\n", text);
    config->influxCompress = InfluxCompress::kGzip;
  }
}

// An option naming a way to the modem: `name` under zel.status_gather, read by `parse`. A value
// that names no way is said on the console once and read as the first of the two names.
template <typename Way>
Way ReadWay(UciSource& uci, const char* name, Way (*parse)(const char*), const char* first,
            const char* second) {
  char key[64];
  snprintf(key, sizeof key, "zel.status_gather.%s", name);
  char text[16] = "";
  LookupValue(uci, key, text, sizeof text);
  const Way way = parse(text);
  if (way != Way::kUnknown) return way;
  PrintOutsideText(stdout, "%s '%s' is not '%s' or '%s': using %s\n", name, text, first, second,
                   first);
  return parse(first);
}

}  // namespace

int64_t BoundBacklogRecords(int64_t configured) {
  return BoundOr(configured, kDefaultBacklogRecords, kMostBacklogRecords);
}

int64_t BoundBacklogKb(int64_t configured) {
  return BoundOr(configured, kDefaultBacklogKb, kMostBacklogKb);
}

DaemonConfig ReadDaemonConfig(UciSource& uci) {
  static const TextOption kTextOptions[] = {
      {"zel.status_gather.influx_url", [](DaemonConfig& c) { return c.influxUrl; }},
      {"zel.status_gather.influx_token", [](DaemonConfig& c) { return c.influxToken; }},
      {"zel.status_gather.influx_org", [](DaemonConfig& c) { return c.influxOrg; }},
      {"zel.status_gather.influx_bucket", [](DaemonConfig& c) { return c.influxBucket; }},
      {"zel.status_gather.database", [](DaemonConfig& c) { return c.database; }},
      {"zel.status_gather.schema", [](DaemonConfig& c) { return c.schema; }},
      {"zel.status_gather.userid", [](DaemonConfig& c) { return c.userId; }},
      {"zel.status_gather.password", [](DaemonConfig& c) { return c.password; }},
      {"zel.status_gather.account", [](DaemonConfig& c) { return c.account; }},
      {"zel.status_gather.sub_account", [](DaemonConfig& c) { return c.subAccount; }},
      {"zel.status_gather.instance", [](DaemonConfig& c) { return c.instance; }},
      {"zel.status_gather.influx_ca_file", [](DaemonConfig& c) { return c.influxCaFile; }},
  };
  DaemonConfig config;
  for (const TextOption& option : kTextOptions) {
    LookupValue(uci, option.key, option.field(config), kConfigTextSize);
  }
  config.period = LookupNumber(uci, "zel.status_gather.period");
  if (config.period == 0) config.period = kDefaultPeriod;
  config.poll = LookupNumber(uci, "zel.status_gather.poll");
  if (config.poll == 0) config.poll = kDefaultPoll;
  config.backlogRecords = BoundBacklogRecords(LookupNumber(uci, "zel.status_gather.backlog_records"));
  config.backlogKb = BoundBacklogKb(LookupNumber(uci, "zel.status_gather.backlog_kb"));
  ReadInfluxWire(uci, &config);
  if (!LookupValue(uci, "zel_gpsd.gpsd.tid", config.gpsdTid, sizeof config.gpsdTid)) {
    LookupValue(uci, "zel_gpsd.@gpsd[0].tid", config.gpsdTid, sizeof config.gpsdTid);
  }
  config.modemAccess = ReadWay(uci, "modem_access", ParseModemAccess, "mmcli", "dbus");
  config.qmiAccess = ReadWay(uci, "qmi_access", ParseQmiAccess, "qmicli", "libqmi");
  return config;
}
