// The SIM's group identifiers (AT+QGID), asked once per daemon run.
#pragma once

struct GatherContext;

// Takes a group-identifier reply as modem_Send hands it over and stores GID1 and GID2; 1 when
// stored, else 0.
int TakeGroupIds(GatherContext* ctx, const char* reply);
