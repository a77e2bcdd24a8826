// SIM state and identity: whether the SIM is ready, its ICCID, the IMSI and the modem's firmware
// version. Each is asked on every pass that finds a modem until it succeeds once, then never again
// (the four steps are declared in modem/collectors.h).
#pragma once

struct GatherContext;
struct PatternArea;

// The reply parts of the four steps, fed the reply in area->input (the area otherwise cleared).
// Each returns 1 when the step succeeded (and stored its value), else 0.
int TakeSimStateReply(PatternArea* area);
int TakeIccidReply(GatherContext* ctx, PatternArea* area);
int TakeImsiReply(GatherContext* ctx, PatternArea* area);
int TakeSwVersionReply(GatherContext* ctx, PatternArea* area);

// The same, fed a reply as modem_Send hands it over.
int TakeSimState(GatherContext* ctx, const char* reply);
int TakeIccid(GatherContext* ctx, const char* reply);
int TakeImsi(GatherContext* ctx, const char* reply);
int TakeSwVersion(GatherContext* ctx, const char* reply);
