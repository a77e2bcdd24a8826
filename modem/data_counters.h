// The modem's own data counters (AT+QGDCNT?).
#pragma once

struct GatherContext;

// Takes a counter reply as modem_Send hands it over and stores the sent and received bytes.
void TakeRxTxBytes(GatherContext* ctx, const char* reply);
