// The InfluxDB line-protocol record of the status table.
#pragma once

#include <cstddef>

struct GatherContext;

// 1 when a record was built into `buffer`, 0 when not.
int GetInfluxData(GatherContext* ctx, char* buffer, size_t size);
