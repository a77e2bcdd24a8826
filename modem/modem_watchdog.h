// The modem watchdog that runs after every snapshot render: resets the modem through ModemManager
// while it has never delivered a key value and the router has been up for more than 180 seconds,
// at most once per 180 seconds.
#pragma once

#include <cstdint>

struct GatherContext;

// Set once and never cleared: the modem delivered a key value / a reset gave no usable reply.
// Touched only by the snapshot writer thread.
extern uint8_t modemAnswered;
extern uint8_t stopResets;

// One watchdog step. The caller holds the status lock (the key values are read unlocked).
void RunModemWatchdog(GatherContext* ctx);

// The reset and the uptime the watchdog uses (modem_Reset and GetUptime); tests inject their own.
// nullptr restores the default.
using ModemResetFunction = int (*)(GatherContext* ctx);
using UptimeFunction = int32_t (*)();
void SetModemWatchdogHooks(ModemResetFunction reset, UptimeFunction uptime);

// Back to armed (tests).
void ResetModemWatchdog();
