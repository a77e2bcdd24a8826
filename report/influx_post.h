// The HTTP(S) post of an Influx record to the version 1 or version 2 write API.
#pragma once

#include <cstddef>
#include <cstdint>

struct GatherContext;

// 1 when the server answered 2xx; `durationMs` gets the post's duration on success, else 0.
int statusPostData(GatherContext* ctx, const char* record, int32_t* durationMs, size_t maxLength);
