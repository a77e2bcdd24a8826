// The band configuration (AT+QCFG="band") and the signal quality report (AT+CSQ).
#pragma once

struct GatherContext;

// Each takes a reply as modem_Send hands it over and stores what it holds.
void TakeBandConfig(GatherContext* ctx, const char* reply);
void TakeRssiBer(GatherContext* ctx, const char* reply);
