// One Influx post of a record on a fresh connection, for tests of the request and its outcomes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/clock.h"

struct DaemonConfig;

// Posts `record` as it is. 1 when the server answered 2xx; `durationMs` gets the post's duration
// on success, else 0. On failure the record is echoed on standard error.
// The duration is measured on `monotonic`.
int PostRecordOnce(const DaemonConfig& config, bool debug, const char* record, int32_t* durationMs,
                   size_t maxLength, MonotonicReader monotonic = SystemMonotonic);
