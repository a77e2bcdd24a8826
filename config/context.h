// The daemon context record. `main` owns it for the whole run and passes its address to both
// threads and to every cycle and update operation.
#pragma once

#include <pthread.h>

#include <cstdint>

struct DaemonConfig;
class ModemBus;
struct NetworkOptions;
struct ModemSession;
class StopEvent;
struct StatusTable;
class UciSource;

struct GatherContext {
  StatusTable* statusTable;
  ModemSession* modem;  // the modem steps' state (index, devices, flags); owned by main
  UciSource* uci;  // the configuration, open for the run; owned by main
  // The network options of the current status cycle, read by the main loop before each cycle.
  const NetworkOptions* network;
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
  char systemName[16];
  uint8_t lteUp;
  DaemonConfig* config;  // owned by main
  // ModemManager over D-Bus when zel.status_gather.modem_access is 'dbus'; null: through mmcli.
  ModemBus* modemBus;
};
