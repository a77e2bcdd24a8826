// The daemon's run-time record: option flags, the threads and the GPS socket, and the addresses of
// the objects `main` owns for the run. Used only inside daemon/.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "config/gather_config.h"
#include "location/gps_listener.h"
#include "platform/uci_api.h"

class ModemBus;
struct ModemPass;
struct ModemSession;
class StopEvent;
class StatusTable;

struct GatherContext {
  StatusTable* statusTable;
  ModemSession* modem;  // the modem steps' state (index, devices, flags); owned by main
  ModemPass* pass;      // what the modem steps work on; owned by main
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
  GpsListener gps;  // what the GPS thread works with
  // Signalled by SIGINT; ends the GPS listener and cuts child runs short. Owned by `main`.
  StopEvent* stop;
  char gpsdTid[16];
  char systemName[16];
  GatherConfig* config;
  // ModemManager over D-Bus when zel.status_gather.modem_access is 'dbus'; null: through mmcli.
  ModemBus* modemBus;
};
