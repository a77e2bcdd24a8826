// The modem watchdog: resets the modem through ModemManager while it has never delivered a key
// value and the router has been up for more than 180 seconds, at most once per 180 seconds.
#pragma once

#include <cstdint>

struct GatherContext;
struct StatusTable;

using ModemResetFunction = int (*)(GatherContext* ctx);
using UptimeFunction = int32_t (*)();

// The daemon builds one with modem_Reset and GetUptime; the snapshot writer's thread runs it.
struct ModemWatchdog {
  ModemResetFunction reset;
  UptimeFunction uptime;
  bool answered;  // the modem delivered a key value: never act again
  bool stopped;   // a reset gave no usable reply: never act again
  bool resetAccepted;
  int32_t lastResetUptime;
};

// 1 once the modem has answered an AT command (one of its answer entries holds a value). The
// caller holds the table's lock.
int validATResponse(const StatusTable* table);

// One watchdog step: the key values are checked under the table's lock, the reset (a child that
// may run for seconds) runs without it.
void RunModemWatchdog(ModemWatchdog* watchdog, GatherContext* ctx);
