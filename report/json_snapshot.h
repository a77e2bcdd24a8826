// The JSON snapshot of the status table, its writer thread and the modem watchdog it carries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "report/append_text.h"

struct GatherContext;

constexpr size_t kJsonBufferSize = 16384;  // the writer's render buffer
constexpr size_t kJsonRenderSize = 16382;  // the size GetJsonData is told

// Renders the snapshot into `buffer` (`size` usable bytes) and runs the modem watchdog. The caller
// holds the status lock. The document is always whole: an entry that does not fit is left out
// whole. Returns the index of the first entry left out, or -1 when every entry fit.
int GetJsonData(GatherContext* ctx, char* buffer, size_t size, int64_t now);

// Thread body: rewrites the snapshot file about every 5 seconds until stopRequested.
void* saveJson(void* ctx);

// The writer's decision at `now`, given the time of the last successful write and the table's
// last change. The three differences are stored for the debug lines.
enum class JsonWriteDecision {
  kNotYet1,  // less than 5 seconds since the last write
  kNotYet2,  // clock stepped back: a change is older than the last write (at most 30 s)
  kWrite,
};
struct JsonWriteGaps {
  int64_t sinceWrite;
  int64_t sinceChange;
  int64_t changeGap;
};
JsonWriteDecision DecideJsonWrite(int64_t now, int64_t lastWrite, int64_t tableLastChange,
                                  JsonWriteGaps* gaps);

// The writer thread's state between passes.
struct JsonWriter {
  GatherContext* ctx;
  int64_t lastWrite;     // time of the last successful rename, 0 at start
  bool leftOutReported;  // the notice of entries left out was given since the last whole render
};
void InitJsonWriter(JsonWriter* writer, GatherContext* ctx);

// One pass of the writer at `now` (seconds since the epoch): takes the status lock, decides,
// renders, writes the temporary file and renames it over the snapshot. Returns 1 when the
// snapshot was replaced, 0 otherwise.
int SaveJsonPass(JsonWriter* writer, int64_t now);
