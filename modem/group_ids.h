// The SIM's group identifiers (AT+QGID), asked once per daemon run.
#pragma once

struct GatherContext;

// Takes a group-identifier reply as modem_Send hands it over and stores GID1 and GID2.
void TakeGroupIds(GatherContext* ctx, const char* reply);
