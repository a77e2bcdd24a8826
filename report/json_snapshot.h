// The JSON snapshot of the status table and its writer thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "report/append_text.h"
#include "status/status_table.h"

constexpr size_t kJsonBufferSize = 16384;  // the writer's render buffer
constexpr size_t kJsonRenderSize = 16382;  // the size GetJsonData is told

// Renders the copy `table` into `buffer` (`size` usable bytes). The document is always whole: an
// entry that does not fit is left out whole. Returns the index of the first entry left out, or -1
// when every entry fit.
int GetJsonData(const StatusSnapshot& table, char* buffer, size_t size, int64_t now);

// Thread body (`writer` is a JsonWriter*): rewrites the snapshot file about every 5 seconds until
// stopRequested.
void* RunJsonWriterThread(void* writer);

// The writer's decision at `now`, given the time of the last successful write and the table's
// last change. The three differences are stored for the debug lines.
enum class JsonWriteDecision {
  kTooSoon,     // less than 5 seconds since the last write
  kClockBehind,  // a change is stamped before the last write (the clock stepped back): wait, at
                 // most 30 seconds after the last write
  kWrite,
};
struct JsonWriteGaps {
  int64_t sinceWrite;
  int64_t sinceChange;
  int64_t changeGap;
};
JsonWriteDecision DecideJsonWrite(int64_t now, int64_t lastWrite, int64_t tableLastChange,
                                  JsonWriteGaps* gaps);

// A step run after every render, without the table's lock; `owner` is the step's own state.
using AfterRenderStep = void (*)(void* owner);

// The writer thread's state between passes.
struct JsonWriter {
  StatusTable* table;
  const char* path;      // the snapshot file (-j)
  bool debug;            // -d: each decision is traced
  int64_t lastWrite;     // time of the last successful rename, 0 at start
  // The table's change count at that rename: later changes are the ones the file lacks.
  uint64_t changesWritten;
  bool leftOutReported;  // the notice of entries left out was given since the last whole render
  AfterRenderStep afterRender;  // none: nothing runs after a render
  void* afterRenderOwner;
  StatusSnapshot copy;  // the table as the latest pass copied it
};
// A writer of `table` into the file at `path` with no after-render step.
void InitJsonWriter(JsonWriter* writer, StatusTable* table, const char* path, bool debug);

// One pass of the writer at `now` (seconds since the epoch): copies the table, decides, renders
// the copy, writes the temporary file and renames it over the snapshot; then, when it rendered,
// runs the after-render step. Returns 1 when the snapshot was replaced, 0
// otherwise.
int SaveJsonPass(JsonWriter* writer, int64_t now);
