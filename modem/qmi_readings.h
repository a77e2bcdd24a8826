// The QMI radio readings (transmit and receive chains, carrier aggregation band, signal report)
// and the home network reported by the router's script.
#pragma once

struct Collector;
struct GatherContext;

// Each takes the client's output as it lands in qmiResult and stores what it holds.
// Returns 1 when a transmit power was stored (and kept in the session's lastTxPower), else 0.
int TakeTxRxInfo(GatherContext* ctx, const char* output);
// Returns 1 when the secondary cell's band was stored, else 0.
int TakeCAInfo(GatherContext* ctx, const char* output);
// Each returns 1 when it stored its values, else 0.
int TakeSignalInfo(GatherContext* ctx, const char* output);
int TakeHomeNetwork(GatherContext* ctx, const char* output);

// Runs the router's home-network script into the session's QMI buffer (cleared first); the
// buffer when the script printed something, else nullptr.
const char* AskHomeNetwork(GatherContext* ctx, const Collector& row, char* reply);

// 1 when a QMI client output is the client's own error report ("error: ...") rather than an
// answer; such output stores nothing.
int QmiOutputIsError(const char* output);
