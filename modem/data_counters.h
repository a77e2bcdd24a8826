// The modem's own data counters (AT+QGDCNT?).
#pragma once

struct GatherContext;

// Takes a counter reply as modem_Send hands it over and stores the sent and received bytes.
// Returns 1 when stored, else 0.
int TakeRxTxBytes(GatherContext* ctx, const char* reply);
