// The InfluxDB line-protocol record of the status table.
#pragma once

#include <cstddef>
#include <cstdint>

struct GatherContext;

// 1 when a record was built into `buffer`, 0 when not.
int GetInfluxData(GatherContext* ctx, char* buffer, size_t size);

// Time source of the record (seconds since the epoch); tests may replace it. nullptr restores
// time().
using InfluxClock = int64_t (*)();
void SetInfluxClock(InfluxClock clock);

// Starts the record counter at 0 again and forgets which entries were reported as left out
// (tests).
void ResetInfluxRecord();
