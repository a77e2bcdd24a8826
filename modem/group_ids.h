// The SIM's group identifiers (AT+QGID), asked once per daemon run.
#pragma once

#include <cstdint>

struct GatherContext;

// Set at the end of the first GetGroupIds call and never cleared; tests may clear it.
extern uint8_t gidQueried;

// Takes a group-identifier reply as modem_Send hands it over and stores GID1 and GID2.
void ParseGroupIds(GatherContext* ctx, const char* reply);
