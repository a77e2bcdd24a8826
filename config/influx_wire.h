// How Influx records travel: the compression of request bodies and the records per request, as
// read from the zel.status_gather options influx_compress and influx_batch.
#pragma once

#include <cstdint>

constexpr int64_t kMostInfluxBatch = 60;

enum class InfluxCompress { kGzip, kNone, kUnknown };

// "gzip" or empty: kGzip; "none": kNone; anything else: kUnknown (which sends gzip).
InfluxCompress ParseInfluxCompress(const char* text);

// Records per request from the configured value: 0 or less (or missing) means 1, more than
// kMostInfluxBatch means kMostInfluxBatch.
int64_t BoundInfluxBatch(int64_t configured);
