// The JSON snapshot of the status table, its writer thread and the modem watchdog it carries.
#pragma once

#include <cstddef>
#include <cstdint>

struct GatherContext;

// Bounded append: writes `piece` at *pos only when it fits with a byte to spare before `end`,
// then terminates; a piece that does not fit is skipped whole. Returns 1 when written.
int AppendText(char** pos, const char* end, const char* piece, size_t length);

// Renders the snapshot into `buffer` (`size` usable bytes) and runs the modem watchdog. The caller
// holds the status lock.
void GetJsonData(GatherContext* ctx, char* buffer, size_t size, int64_t now);

// Thread body: rewrites the snapshot file about every 5 seconds until stopRequested.
void* saveJson(void* ctx);
