// The daemon context record and its configuration record. `main` owns one of each for the whole
// run and passes the context's address to both threads and to every cycle and update operation.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "platform/uci_api.h"

class Board;
class ModemBus;
struct ModemSession;
class StopEvent;
struct StatusTable;

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
};

struct GatherContext {
  StatusTable* statusTable;
  ModemSession* modem;  // the modem steps' state (index, devices, flags); owned by main
  struct uci_context* uci;
  struct uci_ptr uciPtr;
  uint8_t printValues;
  uint8_t csvEnabled;
  uint8_t influxEnabled;
  uint8_t jsonEnabled;
  uint8_t debug;
  pthread_t jsonThread;
  char jsonFile[128];
  int gpsSocket;  // -1 when closed
  pthread_t gpsThread;
  // Signalled by SIGINT; ends the GPS listener and cuts child runs short. Owned by `main`.
  StopEvent* stop;
  char gpsdTid[16];
  char systemName[16];
  uint8_t lteUp;
  GatherConfig* config;
  // ModemManager over D-Bus when zel.status_gather.modem_access is 'dbus'; null: through mmcli.
  ModemBus* modemBus;
  // The router's LEDs, fix register and interface names; owned by `main`.
  Board* board;
};
