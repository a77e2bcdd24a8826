// The band configuration (AT+QCFG="band") and the signal quality report (AT+CSQ).
#pragma once

struct GatherContext;

// Each takes a reply as modem_Send hands it over and stores what it holds; 1 when the report was
// found, else 0.
int TakeBandConfig(GatherContext* ctx, const char* reply);
int TakeRssiBer(GatherContext* ctx, const char* reply);
