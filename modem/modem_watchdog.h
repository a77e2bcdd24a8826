// The modem watchdog: resets a listed modem that has answered on no way at all (no AT key value,
// no property, no QMI reading) once the router has been up for more than 180 seconds, at most once
// per 180 seconds.
#pragma once

#include <cstdint>

#include "modem/modem_manager_link.h"

struct ModemPass;
class StatusTable;
class ModemLifeSigns;

using ModemResetFunction = MmAnswer (*)(ModemPass& pass);
using UptimeFunction = int32_t (*)();

// The daemon builds one with ResetModem and GetUptime; the snapshot writer's thread runs it.
struct ModemWatchdog {
  ModemResetFunction reset;
  UptimeFunction uptime;
  bool answered;  // the modem showed a sign of life: never act again
  bool stopped;   // a reset gave no usable reply: never act again
  bool resetAccepted;
  int32_t lastResetUptime;
};

// True once the modem has answered an AT command (one of its answer entries holds a value).
bool AnsweredAtCommand(const StatusTable& table);

enum class ModemVerdict {
  kAnswered,    // an AT key value, a property or a QMI reading came back
  kNotAskedYet, // no pass has asked the listed modem on every way yet: no judgement
  kSilent,      // asked on every way, answered on none
};
// What the watchdog makes of the modem.
ModemVerdict JudgeModem(const StatusTable& table, const ModemLifeSigns& signs);

// One watchdog step: the modem is judged under the table's lock, the reset (a child that may run
// for seconds) runs without it. `pass` is the daemon's: the reset reads its session's index and
// its way to ModemManager.
void RunModemWatchdog(ModemWatchdog* watchdog, ModemPass& pass);
